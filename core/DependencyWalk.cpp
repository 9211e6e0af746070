// Propagation: the depth-first walk over dependents lists, the touch that
// starts it, and the per-thread propagation choice.
#include "BatchHooks.h"
#include "Growable.h"
#include "Node.h"
#include "NodeInternals.h"
#include "Propagation.h"
#include "ReportTexts.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Qel {
namespace Chart {
namespace Core {

// Node::TouchThis (at the end of this file) with a relationship other than Self.
inline bool Node::TouchAsDependent(IModifiable::ModifiableType type, IModifiable::Change change,
                                   IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator,
                                   std::string const& name, boost::any const& value) {
    _time.Touch();
    if (__builtin_expect(static_cast<bool>(Modifiable<0>::_subscribed), 0)) {
        TouchSubscribed(type, change, relationship, p_originator, name, value);
        return false;
    }
    return true;
}

namespace Private {

// The depth-first walk over dependents lists. Instead of recursing once per
// level it keeps the current path as frames on a per-thread stack, which is
// reused by every walk on the thread (nested walks started from a TouchThis
// push above the frames of the walk that called them).
class DependencyWalk {
public:
    static void Run(IModifiable* p_origin, Dependencies& p_dependents, IModifiable::ModifiableType p_type,
                    IModifiable::Change p_change, IModifiable::Relationship const& p_relationship,
                    WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value,
                    std::uint32_t p_sharedWalk = 0);

    struct Frame {
        IModifiable::Identifier* entries;  // the list's block, fixed when the frame starts
        Dependencies* owner;               // not read once the block is orphaned
        std::uint32_t next;
        std::uint32_t count;
        IModifiable::Relationship relationship;  // given to every entry of this list
        bool expiredSeen;
        bool marked;  // this frame marked the block; an enclosing walk's frame did otherwise
    };
    using Block = Utility::LightArray<IModifiable::Identifier>;
    using Stack = Growable<Frame>;

private:
    // The cross-cast from a dependent to its tracker is the costliest step
    // of the walk. Its answer depends only on the object's dynamic type,
    // which the vtable pointer of its IModifiable part identifies, so the
    // walk remembers the offset per vtable (a few types per walk at most)
    // and gives exactly what dynamic_cast gives.
    class TrackerCasts {
    public:
        // `p_object` as a node, or null when it is none.
        Node* NodeOf(IModifiable* p_object) {
            Entry const& entry = Find(p_object);
            return entry.kind == Kind::Node ? Apply<Node>(p_object, entry.offset) : nullptr;
        }

        // The dependents list of `p_object`, or null when it is no tracker.
        // The list of a node whose class keeps Node's Deps is read in place.
        Dependencies* ListOf(IModifiable* p_object) {
            Entry const& entry = Find(p_object);
            if (entry.kind == Kind::Node) {
                return &Apply<Node>(p_object, entry.offset)->WalkedDeps();
            }
            if (entry.kind == Kind::Tracker) {
                return &Apply<IDependencyTracker>(p_object, entry.offset)->Deps();
            }
            return nullptr;
        }

    private:
        enum class Kind : unsigned char { None, Tracker, Node };
        struct Entry {
            void const* vtable;
            std::ptrdiff_t offset;  // from the IModifiable part to the node or the tracker
            Kind kind;
        };
        static constexpr std::size_t kSize = 4;

        Entry const& Find(IModifiable* p_object) {
            void const* const vtable = VtableOf(p_object);
            for (std::size_t i = 0; i < _used; ++i) {
                if (_entries[i].vtable == vtable) {
                    return _entries[i];
                }
            }
            Entry& entry = _entries[_used < kSize ? _used++ : (_next++ % kSize)];
            entry.vtable = vtable;
            if (Node* const node = dynamic_cast<Node*>(p_object)) {
                entry.kind = Kind::Node;
                entry.offset = reinterpret_cast<char*>(node) - reinterpret_cast<char*>(p_object);
            } else if (IDependencyTracker* const tracker = dynamic_cast<IDependencyTracker*>(p_object)) {
                entry.kind = Kind::Tracker;
                entry.offset = reinterpret_cast<char*>(tracker) - reinterpret_cast<char*>(p_object);
            } else {
                entry.kind = Kind::None;
                entry.offset = 0;
            }
            return entry;
        }

