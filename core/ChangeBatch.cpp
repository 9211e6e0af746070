// Batches of edits: what a touch in a batch remembers, and the commit that
// propagates it all in one walk.
#include "ChangeBatch.h"

#include "BatchHooks.h"
#include "DebugStream.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

__thread BatchThread* t_openBatch = nullptr;

namespace {

// Object address -> record number, for the objects touched in one batch:
// open addressing, emptied slot by filled slot, so that it allocates
// nothing once warmed up.
class FirstSeen {
public:
    FirstSeen() = default;
    FirstSeen(FirstSeen const&) = delete;
    FirstSeen& operator=(FirstSeen const&) = delete;
    ~FirstSeen() { std::free(static_cast<void*>(_slots)); }

    // The record of `p_object`, or a new slot for it holding `p_fresh`.
    std::size_t& Find(void const* p_object, std::size_t p_fresh) {
        if ((_filled.size() + 1) * 2 > _capacity) {
            Grow();
        }
        std::size_t slot = Hash(p_object) & (_capacity - 1);
        while (_slots[slot].object != nullptr) {
            if (_slots[slot].object == p_object) {
                return _slots[slot].record;
            }
            slot = (slot + 1) & (_capacity - 1);
        }
        _slots[slot] = Slot{p_object, p_fresh};
        _filled.push_back(slot);
        return _slots[slot].record;
    }
    void Empty() noexcept {
        for (std::size_t const slot : _filled) {
            _slots[slot].object = nullptr;
        }
        _filled.clear();
    }

private:
    struct Slot {
        void const* object;
        std::size_t record;
    };
    static std::size_t Hash(void const* p_object) {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(p_object) >> 4) * 0x9E3779B97F4A7C15ull >>
                                        16);
    }
    void Grow() {
        std::size_t const capacity = _capacity == 0 ? 64 : _capacity * 2;
        Slot* const fresh = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
        if (fresh == nullptr) {
            throw std::bad_alloc();
        }
        std::vector<std::size_t> filled;
        filled.reserve(capacity / 2);
        for (std::size_t const old : _filled) {
            std::size_t slot = Hash(_slots[old].object) & (capacity - 1);
            while (fresh[slot].object != nullptr) {
                slot = (slot + 1) & (capacity - 1);
            }
            fresh[slot] = _slots[old];
            filled.push_back(slot);
        }
        std::free(static_cast<void*>(_slots));
        _slots = fresh;
        _capacity = capacity;
        _filled = std::move(filled);
    }

    Slot* _slots = nullptr;
    std::size_t _capacity = 0;
    std::vector<std::size_t> _filled;
};

}  // namespace

// The first touch of a node in a batch.
struct BatchTouch {
    IModifiable::Identifier node;
    IModifiable::ModifiableType type;
    IModifiable::Change change;
    std::string name;
    boost::any value;
};

// The first change of a property with subscribers in a batch.
struct BatchChange {
    IModifiable::Identifier property;
    void (*call)(IModifiable&);
};

// What the batches of one thread remember, kept from batch to batch so that
// warmed-up batches reuse its room.
struct BatchThread {
    int depth = 0;
    bool threadEnded = false;
    std::vector<BatchTouch> touches;
    std::vector<BatchChange> changes;
    FirstSeen touched;
    FirstSeen changed;

    // Runs what the batches deferred; the lists are handed over first, so
    // that batches opened by callbacks start empty.
    void Commit();
};

namespace {

// Plain per-thread pointers (no destructor of their own): batches may open
// and close while the thread's other objects end. The cleaner frees the
// state at thread exit unless a batch is still open.
__thread BatchThread* t_batches = nullptr;
__thread bool t_batchesEnded = false;

struct BatchCleaner {
    BatchCleaner() = default;
    BatchCleaner(BatchCleaner const&) = delete;
    BatchCleaner& operator=(BatchCleaner const&) = delete;
    ~BatchCleaner() {
        t_batchesEnded = true;
        BatchThread* const state = t_batches;
        if (state == nullptr) {
            return;
        }
        if (state->depth == 0) {
            t_batches = nullptr;
            delete state;
            return;
        }
        // A batch left open at thread end: what it deferred runs now, and
        // the batch, should it still be closed later, finds nothing to do.
        state->threadEnded = true;
        try {
            ReportEnsure("ChangeBatch: a batch is still open as its thread ends; its changes propagate now");
        } catch (...) {
        }
        state->depth = 0;
        t_openBatch = nullptr;
        try {
            state->Commit();
        } catch (...) {
        }
    }
};

BatchThread& ThisThread() {
    if (t_batches == nullptr) {
        t_batches = new BatchThread();
        if (!t_batchesEnded) {
            static thread_local BatchCleaner cleaner;
            (void)cleaner;
        }
    }
    return *t_batches;
}

// Keeps a shared walk open while a commit runs.
struct SharedWalk {
    std::uint32_t const id = OpenSharedWalk();
    SharedWalk() = default;
    SharedWalk(SharedWalk const&) = delete;
    SharedWalk& operator=(SharedWalk const&) = delete;
    ~SharedWalk() { CloseSharedWalk(); }
};

}  // namespace

