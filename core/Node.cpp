#include "Node.h"

#include "DebugStream.h"
#include "Propagation.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

qelthreads::atomic<int> Node::_debugNodeCount;
qelthreads::atomic<int> Node::_debugNodeMemUsage;

namespace {

qelthreads::atomic<int> g_uniqueIdCounter;

void DoNothingDeleter(void* /*p_object*/) {}

}  // namespace

// ---------------------------------------------------------------------------
// Identity

ModifiableNode::ModifiableNode() noexcept : _idAnchor() {}
ModifiableNode::~ModifiableNode() = default;

IModifiable::Identifier ModifiableNode::Id() const {
    if (!_idAnchor) {
        IModifiable* self = const_cast<ModifiableNode*>(this);
        _idAnchor = Ptr<IModifiable>(boost::shared_ptr<IModifiable>(self, &DoNothingDeleter));
    }
    Ptr<IModifiable> const anchor(_idAnchor.Shared());
    return IModifiable::Identifier(const_cast<ModifiableNode*>(this), boost::weak_ptr<IModifiable>(anchor.Shared()));
}

// ---------------------------------------------------------------------------
// Construction and lifetime

Node::Node()
    : _self(),
      _name(),
      _propertyMap(),
      _explicitRefMap(),
      _uniqueId(++g_uniqueIdCounter),
      _userTag(4294967295u),
      _typeId(0xFFFF),
      _time(),
      _deps() {
    ++_debugNodeCount;
}

Node::~Node() {
    // Deleter sends Deallocate before it destroys a node; a node destroyed
    // without it is one whose derived constructor threw inside Create, and it
    // is still counted.
    if (!IsDeallocated()) {
        --_debugNodeCount;
    }
}

void* Node::Allocator(std::size_t p_size) {
    _debugNodeMemUsage.add(static_cast<int>(p_size));
    try {
        return qeldebug::allocationtracker::allocate(p_size);
    } catch (...) {
        _debugNodeMemUsage.add(-static_cast<int>(p_size));
        throw;
    }
}

void Node::ReleaseFailedConstruction(void* p_memory) noexcept {
    std::size_t const bytes = qeldebug::allocationtracker::deallocate(p_memory);
    _debugNodeMemUsage.add(-static_cast<int>(bytes));
}

namespace Private {

// The deletion of one node, in its fixed order, and the node line.
class NodeInternals {
public:
    static void DeleteOne(Node* p_node) noexcept {
        try {
            int const count = Node::_debugNodeCount.load();
            qeldebug::logger& logger = Utility::GetLogger();
            if (!qeldebug::logger::quiet()) {  // an inactive channel costs no formatting
                logger.dout("Trace") << "delete node id(" << p_node->_uniqueId << ") type(" << p_node->_typeId
                                     << ") : count = " << count << std::endl;
            }
            p_node->SendDeallocate();
            p_node->Deps().Clear();
            // The block starts at the most derived object, which need not be
            // where its Node part is (a class may list another base first).
            void* const block = dynamic_cast<void*>(p_node);
            p_node->~Node();
            std::size_t const bytes = qeldebug::allocationtracker::deallocate(block);
            Node::_debugNodeMemUsage.add(-static_cast<int>(bytes));
            --Node::_debugNodeCount;
        } catch (...) {
            try {
                Utility::GetLogger().derr("")
                    << "WARNING: \"false && \"Exception caught while deallocating a node!\"\" - "
                    << "void __cdecl Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line239"
                    << std::endl;
                qeldebug::handleexcept(
                    "void __cdecl Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line240",
                    Utility::GetLogger(), false);
            } catch (...) {
                // Reporting failed too; nothing may leave the deleter.
            }
        }
    }

    static void WriteLine(std::ostream& p_stream, Node const& p_node) {
        p_stream << "id(" << p_node._uniqueId << ") ";
        p_stream << "name(";
        ::operator<<(p_stream, p_node._name);
        p_stream << ") ";
        p_stream << "type.id(" << p_node._typeId << ") ";
        std::string const name = typeid(p_node).name();
        p_stream << "type(";
        if (name.size() <= 25) {
            p_stream << name;
        } else {
            p_stream << "..." << name.substr(name.size() - 25);
        }
        p_stream << ") ";
    }

