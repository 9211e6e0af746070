// Edits whose propagation waits until they are all made.
#ifndef QEL_CORE_CHANGEBATCH_H
#define QEL_CORE_CHANGEBATCH_H

#include "IModifiable.h"
#include "QelCoreExport.h"

namespace Qel {
namespace Chart {
namespace Core {

namespace Private {
struct BatchThread;

/// For `Property<T>`: while a batch is open on this thread, remembers that
/// the property `p_property` changed (its first change in the batch only)
/// and returns true; `p_call` then calls its subscribers when the batch
/// commits. False, remembering nothing, when no batch is open.
QELCORE_API bool DeferChanged(IModifiable::Identifier const& p_property, void (*p_call)(IModifiable&));
}  // namespace Private

/// Groups edits, as an application does when it sets many properties at
/// once. While a batch is open on a thread, a touch of an object made on
/// that thread (`Set`, an `Update` that changes, `SetValue`, `ResetValue`,
/// `Touch`, `Attach`, `Detach`, `Clear`) stamps the object at once and
/// defers the rest: the walk to its dependents and the `OnTouched` and
/// `OnChanged` callbacks. When the outermost batch commits, one walk runs
/// from the objects touched, in the order they were first touched, once per
/// object across the whole batch: the objects touched count as reached, and
/// every other object that they reach is touched exactly once, with the
/// event of the first touch that reaches it. Each touched node's `OnTouched`
/// runs once, with its first touch, before the walk goes on from it; each
/// changed property's `OnChanged` runs once, with its final value, in the
/// order the properties first changed, after the walk.
///
/// The end of a node is never deferred: its `Deallocate` walks at once, and
/// objects that end during the batch are skipped when it commits.
///
/// Batches nest (inner ones fold into the outermost) and close in the
/// reverse order of opening, on the thread that opened them. A touch made
/// by a callback during the commit propagates at once, as outside a batch.
class QELCORE_API ChangeBatch {
public:
    /// Opens a batch on this thread.
    ChangeBatch();
    /// Commits the batch if it is still open. Never throws: an exception
    /// of a callback, or a batch closed on another thread, is reported
    /// through `ensure` and kept inside.
    ~ChangeBatch();
    ChangeBatch(ChangeBatch const&) = delete;
    ChangeBatch& operator=(ChangeBatch const&) = delete;

    /// Closes the batch; the outermost one runs what was deferred. Throws
    /// what a `TouchThis` or a callback throws: the walk stops there, as an
    /// unbatched one does, and what it did not reach stays unreached (the
    /// batch is closed all the same). A batch committed already, or closed on
    /// a thread other than its own, throws `std::logic_error` and changes
    /// nothing.
    void Commit();
    /// True until the batch is committed.
    bool Active() const noexcept { return _active; }

private:
    Private::BatchThread* _thread;
    bool _active;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
