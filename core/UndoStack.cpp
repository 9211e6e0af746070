// The undo stack: what a transaction records, and how it is made again.
#include "UndoStack.h"

#include "ChangeBatch.h"
#include "DebugStream.h"
#include "Dependencies.h"
#include "ExplicitRef.h"
#include "ExplicitRefMap.h"
#include "Node.h"
#include "PropertyMap.h"

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

namespace {
using Targets = std::vector<WeakPtr<Node>>;

Targets TargetsOf(IExplicitRef const& p_ref) {
    Targets targets;
    for (Ptr<Node> const& node : p_ref.GetReferencees()) {
        targets.emplace_back(node);
    }
    return targets;
}

bool Same(Targets const& p_one, Targets const& p_other) {
    if (p_one.size() != p_other.size()) {
        return false;
    }
    for (std::size_t i = 0; i < p_one.size(); ++i) {
        if (p_one[i].Weak().owner_before(p_other[i].Weak()) || p_other[i].Weak().owner_before(p_one[i].Weak())) {
            return false;
        }
    }
    return true;
}

void ReportQuietly(std::string const& p_text) noexcept {
    try {
        ReportEnsure(p_text.c_str());
    } catch (...) {
        // Reported; the caller goes on.
    }
}

std::string What(std::exception_ptr const& p_error) {
    try {
        std::rethrow_exception(p_error);
    } catch (std::exception const& e) {
        return e.what();
    } catch (...) {
        return "an exception of an unknown type";
    }
}
}  // namespace

// The targets of `p_ref` become `p_targets`. The library's references are
// set through their own class's calls, so that a typed reference's links,
// recorded as changes of their own, are not made twice.
void SetTargets(IExplicitRef& p_ref, Targets const& p_targets) {
    if (ExplicitRef* const one = dynamic_cast<ExplicitRef*>(&p_ref)) {
        one->ExplicitRef::Clear();
        for (WeakPtr<Node> const& target : p_targets) {
            if (!target.Expired()) {
                one->ExplicitRef::Attach(target.Lock());
            }
        }
    } else if (ExplicitRefList* const list = dynamic_cast<ExplicitRefList*>(&p_ref)) {
        list->ExplicitRefList::Clear();
        for (WeakPtr<Node> const& target : p_targets) {
            if (!target.Expired()) {
                list->ExplicitRefList::Attach(target.Lock());
            }
        }
    } else {
        p_ref.Clear();
        for (WeakPtr<Node> const& target : p_targets) {
            if (!target.Expired()) {
                p_ref.Attach(target.Lock());
            }
        }
    }
}

// The raw index of the live entry at `p_position` among the live ones (the
// list's end when there are fewer).
std::size_t RawIndex(Dependencies const& p_list, std::size_t p_position) {
    std::size_t live = 0;
    for (std::size_t i = 0; i < p_list.Size(); ++i) {
        if (!p_list.Begin()[i].Expired() && live++ == p_position) {
            return i;
        }
    }
    return p_list.Size();
}

// `p_dependent` listed again in `p_source`'s list at `p_position`.
void Relink(Node& p_dependent, Node& p_source, std::size_t p_position) {
    Dependencies& list = p_source.Deps();
    std::size_t const at = RawIndex(list, p_position);
    LinkDependent(p_dependent, p_source);
    std::rotate(list.Begin() + at, list.End() - 1, list.End());
}

// The entry at `p_position` unlisted, if it names `p_dependent`.
void Unlink(Node& p_dependent, Node& p_source, std::size_t p_position) {
    Dependencies& list = p_source.Deps();
    std::size_t const at = RawIndex(list, p_position);
    IModifiable::Identifier const id = static_cast<IModifiable const&>(p_dependent).Id();
    if (at == list.Size() || list.Begin()[at] != id) {
        (void)p_dependent.StopDependingOn(p_source);  // not where it was: the first one goes
        return;
    }
    std::size_t first = 0;
    while (list.Begin()[first] != id || list.Begin()[first].Expired()) {
        ++first;
    }
    // The entry goes first among those naming the node, where RemoveLive takes it.
    std::rotate(list.Begin() + first, list.Begin() + at, list.Begin() + at + 1);
    (void)p_dependent.StopDependingOn(p_source);
}