        static void const* VtableOf(IModifiable const* p_object) {
            void const* vtable = nullptr;
            std::memcpy(&vtable, static_cast<void const*>(p_object), sizeof vtable);
            return vtable;
        }
        template <class T>
        static T* Apply(IModifiable* p_object, std::ptrdiff_t p_offset) {
            return reinterpret_cast<T*>(reinterpret_cast<char*>(p_object) + p_offset);
        }

        Entry _entries[kSize];
        std::size_t _used = 0;
        std::size_t _next = 0;
    };

    // Takes the entries from the frame's cursor on while they are expired
    // (noted for the squeeze) or name plain nodes (Node's TouchThis and
    // Deps, no subscribers), exactly as the full steps in Run would: stamps
    // each, and starts a frame for a node's list that has entries, which
    // ends the run. False at the first entry that needs the full steps.
    static bool RunOfPlainNodes(Stack& p_stack, std::size_t p_base, bool p_nested, Frame& p_frame,
                                TrackerCasts& p_casts) {
        IModifiable::Identifier const* const entries = p_frame.entries;
        std::uint32_t const count = p_frame.count;
        std::uint32_t next = p_frame.next;
        bool expired = false;
        Dependencies* list = nullptr;
        for (; next != count; ++next) {
            IModifiable::Identifier const& entry = entries[next];
            if (entry.Expired()) {
                expired = true;
                continue;
            }
            IModifiable* const dependent = entry.Address();
            if (dependent == nullptr) {
                break;
            }
            Node* const node = p_casts.NodeOf(dependent);
            if (node == nullptr || !node->IsPlain()) {
                break;
            }
            node->_time.Touch();
            if (!node->_deps.Empty()) {
                list = &node->_deps;
                ++next;
                break;
            }
        }
        p_frame.next = next;
        p_frame.expiredSeen = p_frame.expiredSeen || expired;
        if (list != nullptr) {
            // The frame may move with the stack: nothing reads it after this.
            Push(p_stack, p_base, p_nested, *list, p_frame.relationship);
            return true;
        }
        return next == count;
    }

    static IModifiable::Relationship Derive(IModifiable::Relationship p_given) {
        return p_given == IModifiable::Self ? IModifiable::Explicit : IModifiable::Implicit;
    }

    // Starts a frame for `p_list` unless it has nothing to walk or is already
    // on this walk's path (that ends a cycle). A list that only enclosing
    // walks are walking is walked again: a nested walk is a walk of its own.
    static bool Push(Stack& p_stack, std::size_t p_base, bool p_nested, Dependencies& p_list,
                     IModifiable::Relationship p_given);

    // The frame of an enclosing walk that marked `p_entries`, if any.
    static Frame* MarkingFrame(Stack& p_stack, std::size_t p_base, IModifiable::Identifier const* p_entries) {
        for (std::size_t i = p_base; i > 0; --i) {
            Frame& frame = p_stack.items[i - 1];
            if (frame.entries == p_entries && frame.marked) {
                return &frame;
            }
        }
        return nullptr;
    }

    // Ends a frame: an orphaned block is freed; otherwise the list is
    // unmarked and, when requested, squeezed. A frame that did not mark its
    // block leaves both to the enclosing walk's frame that did.
    static void Finish(Stack& p_stack, std::size_t p_base, Frame const& p_frame, bool p_squeeze) {
        std::uint32_t const bits = Block::UserBitsOf(p_frame.entries);
        if (!p_frame.marked) {
            if (p_squeeze && p_frame.expiredSeen && (bits & Dependencies::kOrphanBit) == 0) {
                if (Frame* const outer = MarkingFrame(p_stack, p_base, p_frame.entries)) {
                    outer->expiredSeen = true;
                }
            }
            return;
        }
        if ((bits & Dependencies::kOrphanBit) != 0) {
            Block::DestroyDetached(p_frame.entries);
            return;
        }
        Block::SetUserBitsOf(p_frame.entries, 0);
        if (p_squeeze && p_frame.expiredSeen) {
            p_frame.owner->Squeze();
        }
    }

