// Process-wide state used from four threads at once.
#include <ModifiablePtr.h>
#include <Node.h>
#include <NodeAccess.h>
#include <Property.h>
#include <PropertyAccess.h>
#include <PropertyNameCache.h>
#include <Ptr.h>
#include <TestSupport.h>

#include <gtest/gtest.h>

#include <LightString.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::ModifiablePtr;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::Property;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::WeakPtr;
using Qel::Chart::Core::Accessors::NodeAccess;
using Qel::Chart::Core::Accessors::PropertyAccess;
using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Qel::Chart::Utility::LightString_Base;
using qeltest::Counters;

namespace {

constexpr std::size_t kThreads = 4;

// Every thread that arrives waits for the last, so that the work after it overlaps.
class StartLine {
public:
    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(_mutex);
        if (++_arrived == kThreads) {
            _open.notify_all();
        }
        _open.wait(lock, [this] { return _arrived >= kThreads; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _open;
    std::size_t _arrived = 0;
};

// Runs `p_body(thread index)` on kThreads threads released together, and joins them.
template <class Body>
void RunTogether(Body p_body) {
    StartLine start;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.ArriveAndWait();
            p_body(i);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

struct SmallNode : Node {};
struct NamedNode : Node {
    char _payload[200] = {};
};

}  // namespace

TEST(NodeLifetimeConcurrencyTest, NodesMadeAndDroppedOnFourThreadsGetUniqueIdsAndLeaveCountersAsTheyWere) {
    constexpr std::size_t kPerThread = 3000;
    constexpr std::size_t kKeptAlive = 24;  // so that creations and deletions interleave
    // Registered before the threads start; registration under contention has its own test.
    int const before = NodeAccess(Node::Create<SmallNode>()).UniqueId();
    Node::Create<NamedNode>();
    Counters const start;
    std::vector<std::vector<int>> ids(kThreads);
    RunTogether([&](std::size_t p_thread) {
        std::vector<Ptr<Node>> alive;
        for (std::size_t i = 0; i < kPerThread; ++i) {
            Ptr<Node> node = i % 3 == 0 ? Ptr<Node>(Node::Create<NamedNode>()) : Ptr<Node>(Node::Create<SmallNode>());
            if (i % 3 == 0) {
                NodeAccess(node).SetName("a name too long to be stored inline " + std::to_string(i));
            }
            ids[p_thread].push_back(NodeAccess(node).UniqueId());
            alive.push_back(node);
            if (alive.size() == kKeptAlive) {
                alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(i % kKeptAlive));
                alive.erase(alive.begin());
            }
        }
    });
    std::set<int> all;
    for (std::vector<int> const& mine : ids) {
        // One counter hands out the ids, so each thread sees them rising.
        EXPECT_TRUE(std::adjacent_find(mine.begin(), mine.end(), std::greater_equal<int>()) == mine.end());
        EXPECT_GT(mine.front(), before);
        all.insert(mine.begin(), mine.end());
    }
    EXPECT_EQ(all.size(), kThreads * kPerThread) << "a unique id was handed out twice";
    EXPECT_EQ(Counters(), start);
}

namespace {

// One class per K, created nowhere else: whichever thread comes first registers it.
template <int K>
struct RegisteredInRace : Node {
    char _size[8 * (K % 5 + 1)] = {};
};
struct RegisteredFirst : Node {};

constexpr std::size_t kClasses = 48;

template <std::size_t... K>
std::array<Ptr<Node> (*)(), sizeof...(K)> MakersOf(std::index_sequence<K...>) {
    return {{+[]() { return Ptr<Node>(Node::Create<RegisteredInRace<static_cast<int>(K)>>()); }...}};
}

}  // namespace

TEST(NodeTypeRegistryConcurrencyTest, ClassesFirstCreatedOnFourThreadsGetOneDenseIdEachAndCloneRight) {
    auto const makers = MakersOf(std::make_index_sequence<kClasses>());
    // The registry's tables come into being on first use, which must not race.
    unsigned short const firstId = NodeAccess(Node::Create<RegisteredFirst>()).TypeId();
    std::vector<std::array<unsigned short, kClasses>> seen(kThreads);
    RunTogether([&](std::size_t p_thread) {
        for (std::size_t n = 0; n < kClasses; ++n) {
            std::size_t const k = (n * 7 + p_thread * 13) % kClasses;  // a different order on each thread
            Ptr<Node> const node = makers[k]();
            seen[p_thread][k] = NodeAccess(node).TypeId();
            // Cloned at once, while other threads may still be registering.
            Ptr<Node> const clone = Node::CreateTypeOf(node);
            EXPECT_TRUE(clone->Type() == node->Type() && NodeAccess(clone).TypeId() == seen[p_thread][k]);
        }
    });
    std::set<unsigned short> ids;
    for (std::size_t k = 0; k < kClasses; ++k) {
        for (std::size_t t = 1; t < kThreads; ++t) {
            EXPECT_EQ(seen[t][k], seen[0][k]) << "class " << k << " on thread " << t;
        }
        ids.insert(seen[0][k]);
    }
    ASSERT_EQ(ids.size(), kClasses) << "two classes share a type id";
    // Nothing else registers meanwhile, so the ids form one run without gaps.
    EXPECT_GT(*ids.begin(), firstId);
    EXPECT_EQ(static_cast<std::size_t>(*ids.rbegin() - *ids.begin()) + 1, kClasses);
}

TEST(PropertyNameCacheConcurrencyTest, OverlappingNamesInternedOnFourThreadsGetOneDenseIdEach) {
    constexpr int kPerThread = 160;
    constexpr int kStride = 60;  // neighbouring threads share 100 names
    // Short names are stored inline, long ones in a heap block; the anchor creates the cache's tables.
    auto const nameOf = [](int p_index) {
        return p_index % 2 == 0 ? "cc" + std::to_string(p_index) : "concurrency.property." + std::to_string(p_index);
    };
    LightString_Base<char> const& anchor =
        PropertyNameCache::FindName(PropertyNameCache::GenerateId(LightString_Base<char>(std::string("anchor name"))));
    std::size_t const countBefore = PropertyNameCache::Count();
    std::set<std::string> known;
    for (std::size_t id = 0; id < countBefore; ++id) {
        known.insert(PropertyNameCache::FindName(static_cast<unsigned short>(id)).ToString());
    }
    std::vector<std::map<int, unsigned short>> ids(kThreads);
    RunTogether([&](std::size_t p_thread) {
        LightString_Base<char> const* early = nullptr;
        for (int i = 0; i < kPerThread; ++i) {
            int const index = static_cast<int>(p_thread) * kStride + (i * 37 + static_cast<int>(p_thread)) % kPerThread;
            unsigned short const id = PropertyNameCache::GenerateId(LightString_Base<char>(nameOf(index)));
            ids[p_thread][index] = id;
            EXPECT_EQ(PropertyNameCache::FindName(id).ToString(), nameOf(index));
            early = early == nullptr ? &PropertyNameCache::FindName(id) : early;
        }
        // Stored names stay where they were while the others kept adding.
        EXPECT_EQ(early, &PropertyNameCache::FindName(
                             ids[p_thread][static_cast<int>(p_thread) * kStride + static_cast<int>(p_thread)]));
    });
    std::map<int, unsigned short> agreed;
    std::set<unsigned short> newIds;
    for (std::map<int, unsigned short> const& mine : ids) {
        for (auto const& entry : mine) {
            EXPECT_EQ(agreed.insert(entry).first->second, entry.second) << "two ids for " << nameOf(entry.first);
            if (known.count(nameOf(entry.first)) == 0) {
                newIds.insert(entry.second);
            }
        }
    }
    std::set<unsigned short> allIds;
    for (auto const& entry : agreed) {
        allIds.insert(entry.second);
    }
    EXPECT_EQ(allIds.size(), agreed.size()) << "two names share an id";
    // The new names took exactly the ids after those that existed before.
    ASSERT_EQ(PropertyNameCache::Count() - countBefore, newIds.size());
    EXPECT_EQ(*newIds.begin(), countBefore);
    EXPECT_EQ(*newIds.rbegin(), PropertyNameCache::Count() - 1);
    EXPECT_EQ(anchor.ToString(), "anchor name");
}

namespace {

struct SharedNode : Node {
    static std::atomic<int> destroyed;
    static std::atomic<bool> destroyedOnMainThread;
    static std::thread::id mainThread;
    ~SharedNode() override {
        destroyed.fetch_add(1);
        destroyedOnMainThread.store(std::this_thread::get_id() == mainThread);
    }
    Property<int> _value{*this, "value", 7};
};
std::atomic<int> SharedNode::destroyed{0};
std::atomic<bool> SharedNode::destroyedOnMainThread{false};
std::thread::id SharedNode::mainThread;

// Every kind of handle to one node; the first three own it.
struct Handles {
    Ptr<Node> owner;
    NodeAccess nodeAccess;
    PropertyAccess propertyAccess;
    WeakPtr<Node> weak;
    IModifiable::Identifier id;
    ModifiablePtr modifiable;
};

}  // namespace

TEST(NodeHandleConcurrencyTest, HandlesCopiedAndDroppedAcrossThreadsThenLastOwnerGoesOnAWorker) {
    constexpr int kRounds = 2000;
    SharedNode::mainThread = std::this_thread::get_id();
    Ptr<Node> dependent = Node::Create<SmallNode>();
    Counters const start;
    std::optional<Handles> seed;
    {
        Ptr<SharedNode> node = Node::Create<SharedNode>();
        node->Deps().Insert(*dependent);
        IModifiable::Identifier const id = node->Id();  // the first Id() of a node must not race
        seed.emplace(
            Handles{node, NodeAccess(node), PropertyAccess(node, "value"), WeakPtr<Node>(node), id, ModifiablePtr(id)});
    }
    int const uniqueId = seed->nodeAccess.UniqueId();
    WeakPtr<Node> const weak = seed->weak;  // main keeps weak handles only
    ModifiablePtr const modifiable = seed->modifiable;
    std::vector<std::optional<Handles>> seeds(kThreads, seed);
    seed.reset();
    std::vector<std::mutex> locks(kThreads);
    std::vector<std::vector<Handles>> mailboxes(kThreads);  // copies posted to a thread, dropped there
    StartLine postingDone;
    RunTogether([&](std::size_t p_thread) {
        std::size_t const next = (p_thread + 1) % kThreads;
        for (int round = 0; round < kRounds; ++round) {
            Handles copy(*seeds[p_thread]);
            EXPECT_TRUE(!copy.weak.Expired() && copy.id.Get() == modifiable.operator->() &&
                        copy.nodeAccess.UniqueId() == uniqueId && copy.propertyAccess.Name() == "value");
            std::lock_guard<std::mutex> lock(locks[round % 4 == 0 ? next : p_thread]);
            if (round % 4 == 0) {
                mailboxes[next].push_back(copy);
            } else if (round % 64 == 1) {
                mailboxes[p_thread].clear();
            }
        }
        postingDone.ArriveAndWait();
        mailboxes[p_thread].clear();
        seeds[p_thread].reset();  // the last of these four deletes the node, on one of these threads
    });
    EXPECT_EQ(SharedNode::destroyed.load(), 1);
    EXPECT_FALSE(SharedNode::destroyedOnMainThread.load());
    EXPECT_TRUE(weak.Expired());
    EXPECT_FALSE(static_cast<bool>(modifiable));
    EXPECT_EQ(Counters(), start);
}

namespace {
struct GaugeNode : Node {
    Property<int> _level{*this, "level", 0};
};
}  // namespace

// The subscriber table is shared by every thread: subscribing, calling,
// cancelling and ending objects on four threads at once must neither race
// nor mix up whose subscribers are called.
TEST(SubscriptionConcurrencyTest, SubscribersOnFourThreadsAreCalledForTheirOwnObjectsOnly) {
    constexpr int kRounds = 400;
    Counters const start;
    std::vector<std::size_t> calls(kThreads, 0);
    std::vector<std::vector<Qel::Chart::Core::Subscription>> leftOver(kThreads);
    RunTogether([&](std::size_t p_thread) {
        std::size_t& mine = calls[p_thread];
        for (int round = 0; round < kRounds; ++round) {
            Ptr<GaugeNode> node = Node::Create<GaugeNode>();
            Ptr<GaugeNode> dependent = Node::Create<GaugeNode>();
            node->Deps().Insert(*dependent);
            Qel::Chart::Core::Subscription touched =
                node->OnTouched([&mine](Qel::Chart::Core::TouchEvent const&) { ++mine; });
            Qel::Chart::Core::Subscription heard =
                dependent->OnTouched([&mine](Qel::Chart::Core::TouchEvent const&) { ++mine; });
            Qel::Chart::Core::Subscription changed = node->_level.OnChanged([&mine](Property<int> const&) { ++mine; });
            node->_level.Set(round);  // three calls
            heard.Cancel();
            node->Touch();                                     // one call
            leftOver[p_thread].push_back(std::move(changed));  // outlives its node
        }
    });
    for (std::size_t count : calls) {
        EXPECT_EQ(count, static_cast<std::size_t>(4 * kRounds));
    }
    for (auto const& subscriptions : leftOver) {
        EXPECT_TRUE(std::none_of(subscriptions.begin(), subscriptions.end(),
                                 [](Qel::Chart::Core::Subscription const& p) { return p.Active(); }));
    }
    leftOver.clear();
    EXPECT_EQ(Counters(), start);
}

TEST(PropagationConcurrencyTest, OncePerObjectWalksOfDisjointLatticesOnFourThreadsTouchEachNodeOnce) {
    // Each thread walks a lattice of its own: eight layers of eight, every
    // node of a layer a dependent of every node of the layer above.
    std::vector<std::size_t> counters(kThreads);
    RunTogether([&](std::size_t p_thread) {
        std::vector<std::vector<Ptr<SmallNode>>> layers(8);
        Ptr<SmallNode> const top = Node::Create<SmallNode>();
        for (std::size_t layer = 0; layer < layers.size(); ++layer) {
            for (int i = 0; i < 8; ++i) {
                layers[layer].push_back(Node::Create<SmallNode>());
                for (Ptr<SmallNode> const& above : layer == 0 ? std::vector<Ptr<SmallNode>>{top} : layers[layer - 1]) {
                    above->Deps().Insert(*layers[layer].back());
                }
            }
        }
        Qel::Chart::Core::PropagationScope const once(Qel::Chart::Core::Propagation::OncePerObject);
        for (int round = 0; round < 50; ++round) {
            top->Touch();
        }
        std::size_t touched = 0;
        for (auto const& layer : layers) {
            for (Ptr<SmallNode> const& node : layer) {
                touched += node->Time().Counter() == 50u ? 1 : 0;
            }
        }
        counters[p_thread] = touched;
        while (!layers.empty()) {
            layers.pop_back();  // bottom up: no deletion walks what is left below it
        }
    });
    EXPECT_EQ(counters, std::vector<std::size_t>(kThreads, 64u));
}