// One recorded change.
struct UndoChange {
    enum class Kind : unsigned char { None, Value, Ref, Link };
    Kind kind = Kind::None;
    bool added = false;                     // Link: made (true) or removed
    std::size_t position = 0;               // Link: of the entry among the live ones
    void* object = nullptr;                 // Value: IProperty; Ref: IExplicitRef
    boost::weak_ptr<IModifiable> lifetime;  // of the object's node (Value, Ref)
    boost::any before;                      // Value: the value; Ref: Targets; Link: the dependent
    boost::any after;                       // Value: the value; Ref: Targets; Link: the source

    // Makes the change again (`p_forwards`) or undoes it, through the ordinary calls.
    void Apply(bool p_forwards) const {
        switch (kind) {
            case Kind::None:
                return;
            case Kind::Value: {
                if (lifetime.expired()) {
                    return;
                }
                IProperty& property = *static_cast<IProperty*>(object);
                boost::any const& value = p_forwards ? after : before;
                if (value.empty()) {
                    property.ResetValue();
                } else {
                    property.SetValue(value);
                }
                return;
            }
            case Kind::Ref: {
                if (lifetime.expired()) {
                    return;
                }
                SetTargets(*static_cast<IExplicitRef*>(object),
                           boost::any_cast<Targets const&>(p_forwards ? after : before));
                return;
            }
            case Kind::Link: {
                WeakPtr<Node> const& dependent = boost::any_cast<WeakPtr<Node> const&>(before);
                WeakPtr<Node> const& source = boost::any_cast<WeakPtr<Node> const&>(after);
                if (dependent.Expired() || source.Expired()) {
                    return;
                }
                Ptr<Node> const from = dependent.Lock();
                Ptr<Node> const to = source.Lock();
                if (added == p_forwards) {
                    Relink(*from, *to, position);
                } else {
                    Unlink(*from, *to, position);
                }
                return;
            }
        }
    }
};

struct UndoEntry {
    std::string text;
    std::vector<UndoChange> changes;
};

struct UndoState {
    std::thread::id thread = std::this_thread::get_id();
    std::deque<UndoEntry> undo;
    std::deque<UndoEntry> redo;
    std::size_t limit = static_cast<std::size_t>(-1);
    // The open transaction.
    int depth = 0;
    std::string text;
    std::vector<UndoChange> pending;
    UndoState* previous = nullptr;  // the recorder open before on this thread
    bool applying = false;          // Undo or Redo runs
    bool closed = false;            // the stack ended

    void Trim() {
        while (undo.size() > limit) {
            undo.pop_front();
        }
    }
};

namespace {
__thread UndoState* t_recorder = nullptr;
__thread int t_rollingBack = 0;

void CheckThread(UndoState const& p_state, char const* p_what) {
    if (p_state.thread != std::this_thread::get_id()) {
        throw std::logic_error(std::string(p_what) + ": the undo stack belongs to another thread");
    }
}

// Undoes (or makes again) the changes [p_first, p_end) in order, backwards
// when undoing; when one throws, makes those done so far the other way again.
void ApplyAll(std::vector<UndoChange> const& p_changes, std::size_t p_first, bool p_forwards) {
    std::size_t const count = p_changes.size() - p_first;
    std::size_t done = 0;
    try {
        for (; done < count; ++done) {
            std::size_t const index = p_forwards ? p_first + done : p_changes.size() - 1 - done;
            p_changes[index].Apply(p_forwards);
        }
    } catch (...) {
        std::exception_ptr const error = std::current_exception();
        // The change that threw may have been half made: it is put back too.
        for (std::size_t back = done + 1; back-- > 0;) {
            std::size_t const index = p_forwards ? p_first + back : p_changes.size() - 1 - back;
            try {
                p_changes[index].Apply(!p_forwards);
            } catch (...) {
                ReportQuietly("UndoStack: a change could not be put back after an edit threw: " +
                              What(std::current_exception()));
            }
        }
        std::rethrow_exception(error);
    }
}
}  // namespace