    static void Unwind(Stack& p_stack, std::size_t p_base) noexcept {
        while (p_stack.size > p_base) {
            Frame const frame = p_stack.items[--p_stack.size];
            Finish(p_stack, p_base, frame, false);
        }
    }
};

namespace {
// The objects that once-per-object walks have touched: an open-addressing
// table of (object, walk) kept per thread and reused, so that a warmed-up
// walk allocates nothing. Nested walks have ids of their own; the table is
// emptied, slot by filled slot, when the outermost walk ends.
//
// Addresses alone do not name objects: a node that ends during the walk
// gives its memory back, and a node made there later is another object. So
// the memory of every node that ends while the table holds entries is noted
// as a range, and each slot remembers how many ranges there were when it was
// filled; a match with ranges noted since is checked against them.
class VisitedObjects {
public:
    // False when `p_walk` already touched `p_object`.
    bool Insert(IModifiable* p_object, std::uint32_t p_walk) {
        if ((_used + 1) * 2 > _capacity) {
            Grow();
        }
        auto const ended = static_cast<std::uint32_t>(_ended.size);
        std::size_t slot = Hash(p_object) & (_capacity - 1);
        while (_slots[slot].object != nullptr) {
            Slot& found = _slots[slot];
            if (found.object == p_object && found.walk == p_walk) {
                bool const reborn = found.ended != ended && EndedSince(p_object, found.ended);
                found.ended = ended;  // checked up to here
                return reborn;
            }
            slot = (slot + 1) & (_capacity - 1);
        }
        _filled.Push(slot);
        _slots[slot] = Slot{p_object, p_walk, ended};
        ++_used;
        return true;
    }
    std::uint32_t NextWalk() { return ++_walks; }

    // The memory of a node that ends now; what the table holds of it
    // names objects that are gone.
    void NoteEnded(void const* p_block, std::size_t p_bytes) noexcept {
        if (_used == 0) {
            return;
        }
        auto const begin = reinterpret_cast<std::uintptr_t>(p_block);
        try {
            _ended.Push(Range{begin, begin + p_bytes});
        } catch (...) {
            // No room to note it: forget the slots in the range instead
            // (a walk id of 0 matches no walk).
            for (std::size_t i = 0; i < _filled.size; ++i) {
                Slot& slot = _slots[_filled.items[i]];
                auto const address = reinterpret_cast<std::uintptr_t>(slot.object);
                if (address >= begin && address < begin + p_bytes) {
                    slot.walk = 0;
                }
            }
        }
    }

    void Empty() noexcept {
        for (std::size_t i = 0; i < _filled.size; ++i) {
            _slots[_filled.items[i]].object = nullptr;
        }
        _filled.size = 0;
        _ended.size = 0;
        _used = 0;
        _walks = 0;
    }
    void Free() noexcept {
        std::free(static_cast<void*>(_slots));
        _slots = nullptr;
        _capacity = 0;
        _used = 0;
        _walks = 0;
        _filled.Free();
        _ended.Free();
    }

private:
    struct Slot {
        IModifiable* object;
        std::uint32_t walk;
        std::uint32_t ended;  // ranges noted when the slot was last checked
    };
    struct Range {
        std::uintptr_t begin;
        std::uintptr_t end;
    };
    Slot* _slots = nullptr;
    std::size_t _capacity = 0;  // a power of two, or 0
    std::size_t _used = 0;
    std::uint32_t _walks = 0;
    Growable<std::size_t> _filled = {nullptr, 0, 0};
    Growable<Range> _ended = {nullptr, 0, 0};