    static PropertyMap const& Properties(Node const& p_node) { return p_node._propertyMap; }
    static ExplicitRefMap const& Refs(Node const& p_node) { return p_node._explicitRefMap; }
};

namespace {

// Per-thread state of the library is kept in trivially destructible
// thread-locals (they stay valid until the thread is gone), and whatever they
// own is freed by a cleaner object registered on first use. Nodes may end
// after the cleaner ran (a thread_local or static Ptr released at exit): the
// state then says so and each user falls back to working without it.
template <class T>
struct Growable {
    T* items;
    std::size_t size;
    std::size_t capacity;

    void Grow() {
        std::size_t const grown = capacity == 0 ? 64 : capacity * 2;
        void* fresh = std::realloc(
            static_cast<void*>(items),
            grown * sizeof(T));  // NOLINT(bugprone-sizeof-expression): T may be a pointer: an array of them
        if (fresh == nullptr) {
            throw std::bad_alloc();
        }
        items = static_cast<T*>(fresh);
        capacity = grown;
    }
    void Push(T const& p_item) {
        if (size == capacity) {
            Grow();
        }
        items[size++] = p_item;
    }
    void Free() noexcept {
        std::free(items);
        items = nullptr;
        size = 0;
        capacity = 0;
    }
};

// Deletions nest inline (a node whose destructor drops the last Ptr to the
// next one deletes it right there) up to this depth; beyond it they wait in a
// queue that the deletion at this depth works off, so that ownership chains
// of any length end on a bounded stack.
constexpr int kInlineDeletionDepth = 64;

struct DeletionState {
    int depth;
    bool cleanerRegistered;
    bool ended;  // the thread's cleaner ran: the queue is freed after each use
    Growable<Node*> queue;
};
__attribute__((tls_model("initial-exec"))) thread_local DeletionState t_deletion = {0, false, false, {nullptr, 0, 0}};

struct DeletionCleaner {
    ~DeletionCleaner() {
        t_deletion.queue.Free();
        t_deletion.ended = true;
    }
};

void RegisterDeletionCleaner() {
    if (!t_deletion.cleanerRegistered && !t_deletion.ended) {
        t_deletion.cleanerRegistered = true;
        static thread_local DeletionCleaner cleaner;
        (void)cleaner;
    }
}

}  // namespace

}  // namespace Private

void Node::Deleter(Node* p_node) {
    Private::DeletionState& state = Private::t_deletion;
    if (state.depth >= Private::kInlineDeletionDepth) {
        try {
            Private::RegisterDeletionCleaner();
            state.queue.Push(p_node);
            return;
        } catch (...) {
            // No room to defer: delete it right here instead.
            Private::NodeInternals::DeleteOne(p_node);
            return;
        }
    }
    ++state.depth;
    Private::NodeInternals::DeleteOne(p_node);
    if (state.depth == Private::kInlineDeletionDepth && state.queue.size != 0) {
        // In order; deletions these start are queued behind them.
        for (std::size_t i = 0; i < state.queue.size; ++i) {
            Private::NodeInternals::DeleteOne(state.queue.items[i]);
        }
        state.queue.size = 0;
        if (state.ended) {
            state.queue.Free();
        }
    }
    --state.depth;
}

namespace {
// Freed owner blocks kept for reuse on this thread. Initial-exec TLS: the
// library is linked at start-up, and the general model would cost a call per
// access.
struct OwnerBlockCache {
    static constexpr std::size_t kCapacity = 16;
    std::size_t size;  // the one block size kept (all owner blocks are alike)
    std::size_t count;
    bool cleanerRegistered;
    bool ended;  // the thread's cleaner ran: blocks go straight back to the heap
    void* blocks[kCapacity];
};
__attribute__((tls_model("initial-exec"))) thread_local OwnerBlockCache t_ownerBlocks = {0, 0, false, false, {}};

struct OwnerBlockCleaner {
    ~OwnerBlockCleaner() {
        OwnerBlockCache& cache = t_ownerBlocks;
        while (cache.count != 0) {
            ::operator delete(cache.blocks[--cache.count]);
        }
        cache.ended = true;
    }
};
}  // namespace