UndoState* ActiveUndoRecorder() noexcept {
    UndoState* const recorder = t_recorder;
    return recorder != nullptr && t_rollingBack == 0 && !recorder->closed ? recorder : nullptr;
}

void RecordValue(UndoState& p_recorder, IProperty& p_property, boost::weak_ptr<IModifiable> const& p_lifetime,
                 boost::any p_before, boost::any p_after) {
    UndoChange change;
    change.kind = UndoChange::Kind::Value;
    change.object = &p_property;
    change.lifetime = p_lifetime;
    change.before = std::move(p_before);
    change.after = std::move(p_after);
    p_recorder.pending.push_back(std::move(change));
}

void RecordLink(UndoState& p_recorder, Node& p_dependent, Node& p_source, bool p_added, std::size_t p_position) {
    UndoChange change;
    change.kind = UndoChange::Kind::Link;
    change.added = p_added;
    change.position = p_position;
    try {
        change.before = WeakPtr<Node>(p_dependent.SelfPtr());
        change.after = WeakPtr<Node>(p_source.SelfPtr());
    } catch (NullPtrException const&) {
        return;  // a node being made or ended: nothing to put back later
    }
    p_recorder.pending.push_back(std::move(change));
}

std::size_t LivePosition(Dependencies const& p_list, IModifiable const* p_object) {
    IModifiable::Identifier const id = p_object != nullptr ? p_object->Id() : IModifiable::Identifier();
    std::size_t live = 0;
    for (IModifiable::Identifier const& entry : p_list) {
        if (entry.Expired()) {
            continue;
        }
        if (p_object != nullptr && entry == id) {
            return live;
        }
        ++live;
    }
    return live;
}

RefEdit::RefEdit(IExplicitRef& p_ref) : _ref(p_ref), _recorder(ActiveUndoRecorder()), _index(0) {
    if (_recorder != nullptr) {
        // The place is taken now: what the edit's callbacks record comes after it.
        UndoChange change;
        change.kind = UndoChange::Kind::None;
        change.object = &p_ref;
        change.lifetime = p_ref.Id().Lifetime();
        change.before = TargetsOf(p_ref);
        _index = _recorder->pending.size();
        _recorder->pending.push_back(std::move(change));
    }
}

RefEdit::~RefEdit() = default;

void RefEdit::Done() {
    if (_recorder == nullptr || _index >= _recorder->pending.size() || _recorder->pending[_index].object != &_ref) {
        return;  // not recording, or rolled back meanwhile
    }
    UndoChange& change = _recorder->pending[_index];
    Targets after = TargetsOf(_ref);
    if (!Same(boost::any_cast<Targets const&>(change.before), after)) {
        change.after = std::move(after);
        change.kind = UndoChange::Kind::Ref;
    }
}

}  // namespace Private

// ---------------------------------------------------------------------------

UndoStack::Transaction::Transaction(UndoStack& p_stack, std::string p_text)
    : _state(p_stack._state), _start(0), _open(true) {
    Private::UndoState& state = *_state;
    Private::CheckThread(state, "UndoStack::Transaction");
    if (state.applying) {
        throw std::logic_error("UndoStack::Transaction: the stack is undoing or redoing");
    }
    _start = state.pending.size();
    if (state.depth++ == 0) {
        state.text = std::move(p_text);
        state.previous = Private::t_recorder;
        Private::t_recorder = &state;
    }
}

UndoStack::Transaction::~Transaction() {
    if (!_open) {
        return;
    }
    Private::UndoState& state = *_state;
    if (state.thread != std::this_thread::get_id()) {
        Private::ReportQuietly("UndoStack::Transaction: ended on a thread other than its stack's; nothing rolled back");
        return;
    }
    if (!state.closed && state.pending.size() > _start) {
        ++Private::t_rollingBack;
        try {
            ChangeBatch batch;
            for (std::size_t index = state.pending.size(); index-- > _start;) {
                try {
                    state.pending[index].Apply(false);
                } catch (...) {
                    Private::ReportQuietly("UndoStack::Transaction: a change could not be rolled back: " +
                                           Private::What(std::current_exception()));
                }
            }
        } catch (...) {
            Private::ReportQuietly("UndoStack::Transaction: the rollback threw: " +
                                   Private::What(std::current_exception()));
        }
        --Private::t_rollingBack;
    }
    if (state.pending.size() > _start) {
        state.pending.erase(state.pending.begin() + static_cast<std::ptrdiff_t>(_start), state.pending.end());
    }
    if (--state.depth == 0 && !state.closed) {
        Private::t_recorder = state.previous;
        state.previous = nullptr;
    }
}