    bool EndedSince(IModifiable const* p_object, std::uint32_t p_first) const noexcept {
        auto const address = reinterpret_cast<std::uintptr_t>(p_object);
        for (std::size_t i = p_first; i < _ended.size; ++i) {
            if (address >= _ended.items[i].begin && address < _ended.items[i].end) {
                return true;
            }
        }
        return false;
    }
    static std::size_t Hash(IModifiable* p_object) {
        auto const bits = reinterpret_cast<std::uintptr_t>(p_object);
        return static_cast<std::size_t>((bits >> 4) * 0x9E3779B97F4A7C15ull >> 16);
    }
    void Grow() {
        std::size_t const capacity = _capacity == 0 ? 256 : _capacity * 2;
        void* fresh = std::calloc(capacity, sizeof(Slot));
        if (fresh == nullptr) {
            throw std::bad_alloc();
        }
        Slot* const old = _slots;
        Growable<std::size_t> oldFilled = _filled;
        _slots = static_cast<Slot*>(fresh);
        _capacity = capacity;
        _filled = Growable<std::size_t>{nullptr, 0, 0};
        _used = 0;
        for (std::size_t i = 0; i < oldFilled.size; ++i) {
            Slot const entry = old[oldFilled.items[i]];
            std::size_t slot = Hash(entry.object) & (_capacity - 1);
            while (_slots[slot].object != nullptr) {
                slot = (slot + 1) & (_capacity - 1);
            }
            _slots[slot] = entry;
            _filled.Push(slot);
            ++_used;
        }
        std::free(static_cast<void*>(old));
        oldFilled.Free();
    }
};

// The walk's per-thread stack and how many walks run on the thread. Freed by
// a cleaner at thread exit; walks after that (nodes ending at exit) use a
// stack of their own, freed when the outermost of them ends.
struct WalkState {
    DependencyWalk::Stack stack;
    VisitedObjects visited;
    int running;
    Propagation propagation;
    bool cleanerRegistered;
    bool ended;
};
__attribute__((tls_model("initial-exec"))) thread_local WalkState t_walk = {
    {nullptr, 0, 0}, VisitedObjects(), 0, Propagation::EveryPath, false, false};

struct WalkCleaner {
    ~WalkCleaner() {
        if (t_walk.running == 0) {
            t_walk.stack.Free();
            t_walk.visited.Free();
        }
        t_walk.ended = true;
    }
};

void RegisterWalkCleaner() {
    if (!t_walk.cleanerRegistered && !t_walk.ended) {
        t_walk.cleanerRegistered = true;
        static thread_local WalkCleaner cleaner;
        (void)cleaner;
    }
}

// Counts a walk as running while it lives.
struct RunningWalk {
    RunningWalk() noexcept { ++t_walk.running; }
    ~RunningWalk() {
        if (--t_walk.running == 0) {
            t_walk.visited.Empty();
            if (t_walk.ended) {
                t_walk.stack.Free();
                t_walk.visited.Free();
            }
        }
    }
    RunningWalk(RunningWalk const&) = delete;
    RunningWalk& operator=(RunningWalk const&) = delete;
};
}  // namespace

bool DependencyWalk::Push(Stack& p_stack, std::size_t p_base, bool p_nested, Dependencies& p_list,
                          IModifiable::Relationship p_given) {
    IModifiable::Identifier* entries = p_list._list.Begin();
    if (entries == nullptr) {
        return false;
    }
    bool const markedBefore = (Block::UserBitsOf(entries) & Dependencies::kWalkedBit) != 0;
    if (markedBefore) {
        // The only walk on the thread marked it itself; a nested walk looks
        // for it on its own part of the path.
        if (!p_nested) {
            return false;
        }
        for (std::size_t i = p_base; i < p_stack.size; ++i) {
            if (p_stack.items[i].entries == entries) {
                return false;
            }
        }
    }
    p_stack.Push(Frame{entries, &p_list, 0, static_cast<std::uint32_t>(Block::SizeOf(entries)), Derive(p_given), false,
                       !markedBefore});
    if (!markedBefore) {
        Block::SetUserBitsOf(entries, Dependencies::kWalkedBit);
    }
    return true;
}

void DependencyWalk::Run(IModifiable* p_origin, Dependencies& p_dependents, IModifiable::ModifiableType p_type,
                         IModifiable::Change p_change, IModifiable::Relationship const& p_relationship,
                         WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value,
                         std::uint32_t p_sharedWalk) {
    if (p_dependents.Empty()) {
        return;
    }
    RegisterWalkCleaner();
    RunningWalk const running;
    Stack& stack = t_walk.stack;
    std::size_t const base = stack.size;
    bool const nested = t_walk.running > 1;
    TrackerCasts casts;
    try {
        // Once per object: the origin counts as touched, so that no cycle
        // touches it again.
        std::uint32_t const walk = p_sharedWalk != 0                                  ? p_sharedWalk
                                   : t_walk.propagation == Propagation::OncePerObject ? t_walk.visited.NextWalk()
                                                                                      : 0;
        if (walk != 0) {
            t_walk.visited.Insert(p_origin, walk);
        }
        if (!Push(stack, base, nested, p_dependents, p_relationship)) {
            return;
        }
        while (stack.size > base) {
            Frame& frame = stack.items[stack.size - 1];
            // A list cleared during its walk (its node ended, say) is still
            // walked to its end: the entries are weak and the block is ours.
            if (frame.next == frame.count) {
                Frame const done = frame;
                --stack.size;
                Finish(stack, base, done, true);
                continue;
            }
            // Most entries name nodes that need only their stamp and a look
            // at their list: those are taken with the frame's cursor in a
            // register; the first other entry takes the steps below.
            if (walk == 0 && RunOfPlainNodes(stack, base, nested, frame, casts)) {
                continue;
            }
            IModifiable::Identifier& entry = frame.entries[frame.next++];
            if (entry.Expired()) {
                frame.expiredSeen = true;
                continue;
            }
            IModifiable* dependent = entry.Address();
            if (dependent == nullptr) {
                // A live identity without an object: nothing to touch or follow.
                Utility::GetLogger().chkptr(nullptr, ReportText(Report::DependentWithoutTracker));
                continue;
            }
            if (walk != 0 && !t_walk.visited.Insert(dependent, walk)) {
                continue;  // reached before in this walk
            }
            IModifiable::Relationship const relationship = frame.relationship;
            std::size_t const level = stack.size - 1;
            Node* const node = casts.NodeOf(dependent);
            if (node != nullptr && node->TakesNodeTouch()) {
                if (node->TouchAsDependent(p_type, p_change, relationship, p_originator, p_name, p_value)) {
                    // No client code ran: the node is there and the stack as
                    // it was (a Deps override may run now; Push reads the stack).
                    Dependencies& list = node->WalkedDeps();
                    if (!list.Empty()) {
                        Push(stack, base, nested, list, relationship);
                    }
                    continue;
                }
            } else {
                dependent->TouchThis(p_type, p_change, relationship, p_originator, p_name, p_value);
            }
            // The call (or the node's subscribers) may have started walks of
            // their own (the stack may have moved) or ended the dependent.
            Frame& current = stack.items[level];
            if (entry.Expired()) {
                current.expiredSeen = true;
                continue;
            }
            Dependencies* const list = node != nullptr ? &node->WalkedDeps() : casts.ListOf(dependent);
            if (list == nullptr) {
                Utility::GetLogger().chkptr(nullptr, ReportText(Report::DependentWithoutTracker));
                continue;  // an object without a list has no dependents to follow
            }
            if (!list->Empty()) {  // most dependents have none: no call for them
                Push(stack, base, nested, *list, relationship);
            }
        }
    } catch (...) {
        Unwind(stack, base);
        throw;
    }
}

// A batch's commit: one walk id, and the set of reached objects kept, across
// the walks from every object the batch touched.
std::uint32_t OpenSharedWalk() {
    RegisterWalkCleaner();
    ++t_walk.running;
    return t_walk.visited.NextWalk();
}

void CloseSharedWalk() noexcept {
    RunningWalk const last;  // ends as the walk that opened it would
    --t_walk.running;
}

bool ReachInSharedWalk(IModifiable& p_object, std::uint32_t p_walk) { return t_walk.visited.Insert(&p_object, p_walk); }

void RunSharedWalk(IModifiable& p_origin, Dependencies& p_dependents, IModifiable::ModifiableType p_type,
                   IModifiable::Change p_change, WeakPtr<Node> const& p_originator, std::string const& p_name,
                   boost::any const& p_value, std::uint32_t p_walk) {
    DependencyWalk::Run(&p_origin, p_dependents, p_type, p_change, IModifiable::Self, p_originator, p_name, p_value,
                        p_walk);
}

}  // namespace Private

void Node::TouchThis(IModifiable::ModifiableType type, IModifiable::Change change,
                     IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator, std::string const& name,
                     boost::any const& value) {
    _time.Touch();
    if (__builtin_expect(static_cast<bool>(Modifiable<0>::_subscribed), 0)) {
        // A tail call, like the walk's below: the path without subscribers
        // keeps no state across a call and so saves no registers.
        TouchSubscribed(type, change, relationship, p_originator, name, value);
        return;
    }
    if (relationship != IModifiable::Self) {
        return;
    }
    // Out of line, so that the stamp-and-return path above stays small
    // enough to be inlined into the walk for every dependent.
    StartWalk(type, change, p_originator, name, value);
}

void Node::TouchSubscribed(IModifiable::ModifiableType type, IModifiable::Change change,
                           IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator,
                           std::string const& name, boost::any const& value) {
    if (relationship == IModifiable::Self && Private::DeferredByBatch(change)) {
        Private::BatchCommit::Defer(*this, type, change, name, value);
        return;
    }
    {
        Private::Dispatch dispatch(Modifiable<0>::SubscriptionKey());
        if (!dispatch.Found()) {
            Modifiable<0>::_subscribed = false;  // the last one was cancelled
        } else {
            TouchEvent const event{type, change, relationship, p_originator, name, value};
            dispatch.Call(&event);
            // A subscriber, or the release of a cancelled one's callable
            // (which may hold the last Ptr), ended the node: nothing is left
            // to walk, and the node must not be read again.
            if (dispatch.Close()) {
                return;
            }
        }
    }
    if (relationship == IModifiable::Self) {
        StartWalk(type, change, p_originator, name, value);
    }
}

void Node::StartWalk(IModifiable::ModifiableType type, IModifiable::Change change, WeakPtr<Node> const& p_originator,
                     std::string const& name, boost::any const& value) {
    if (!p_originator.Expired()) {
        Private::ReportEnsure(Private::Report::WalkWithLiveOriginator);
    }
    if (Private::DeferredByBatch(change)) {
        Private::BatchCommit::Defer(*this, type, change, name, value);
        return;
    }
    IDependencyTracker& tracker = *this;
    Dependencies& dependents = tracker.Deps();
    if (dependents.Empty()) {
        return;  // nothing to tell, and no originator to hand out
    }
    // A copy: this node may end during its own walk (a dependent may drop
    // its last Ptr), and the walk hands the originator to every entry.
    WeakPtr<Node> const originator = _self;
    Private::DependencyWalk::Run(this, dependents, type, change, IModifiable::Self, originator, name, value);
}

void Private::NoteNodeMemoryEnded(void const* p_block, std::size_t p_bytes) noexcept {
    if (t_walk.running != 0) {
        t_walk.visited.NoteEnded(p_block, p_bytes);
    }
}

PropagationScope::PropagationScope(Propagation p_propagation) noexcept : _previous(Private::t_walk.propagation) {
    Private::t_walk.propagation = p_propagation;
}

PropagationScope::~PropagationScope() { Private::t_walk.propagation = _previous; }

Propagation PropagationScope::Current() noexcept { return Private::t_walk.propagation; }

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