void* Private::OwnerBlocks::Allocate(std::size_t p_size) {
    OwnerBlockCache& cache = t_ownerBlocks;
    if (cache.count != 0 && cache.size == p_size) {
        return cache.blocks[--cache.count];
    }
    return ::operator new(p_size);
}

void Private::OwnerBlocks::Release(void* p_block, std::size_t p_size) noexcept {
    OwnerBlockCache& cache = t_ownerBlocks;
    if (!cache.cleanerRegistered) {
        if (cache.ended) {
            ::operator delete(p_block);
            return;
        }
        try {
            static thread_local OwnerBlockCleaner cleaner;
            (void)cleaner;
            cache.cleanerRegistered = true;
        } catch (...) {
            ::operator delete(p_block);
            return;
        }
    }
    if (cache.ended) {
        ::operator delete(p_block);
        return;
    }
    if (cache.count == 0) {
        cache.size = p_size;
    }
    if (cache.size == p_size && cache.count < OwnerBlockCache::kCapacity) {
        cache.blocks[cache.count++] = p_block;
        return;
    }
    ::operator delete(p_block);
}

void Node::operator delete(void* /*p_block*/) {
    Utility::GetLogger().derr("") << "Node::operator delete - called when it should not be!" << std::endl;
    std::abort();
}

void Node::operator delete[](void* /*p_block*/) {
    Utility::GetLogger().derr("") << "Node::operator delete[] - called when it should not be!" << std::endl;
    std::abort();
}

void Private::ReportEndedEarly(Node const& p_node, char const* p_text) noexcept {
    // Before Create set _self (a derived constructor threw) nobody can have
    // used the object yet; once Deallocate was sent, its end is expected.
    if (p_node._self.Expired() || p_node.IsDeallocated()) {
        return;
    }
    try {
        Private::ReportEnsure(p_text);
    } catch (...) {
        // A destructor reports and goes on: the record is kept, the exception not.
    }
}

TimeStamp const Node::Time() const { return _time; }

std::string const Node::Name() const {
    std::size_t length = 0;
    char const* chars = Utility::LightString_Base<char>::GetPtr(_name, length);
    if (chars == nullptr || length == 0) {
        return std::string();
    }
    return std::string(chars, length);
}

Dependencies& Node::Deps() { return _deps; }
Dependencies const& Node::Deps() const { return _deps; }

// ---------------------------------------------------------------------------
// Propagation

namespace Private {

namespace {
// A dependent that is not a tracker, or an identifier that names no object.
char const* const kNoTrackerText =
    "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class "
    "Qel::Chart::Core::Dependencies &,const enum Qel::Chart::Core::IModifiable::ModifiableType,const "
    "enum Qel::Chart::Core::IModifiable::Change,const enum Qel::Chart::Core::IModifiable::Relationship "
    "&,const class Qel::Chart::Core::WeakPtr<class Qel::Chart::Core::Node> &,const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &,const class "
    "boost::any &,unsigned int &)";
}  // namespace

// The depth-first walk over dependents lists. Instead of recursing once per
// level it keeps the current path as frames on a per-thread stack, which is
// reused by every walk on the thread (nested walks started from a TouchThis
// push above the frames of the walk that called them).
class DependencyWalk {
public:
    static void Run(IModifiable* p_origin, Dependencies& p_dependents, IModifiable::ModifiableType p_type,
                    IModifiable::Change p_change, IModifiable::Relationship const& p_relationship,
                    WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value);

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
        IDependencyTracker* ToTracker(IModifiable* p_object) {
            void const* const vtable = VtableOf(p_object);
            for (std::size_t i = 0; i < _used; ++i) {
                if (_entries[i].vtable == vtable) {
                    return _entries[i].isTracker ? Apply(p_object, _entries[i].offset) : nullptr;
                }
            }
            IDependencyTracker* const tracker = dynamic_cast<IDependencyTracker*>(p_object);
            Entry& entry = _entries[_used < kSize ? _used++ : (_next++ % kSize)];
            entry.vtable = vtable;
            entry.isTracker = tracker != nullptr;
            entry.offset =
                tracker == nullptr ? 0 : reinterpret_cast<char*>(tracker) - reinterpret_cast<char*>(p_object);
            return tracker;
        }

