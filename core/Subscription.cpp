#include "Subscription.h"

#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

// Subscribers live in a side table keyed by object, so that objects without
// any pay nothing but a flag bit of their Modifiable base. The table's mutex
// guards the table, which every thread reads, and the bookkeeping below is
// changed under it too; callables are never called, made or destroyed while
// it is held, so callbacks may use the table freely.
struct SubscriptionState {
    std::unique_ptr<SubscriberCall> call;
    SubscriberList* list = nullptr;  // null once cancelled or once the object ended
};

struct SubscriberList {
    void const* key = nullptr;
    std::vector<std::shared_ptr<SubscriptionState>> entries;  // in subscription order
    int pins = 0;                                             // dispatches running over the list
    bool orphaned = false;   // the object ended while pinned: the last pin frees the list
    bool cancelled = false;  // an entry was cancelled while pinned: the last pin drops it
};

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<void const*, SubscriberList*> lists;
};

// Never destroyed: objects (and subscriptions) may end during thread and
// process exit, after the destructors of ordinary statics have run.
Table& TheTable() {
    alignas(Table) static unsigned char storage[sizeof(Table)];
    static Table* const table = ::new (static_cast<void*>(storage)) Table();
    return *table;
}

// Releases the callables of states that have left their list, outside the
// lock: their destructors are client code.
void ReleaseCalls(std::vector<std::shared_ptr<SubscriptionState>>& p_states) noexcept {
    for (std::shared_ptr<SubscriptionState>& state : p_states) {
        state->call.reset();
        state.reset();
    }
}

}  // namespace

SubscriberCall::~SubscriberCall() = default;

Subscription Subscribe(void const* p_key, std::unique_ptr<SubscriberCall> p_call) {
    std::shared_ptr<SubscriptionState> state = std::make_shared<SubscriptionState>();
    state->call = std::move(p_call);
    Table& table = TheTable();
    std::lock_guard<std::mutex> const lock(table.mutex);
    auto const found = table.lists.find(p_key);
    SubscriberList* list = nullptr;
    if (found != table.lists.end()) {
        list = found->second;
    } else {
        std::unique_ptr<SubscriberList> fresh(new SubscriberList());
        fresh->key = p_key;
        table.lists.emplace(p_key, fresh.get());
        list = fresh.release();
    }
    try {
        list->entries.push_back(state);
    } catch (...) {
        if (list->entries.empty() && list->pins == 0) {
            table.lists.erase(p_key);
            delete list;
        }
        throw;  // the state, and the callable with it, go once the lock is released
    }
    state->list = list;
    return Subscription(std::move(state));
}

void EndSubscriptions(void const* p_key) noexcept {
    std::vector<std::shared_ptr<SubscriptionState>> doomed;
    {
        Table& table = TheTable();
        std::lock_guard<std::mutex> const lock(table.mutex);
        auto const found = table.lists.find(p_key);
        if (found == table.lists.end()) {
            return;
        }
        SubscriberList* const list = found->second;
        table.lists.erase(found);
        for (std::shared_ptr<SubscriptionState> const& state : list->entries) {
            state->list = nullptr;
        }
        if (list->pins > 0) {
            list->orphaned = true;  // a dispatch still reads it (the object ended in a callback, say)
            return;
        }
        doomed.swap(list->entries);
        delete list;
    }
    ReleaseCalls(doomed);
}

Dispatch::Dispatch(void const* p_key) noexcept : _list(nullptr), _count(0) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> const lock(table.mutex);
    auto const found = table.lists.find(p_key);
    if (found != table.lists.end()) {
        _list = found->second;
        ++_list->pins;
        _count = _list->entries.size();
    }
}

// A list is only changed by the thread that uses its object, as the calls
// are, and the table is not read here: the calls take no lock.
void Dispatch::Call(void const* p_argument) {
    if (_list == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < _count && !_list->orphaned; ++i) {
        // Pinned lists only grow, so the first _count entries stay where they are.
        SubscriptionState const& state = *_list->entries[i];
        if (state.list == _list) {
            state.call->Call(p_argument);
        }
    }
}

bool Dispatch::ObjectEnded() const noexcept { return _list != nullptr && _list->orphaned; }

Dispatch::~Dispatch() { Close(); }

bool Dispatch::Close() noexcept {
    if (_list == nullptr) {
        return false;
    }
    Table& table = TheTable();
    // The last pin cleans up. It keeps its pin while it releases callables,
    // one at a time and outside the lock, so that whatever their destructors
    // do (subscribe, cancel, end the object) finds the list still there.
    for (;;) {
        std::shared_ptr<SubscriptionState> released;
        std::vector<std::shared_ptr<SubscriptionState>> orphans;
        bool orphaned = false;
        {
            std::lock_guard<std::mutex> const lock(table.mutex);
            SubscriberList* const list = _list;
            if (list->pins > 1) {
                bool const ended = list->orphaned;
                --list->pins;
                _list = nullptr;
                return ended;
            }
            orphaned = list->orphaned;
            if (orphaned) {
                orphans.swap(list->entries);  // a swap: nothing allocates in a destructor
            } else {
                std::vector<std::shared_ptr<SubscriptionState>>& entries = list->entries;
                std::size_t inactive = entries.size();
                for (std::size_t i = 0; list->cancelled && i < entries.size(); ++i) {
                    if (entries[i]->list != list) {
                        inactive = i;
                        break;
                    }
                }
                if (inactive == entries.size()) {
                    list->cancelled = false;
                    --list->pins;
                    if (entries.empty()) {
                        table.lists.erase(list->key);
                        delete list;
                    }
                    _list = nullptr;
                    return false;
                }
                released = std::move(entries[inactive]);
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(inactive));
            }
        }
        if (orphaned) {
            delete _list;  // out of the table since the object ended; no one else pins it
            _list = nullptr;
            ReleaseCalls(orphans);
            return true;
        }
        released->call.reset();
    }
}

}  // namespace Private

// ---------------------------------------------------------------------------

Subscription::Subscription() noexcept : _state() {}
Subscription::Subscription(std::shared_ptr<Private::SubscriptionState> p_state) noexcept : _state(std::move(p_state)) {}
Subscription::Subscription(Subscription&& p_other) noexcept : _state(std::move(p_other._state)) {}

Subscription& Subscription::operator=(Subscription&& p_other) noexcept {
    if (this != &p_other) {
        Cancel();
        _state = std::move(p_other._state);
    }
    return *this;
}

Subscription::~Subscription() { Cancel(); }

bool Subscription::Active() const noexcept {
    if (!_state) {
        return false;
    }
    std::lock_guard<std::mutex> const lock(Private::TheTable().mutex);
    return _state->list != nullptr;
}

void Subscription::Cancel() noexcept {
    if (!_state) {
        return;
    }
    std::shared_ptr<Private::SubscriptionState> const state = std::move(_state);
    std::shared_ptr<Private::SubscriptionState> fromList;
    {
        Private::Table& table = Private::TheTable();
        std::lock_guard<std::mutex> const lock(table.mutex);
        Private::SubscriberList* const list = state->list;
        if (list == nullptr) {
            return;
        }
        state->list = nullptr;
        if (list->pins > 0) {
            list->cancelled = true;  // a round of calls may be inside this very callable
            return;
        }
        std::vector<std::shared_ptr<Private::SubscriptionState>>& entries = list->entries;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (*it == state) {
                fromList = std::move(*it);
                entries.erase(it);
                break;
            }
        }
        if (entries.empty()) {
            table.lists.erase(list->key);
            delete list;
        }
    }
    state->call.reset();
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
