// Not installed: what the core's node counts and the in-tree benchmarks and
// tests use of the allocation tracker beyond its public interface.
#ifndef QELDEBUG_TRACKERCOMPANION_H
#define QELDEBUG_TRACKERCOMPANION_H

#include "QelDebugExport.h"

#include <cstddef>

namespace qeldebug {
namespace internal {

/// Every block from `allocationtracker::allocate` has, directly in front of
/// it, a companion area of this many bytes, 8-aligned, for what its user
/// must keep beside the block and possibly longer (a node keeps its
/// reference counts there, so that one heap block and one cache line serve
/// both). On a heap that aligns to 16, the companion's last 8 bytes and the
/// block's first 16 share a cache line (a node's identity count and its
/// stamp, which a watcher's check reads together); the block is 8-aligned.
constexpr std::size_t companion_bytes = 40;

/// Marks the companion of `p_block` in use and returns it: from now on the
/// memory stays until both `allocationtracker::deallocate(p_block)` (which
/// counts the block as freed at once) and `release_companion` have been
/// called, in either order. The caller orders the two calls (one thread, or
/// an atomic count between them); they are not synchronised here.
QELDEBUG_API void* hold_companion(void* p_block) noexcept;
/// Ends the use of a companion that `hold_companion` returned.
QELDEBUG_API void release_companion(void* p_companion) noexcept;

/// Freed blocks of up to 512 bytes stay with the thread that freed them (at
/// most 32 MiB per thread) for its next blocks of the same size, and go
/// back to the heap when the thread ends. This gives the calling thread's
/// kept blocks back now, for a caller that measures the heap.
QELDEBUG_API void release_cached() noexcept;

}  // namespace internal
}  // namespace qeldebug

#endif
