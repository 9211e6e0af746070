// What the walk, the node and the batches share: the per-thread flag that a
// touch checks and the walks that a batch's commit runs.
#ifndef QEL_CORE_BATCHHOOKS_H
#define QEL_CORE_BATCHHOOKS_H

#include "ChangeBatch.h"
#include "Node.h"

#include <cstdint>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

/// The batches of this thread while one is open, otherwise null: the one
/// check a touch outside a batch pays.
extern __thread BatchThread* t_openBatch;

/// A touch that a batch defers: true when it was remembered, so that the
/// caller does nothing more. A `Deallocate` is never deferred.
inline bool DeferredByBatch(IModifiable::Change p_change) {
    return __builtin_expect(t_openBatch != nullptr, 0) && p_change != IModifiable::Deallocate;
}

struct BatchTouch;

/// Reaches into the nodes for the batches (defined in ChangeBatch.cpp).
class BatchCommit {
public:
    /// At the commit: `p_node`'s subscribers hear of its first touch, then
    /// the shared walk `p_walk` goes on from it.
    static void Notify(Node& p_node, BatchTouch const& p_touch, std::uint32_t p_walk);
    /// Remembers a touch of `p_node` for the open batch (its first only).
    static void Defer(Node& p_node, IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                      std::string const& p_name, boost::any const& p_value);
};

/// One once-per-object walk from many origins (defined in DependencyWalk.cpp).
/// While it is open, the walks run with its id share one set of reached
/// objects; walks of their own (started by callbacks) keep theirs.
std::uint32_t OpenSharedWalk();
void CloseSharedWalk() noexcept;
/// False when the shared walk `p_walk` reached `p_object` already; marks it reached.
bool ReachInSharedWalk(IModifiable& p_object, std::uint32_t p_walk);
/// The walk from `p_origin` through `p_dependents`, as part of `p_walk`.
void RunSharedWalk(IModifiable& p_origin, Dependencies& p_dependents, IModifiable::ModifiableType p_type,
                   IModifiable::Change p_change, WeakPtr<Node> const& p_originator, std::string const& p_name,
                   boost::any const& p_value, std::uint32_t p_walk);

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
