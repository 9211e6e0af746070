// Addressing a node by the ids of the nodes on the way to it.
#ifndef QEL_CORE_NODEPATH_H
#define QEL_CORE_NODEPATH_H

#include "QelCoreExport.h"

#include "LightArray.h"

#include <boost/operators.hpp>

#include <ostream>

namespace Qel {
namespace Chart {
namespace Core {

/// A sequence of node ids: the last one designates the node, the earlier ones
/// lead to it, so that the path without its last id designates the parent.
/// An empty path is undefined.
///
/// A small value type meant to key ordered containers: equality, a total
/// lexicographic order (a proper prefix orders before every extension of it,
/// the undefined path before every defined one) and printing as ids joined
/// by ".". It costs one pointer; its ids live in one heap block of exactly
/// their number, and every copy, assignment and `Parent()` that has ids to
/// hold allocates such a block.
class QELCORE_API NodePath : public boost::less_than_comparable<NodePath>, public boost::equality_comparable<NodePath> {
public:
    /// An undefined path.
    NodePath();
    /// A copy in storage of exactly the other path's length.
    NodePath(NodePath const& p_other);
    /// Takes over the other path's block; the other path is left undefined.
    NodePath(NodePath&& p_other) noexcept;
    /// A path of a copy of `p_ids`, in order; an empty array gives an undefined path.
    NodePath(Utility::LightArray<int> const& p_ids);  // NOLINT: a path is its ids
    ~NodePath();

    /// Frees the old storage and holds exactly the other path's ids.
    NodePath& operator=(NodePath const& p_other);
    /// Frees the old storage and takes over the other path's block; the other
    /// path is left undefined.
    NodePath& operator=(NodePath&& p_other) noexcept;

    /// Same length and the same id at every position (compared last id first).
    bool operator==(NodePath const& p_other) const;
    /// Lexicographic by signed id; when one path runs out first, the shorter
    /// one is less.
    bool operator<(NodePath const& p_other) const;

    /// The first id; null when undefined.
    int const* Begin() const;
    /// `Begin()` plus `Count()`; null when undefined.
    int const* End() const;
    /// The number of ids; 0 when undefined.
    int Count() const;
    /// True when the path holds at least one id.
    bool IsDefined() const;

    /// The id of the designated node. An undefined path fails the check and
    /// the call ends with `qeldebug::check_failed`.
    int NodeId() const;
    /// All ids but the last; the parent of a one-id path is undefined. An
    /// undefined path fails the check and the call ends with `qeldebug::check_failed`.
    NodePath Parent() const;

private:
    Utility::LightArray<int> _path;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

/// The ids joined by ".", each through the stream's own int formatting
/// (1, 20, -3 print as 1.20.-3); an undefined path prints nothing.
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::NodePath const& p_path);

#endif