void UndoStack::Transaction::Commit() {
    if (!_open) {
        throw std::logic_error("UndoStack::Transaction::Commit: the transaction was committed already");
    }
    Private::UndoState& state = *_state;
    Private::CheckThread(state, "UndoStack::Transaction::Commit");
    _open = false;
    if (--state.depth > 0 || state.closed) {
        return;
    }
    Private::t_recorder = state.previous;
    state.previous = nullptr;
    bool recorded = false;
    for (Private::UndoChange const& change : state.pending) {
        recorded = recorded || change.kind != Private::UndoChange::Kind::None;
    }
    if (recorded) {
        state.undo.push_back(Private::UndoEntry{std::move(state.text), std::move(state.pending)});
        state.redo.clear();
        state.Trim();
    }
    state.pending.clear();
    state.text.clear();
}

UndoStack::UndoStack() : _state(std::make_shared<Private::UndoState>()) {}

UndoStack::~UndoStack() {
    Private::UndoState& state = *_state;
    if (state.depth > 0) {
        Private::ReportQuietly("UndoStack: destroyed while a transaction is open; its changes stay");
        if (Private::t_recorder == &state) {
            Private::t_recorder = state.previous;
        }
        state.closed = true;
    }
}

namespace {
bool Move(Private::UndoState& p_state, bool p_forwards, char const* p_what) {
    Private::CheckThread(p_state, p_what);
    if (p_state.depth > 0) {
        throw std::logic_error(std::string(p_what) + ": a transaction of the stack is open");
    }
    if (p_state.applying) {
        throw std::logic_error(std::string(p_what) + ": the stack is undoing or redoing already");
    }
    std::deque<Private::UndoEntry>& from = p_forwards ? p_state.redo : p_state.undo;
    std::deque<Private::UndoEntry>& to = p_forwards ? p_state.undo : p_state.redo;
    if (from.empty()) {
        return false;
    }
    struct Applying {
        Private::UndoState& state;
        ~Applying() { state.applying = false; }
    } const applying{p_state};
    p_state.applying = true;
    ChangeBatch batch;
    Private::ApplyAll(from.back().changes, 0, p_forwards);
    // Made: it moves sides before the batch commits, whose callbacks may throw.
    to.push_back(std::move(from.back()));
    from.pop_back();
    if (p_forwards) {
        p_state.Trim();
    }
    batch.Commit();
    return true;
}
}  // namespace

bool UndoStack::Undo() { return Move(*_state, false, "UndoStack::Undo"); }
bool UndoStack::Redo() { return Move(*_state, true, "UndoStack::Redo"); }
bool UndoStack::CanUndo() const noexcept { return !_state->undo.empty(); }
bool UndoStack::CanRedo() const noexcept { return !_state->redo.empty(); }
std::string UndoStack::UndoText() const { return _state->undo.empty() ? std::string() : _state->undo.back().text; }
std::string UndoStack::RedoText() const { return _state->redo.empty() ? std::string() : _state->redo.back().text; }

void UndoStack::Clear() noexcept {
    _state->undo.clear();
    _state->redo.clear();
}

void UndoStack::SetLimit(std::size_t p_limit) {
    _state->limit = p_limit;
    _state->Trim();
}

std::size_t UndoStack::RecordedChanges() const noexcept {
    std::size_t count = 0;
    for (auto const* side : {&_state->undo, &_state->redo}) {
        for (Private::UndoEntry const& entry : *side) {
            count += entry.changes.size();
        }
    }
    return count;
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
