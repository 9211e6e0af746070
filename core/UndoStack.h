// Transactions of edits, and the stack that undoes and redoes them.
#ifndef QEL_CORE_UNDOSTACK_H
#define QEL_CORE_UNDOSTACK_H

#include "IModifiable.h"
#include "Ptr.h"
#include "QelCoreExport.h"

#include <boost/any.hpp>
#include <boost/weak_ptr.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {

class Dependencies;
class IExplicitRef;
class IProperty;
class Node;

namespace Private {
struct UndoState;

/// The transaction that records the edits made on this thread, or null.
QELCORE_API UndoState* ActiveUndoRecorder() noexcept;
/// Records that `p_property` (of the node whose lifetime is `p_lifetime`)
/// goes from `p_before` to `p_after` (empty: undefined).
QELCORE_API void RecordValue(UndoState& p_recorder, IProperty& p_property,
                             boost::weak_ptr<IModifiable> const& p_lifetime, boost::any p_before, boost::any p_after);
/// Records that `p_dependent` became (`p_added`) or stopped being a
/// dependent of `p_source`, by the entry at `p_position` among the live
/// entries of `p_source`'s list.
QELCORE_API void RecordLink(UndoState& p_recorder, Node& p_dependent, Node& p_source, bool p_added,
                            std::size_t p_position);
/// The position among the live entries of `p_list` of the first live entry
/// naming `p_object`; with null, the number of live entries.
QELCORE_API std::size_t LivePosition(Dependencies const& p_list, IModifiable const* p_object);

/// Records one edit of a reference: its targets before the edit and, at
/// `Done`, after it. Nothing is recorded when the edit throws.
class QELCORE_API RefEdit {
public:
    explicit RefEdit(IExplicitRef& p_ref);
    ~RefEdit();
    RefEdit(RefEdit const&) = delete;
    RefEdit& operator=(RefEdit const&) = delete;
    void Done();

private:
    IExplicitRef& _ref;
    UndoState* _recorder;
    std::size_t _index;
};
}  // namespace Private

/// The undo history of a model. While a transaction of the stack is open,
/// it records every change made on the stack's thread through the library
/// to any node: property values (defined or undefined), the targets of
/// explicit references (typed ones included) and dependency links made with
/// `Node::DependOn` and `Node::StopDependingOn`. It holds the nodes weakly;
/// their creation and end are not recorded, and a change of a node that has
/// ended is skipped when undone or redone.
///
/// `Undo` and `Redo` make the recorded changes again, backwards or
/// forwards, through the ordinary calls and inside one `ChangeBatch`, so
/// that watchers, callbacks and dependents see them as any edit. Not
/// thread-safe: a stack is used on the thread that made it.
class QELCORE_API UndoStack {
public:
    /// Records while it is open; transactions nest, and inner ones fold into
    /// the outermost, whose text the stack shows. Destroyed without
    /// `Commit`, it rolls back: what it recorded is undone, in reverse
    /// order, and nothing is added to the stack.
    class QELCORE_API Transaction {
    public:
        /// Opens a transaction of `p_stack`. Throws `std::logic_error` on a
        /// thread other than the stack's, or while the stack undoes or redoes.
        Transaction(UndoStack& p_stack, std::string p_text);
        /// Rolls back when not committed. Never throws: what a rollback
        /// throws is reported through `ensure`.
        ~Transaction();
        Transaction(Transaction const&) = delete;
        Transaction& operator=(Transaction const&) = delete;

        /// Ends the transaction; the outermost one adds what was recorded
        /// (if anything) to the stack and clears its redo side. A second
        /// `Commit`, or one on another thread, throws `std::logic_error`.
        void Commit();

    private:
        std::shared_ptr<Private::UndoState> _state;
        std::size_t _start;
        bool _open;
    };

    UndoStack();
    /// A transaction still open is reported through `ensure` and records
    /// nothing more; what it changed stays.
    ~UndoStack();
    UndoStack(UndoStack const&) = delete;
    UndoStack& operator=(UndoStack const&) = delete;

    /// Undoes the last committed transaction; false when there is none.
    /// Throws `std::logic_error` while a transaction of the stack is open,
    /// during an `Undo` or `Redo`, or on another thread. When an edit throws
    /// (a `TouchThis` override), the edits undone so far are made again and
    /// the exception passes on: the transaction stays to be undone. What
    /// callbacks throw when the batch commits passes on once the
    /// transaction is fully undone (it then waits to be redone).
    bool Undo();
    /// Redoes the last undone transaction; the same rules.
    bool Redo();
    bool CanUndo() const noexcept;
    bool CanRedo() const noexcept;
    /// The text of what `Undo` would undo, "" when nothing.
    std::string UndoText() const;
    std::string RedoText() const;
    /// Forgets every transaction (one that is open goes on recording).
    void Clear() noexcept;
    /// Keeps at most `p_limit` transactions to undo, dropping the oldest
    /// (default: no limit).
    void SetLimit(std::size_t p_limit);
    /// Changes recorded by the transactions to undo and to redo.
    std::size_t RecordedChanges() const noexcept;

private:
    std::shared_ptr<Private::UndoState> _state;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