void BatchThread::Commit() {
    std::vector<BatchTouch> touchList;
    std::vector<BatchChange> changeList;
    touchList.swap(touches);
    changeList.swap(changes);
    touched.Empty();
    changed.Empty();
    // Gives the room back for the next batch, whatever happens.
    struct Restore {
        BatchThread& state;
        std::vector<BatchTouch>& touchList;
        std::vector<BatchChange>& changeList;
        ~Restore() {
            touchList.clear();
            changeList.clear();
            if (state.touches.empty() && state.touches.capacity() < touchList.capacity()) {
                state.touches.swap(touchList);
            }
            if (state.changes.empty() && state.changes.capacity() < changeList.capacity()) {
                state.changes.swap(changeList);
            }
        }
    } const restore{*this, touchList, changeList};

    if (!touchList.empty()) {
        SharedWalk const walk;
        for (BatchTouch const& touch : touchList) {
            if (IModifiable* const node = touch.node.Get()) {
                (void)ReachInSharedWalk(*node, walk.id);
            }
        }
        for (BatchTouch const& touch : touchList) {
            if (touch.node.Get() == nullptr) {
                continue;  // ended during the batch, or during this commit
            }
            Node& node = static_cast<Node&>(*touch.node.Get());
            BatchCommit::Notify(node, touch, walk.id);
        }
    }
    for (BatchChange const& change : changeList) {
        if (IModifiable* const property = change.property.Get()) {
            change.call(*property);
        }
    }
}

void BatchCommit::Defer(Node& p_node, IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                        std::string const& p_name, boost::any const& p_value) {
    BatchThread& state = *t_openBatch;
    IModifiable& object = p_node;
    std::size_t& record = state.touched.Find(&object, state.touches.size());
    if (record < state.touches.size() && !state.touches[record].node.Expired()) {
        return;  // touched before in this batch: stamped, nothing more
    }
    // A first touch, or a node made at the address of one that ended.
    record = state.touches.size();
    state.touches.push_back(BatchTouch{object.Id(), p_type, p_change, p_name, p_value});
}

void BatchCommit::Notify(Node& p_node, BatchTouch const& p_touch, std::uint32_t p_walk) {
    IModifiable::Identifier const id = p_touch.node;
    {
        Dispatch dispatch(static_cast<Modifiable<0> const*>(&p_node));
        if (dispatch.Found()) {
            WeakPtr<Node> const none;
            TouchEvent const event{p_touch.type, p_touch.change, IModifiable::Self, none, p_touch.name, p_touch.value};
            dispatch.Call(&event);
            if (dispatch.ObjectEnded()) {
                return;
            }
        }
    }
    if (id.Expired() || p_node._deps.Empty()) {
        return;
    }
    WeakPtr<Node> const originator = p_node._self;
    RunSharedWalk(p_node, p_node._deps, p_touch.type, p_touch.change, originator, p_touch.name, p_touch.value, p_walk);
}

bool DeferChanged(IModifiable::Identifier const& p_property, void (*p_call)(IModifiable&)) {
    BatchThread* const state = t_openBatch;
    if (state == nullptr) {
        return false;
    }
    std::size_t& record = state->changed.Find(p_property.Address(), state->changes.size());
    if (record < state->changes.size() && !state->changes[record].property.Expired()) {
        return true;
    }
    record = state->changes.size();
    state->changes.push_back(BatchChange{p_property, p_call});
    return true;
}

}  // namespace Private

ChangeBatch::ChangeBatch() : _thread(&Private::ThisThread()), _active(true) {
    ++_thread->depth;
    Private::t_openBatch = _thread;
}

ChangeBatch::~ChangeBatch() {
    if (!_active) {
        return;
    }
    try {
        Commit();
    } catch (std::exception const& e) {
        try {
            Private::ReportEnsure(
                (std::string("ChangeBatch: the commit in the destructor threw: ") + e.what()).c_str());
        } catch (...) {
        }
    } catch (...) {
        try {
            Private::ReportEnsure("ChangeBatch: the commit in the destructor threw an exception of an unknown type");
        } catch (...) {
        }
    }
}

void ChangeBatch::Commit() {
    if (!_active) {
        throw std::logic_error("ChangeBatch::Commit: the batch was committed already");
    }
    if (Private::t_batches != _thread) {
        throw std::logic_error("ChangeBatch::Commit: the batch was opened on another thread");
    }
    _active = false;
    Private::BatchThread& state = *_thread;
    if (state.threadEnded && state.depth == 0) {
        return;  // its thread ended first and ran what it deferred
    }
    if (--state.depth > 0) {
        return;  // an inner batch: the outermost commits
    }
    Private::t_openBatch = nullptr;
    // A thread whose cleaner ran keeps no state between batches.
    struct Release {
        Private::BatchThread* state;
        ~Release() {
            if (Private::t_batchesEnded && state->depth == 0 && Private::t_batches == state) {
                Private::t_batches = nullptr;
                delete state;
            }
        }
    } const release{_thread};
    state.Commit();
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