    private:
        struct Entry {
            void const* vtable;
            std::ptrdiff_t offset;
            bool isTracker;
        };
        static constexpr std::size_t kSize = 4;

        static void const* VtableOf(IModifiable const* p_object) {
            void const* vtable = nullptr;
            std::memcpy(&vtable, static_cast<void const*>(p_object), sizeof vtable);
            return vtable;
        }
        static IDependencyTracker* Apply(IModifiable* p_object, std::ptrdiff_t p_offset) {
            return reinterpret_cast<IDependencyTracker*>(reinterpret_cast<char*>(p_object) + p_offset);
        }

        Entry _entries[kSize];
        std::size_t _used = 0;
        std::size_t _next = 0;
    };

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
class VisitedObjects {
public:
    // False when `p_walk` already touched `p_object`.
    bool Insert(IModifiable* p_object, std::uint32_t p_walk) {
        if ((_used + 1) * 2 > _capacity) {
            Grow();
        }
        std::size_t slot = Hash(p_object) & (_capacity - 1);
        while (_slots[slot].object != nullptr) {
            if (_slots[slot].object == p_object && _slots[slot].walk == p_walk) {
                return false;
            }
            slot = (slot + 1) & (_capacity - 1);
        }
        _filled.Push(slot);
        _slots[slot] = Slot{p_object, p_walk};
        ++_used;
        return true;
    }
    std::uint32_t NextWalk() { return ++_walks; }
    void Empty() noexcept {
        for (std::size_t i = 0; i < _filled.size; ++i) {
            _slots[_filled.items[i]].object = nullptr;
        }
        _filled.size = 0;
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
    }

private:
    struct Slot {
        IModifiable* object;
        std::uint32_t walk;
    };
    Slot* _slots = nullptr;
    std::size_t _capacity = 0;  // a power of two, or 0
    std::size_t _used = 0;
    std::uint32_t _walks = 0;
    Growable<std::size_t> _filled = {nullptr, 0, 0};

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
                         WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value) {
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
        std::uint32_t const walk = t_walk.propagation == Propagation::OncePerObject ? t_walk.visited.NextWalk() : 0;
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
            IModifiable::Identifier& entry = frame.entries[frame.next++];
            if (entry.Expired()) {
                frame.expiredSeen = true;
                continue;
            }
            IModifiable* dependent = entry.Address();
            if (dependent == nullptr) {
                // A live identity without an object: nothing to touch or follow.
                Utility::GetLogger().chkptr(nullptr, kNoTrackerText);
                continue;
            }
            if (walk != 0 && !t_walk.visited.Insert(dependent, walk)) {
                continue;  // reached before in this walk
            }
            IModifiable::Relationship const relationship = frame.relationship;
            std::size_t const level = stack.size - 1;
            dependent->TouchThis(p_type, p_change, relationship, p_originator, p_name, p_value);
            // The call may have started walks of its own (the stack may have
            // moved) or ended the dependent itself.
            Frame& current = stack.items[level];
            if (entry.Expired()) {
                current.expiredSeen = true;
                continue;
            }
            IDependencyTracker* tracker = casts.ToTracker(dependent);
            if (tracker == nullptr) {
                Utility::GetLogger().chkptr(nullptr, kNoTrackerText);
                continue;  // an object without a list has no dependents to follow
            }
            Push(stack, base, nested, tracker->Deps(), relationship);
        }
    } catch (...) {
        Unwind(stack, base);
        throw;
    }
}

}  // namespace Private

void Node::TouchThis(IModifiable::ModifiableType type, IModifiable::Change change,
                     IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator, std::string const& name,
                     boost::any const& value) {
    _time.Touch();
    if (relationship != IModifiable::Self) {
        return;
    }
    // Out of line, so that the stamp-and-return path above stays small
    // enough to be inlined into the walk for every dependent.
    StartWalk(type, change, p_originator, name, value);
}

void Node::StartWalk(IModifiable::ModifiableType type, IModifiable::Change change, WeakPtr<Node> const& p_originator,
                     std::string const& name, boost::any const& value) {
    if (!p_originator.Expired()) {
        Private::ReportEnsure(
            "\"p_originator.Expired()\" - void __cdecl Qel::Chart::Core::Node::TouchThis(const enum "
            "Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,const "
            "enum Qel::Chart::Core::IModifiable::Relationship,const class Qel::Chart::Core::WeakPtr<class "
            "Qel::Chart::Core::Node> &,const class std::basic_string<char,struct std::char_traits<char>,class "
            "std::allocator<char> > &,const class boost::any &)");
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

PropagationScope::PropagationScope(Propagation p_propagation) noexcept : _previous(Private::t_walk.propagation) {
    Private::t_walk.propagation = p_propagation;
}

PropagationScope::~PropagationScope() { Private::t_walk.propagation = _previous; }

Propagation PropagationScope::Current() noexcept { return Private::t_walk.propagation; }

// ---------------------------------------------------------------------------
// Type registry and cloning

namespace Private {
namespace {

struct NodeFactory {
    using Factory = boost::function<Ptr<Node>()>;
    using Table = std::map<unsigned short, Factory>;
    using FactoryPair = Table::value_type;
    static Table& Register() {
        static Table table;
        return table;
    }
};

std::map<Utility::TypeInfo, unsigned short>& TypeTable() {
    static std::map<Utility::TypeInfo, unsigned short> table;
    return table;
}

unsigned short runningId = 0;

qelthreads::mutex_base<1>& RegistryMutex() {
    static qelthreads::mutex_base<1> mutex;
    return mutex;
}

}  // namespace
}  // namespace Private

unsigned short Node::RegisterNodeType(std::type_info const& p_type, boost::function<Ptr<Node>()> const& p_factory) {
    using Private::NodeFactory;
    using Private::runningId;
    // The tables come first so that they outlive the mutex's users.
    NodeFactory::Register();
    Private::TypeTable();
    std::lock_guard<qelthreads::mutex_base<1>> lock(Private::RegistryMutex());
    auto const inserted = Private::TypeTable().insert(std::make_pair(Utility::TypeInfo(p_type), runningId));
    if (inserted.second) {
        if (!NodeFactory::Register().insert(NodeFactory::FactoryPair(runningId, p_factory)).second) {
            Private::ReportEnsure(
                "\"NodeFactory::Register().insert(NodeFactory::FactoryPair(runningId, p_factory)).second && "
                "\"InternalError: Core::Node found a duplicate factory entry.\"\" - unsigned short __cdecl "
                "Qel::Chart::Core::Node::RegisterNodeType(const class type_info &,const class "
                "boost::function<class Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> __cdecl(void)> &)");
        }
        Utility::GetLogger().dout("NodeTypeInfo")
            << "id(" << runningId << ") name(" << p_type.name() << ")" << std::endl;
        ++runningId;
    }
    return inserted.first->second;
}

Ptr<Node> Node::CreateTypeOf(Ptr<Node> const& p_node) {
    using Private::NodeFactory;
    if (!p_node) {
        throw NullPtrException("null pointer passed to Core::Ptr");
    }
    NodeFactory::Register();
    Private::TypeTable();
    std::lock_guard<qelthreads::mutex_base<1>> lock(Private::RegistryMutex());
    auto const it = NodeFactory::Register().find(p_node->_typeId);
    if (it == NodeFactory::Register().end()) {
        Private::FailEnsure(
            "\"it != NodeFactory::Register().end()\" - class Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> "
            "__cdecl Qel::Chart::Core::Node::CreateTypeOf(const class Qel::Chart::Core::Ptr<class "
            "Qel::Chart::Core::Node> &)");
    }
    return it->second();
}

Utility::TypeInfo Node::Type() const { return Utility::TypeInfo(typeid(*this)); }

// ---------------------------------------------------------------------------
// Dump

void Node::Dump(std::ostream& p_stream, Verbosity p_verbosity, std::size_t p_indent) const {
    int const verbosity = p_verbosity < 0 ? 0 : (p_verbosity > 3 ? 3 : static_cast<int>(p_verbosity));
    std::string const indent(p_indent, '\t');
    // Beyond 80 the rule would be negative: it stays empty.
    std::string const rule(p_indent < 80 ? 80 - p_indent : 0, '-');
    p_stream << indent << rule << "\n";
    p_stream << indent << "+ ";
    Private::NodeInternals::WriteLine(p_stream, *this);
    p_stream << "\n";
    if (verbosity >= DumpProperties) {
        std::size_t const count = _propertyMap._properties.Size();
        for (std::size_t i = 0; i < count; ++i) {
            IProperty const& property = *_propertyMap._properties[i];
            p_stream << indent << "\t" << property.Name() << " = ";
            if (property.IsValueDefined()) {
                p_stream << property.GetValueAsStringDebug() << "\n";
            } else {
                p_stream << "<" << property.GetValueAsStringDebug() << ">\n";
            }
        }
    }
    if (verbosity >= DumpRefs) {
        std::size_t const count = _explicitRefMap._refs.Size();
        for (std::size_t i = 0; i < count; ++i) {
            IExplicitRef const& ref = *_explicitRefMap._refs[i];
            p_stream << indent << "\t" << (ref.IsRefList() ? "ref-list: " : "ref     : ") << ref.Name() << "\n";
            ref.Dump(p_stream, static_cast<Verbosity>(verbosity), static_cast<int>(p_indent + 1));
        }
    }
    if (verbosity >= DumpDependents) {
        if (!_deps.Empty()) {
            p_stream << indent << "\t"
                     << "dependents: \n";
        }
        int i = 0;
        for (IModifiable::Identifier const* entry = _deps.Begin(); entry != _deps.End(); ++entry, ++i) {
            p_stream << indent << "\t"
                     << "    [" << i << "] ";
            if (entry->Expired()) {
                p_stream << "** expired **\n";
                continue;
            }
            IModifiable* const ptr = entry->Get();
            if (ptr == nullptr) {
                Private::ReportEnsure(
                    "\"ptr\" - void __cdecl Qel::Chart::Core::Node::Dump(class std::basic_ostream<char,struct "
                    "std::char_traits<char> > &,const enum Qel::Chart::Core::Verbosity,const unsigned __int64) const");
            }
            Node const* const node = dynamic_cast<Node const*>(ptr);
            if (node != nullptr) {
                Private::NodeInternals::WriteLine(p_stream, *node);
                p_stream << "\n";
            } else {
                p_stream << "## unknown (property?) ##\n";
            }
        }
    }
}

void Node::DumpDebug(qeldebug::dbgostream const& p_stream, Verbosity p_verbosity, std::size_t p_indent) const {
    // The dump writes through a copy of its own, which lives until the buffer is gone.
    qeldebug::dbgostream copy(p_stream);  // NOLINT(performance-unnecessary-copy-initialization)
    Utility::DebugStreamBuf buffer(copy);
    std::ostream stream(&buffer);
    Dump(stream, p_verbosity, p_indent);
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::Node const& p_node) {
    Qel::Chart::Core::Private::NodeInternals::WriteLine(p_stream, p_node);
    return p_stream;
}

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::Ptr<Qel::Chart::Core::Node> const& p_node) {
    return p_stream << *p_node;
}
