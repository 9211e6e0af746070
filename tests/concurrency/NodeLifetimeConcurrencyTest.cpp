// Nodes created, owned and deleted on several threads at once: unique ids,
// the counters, the deleter's per-thread queue, and handles that cross threads.
#include "ConcurrencySupport.h"

#include <ModifiablePtr.h>
#include <Node.h>
#include <NodeAccess.h>
#include <Property.h>
#include <PropertyAccess.h>
#include <Ptr.h>
#include <TestSupport.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::ModifiablePtr;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::Property;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::TimeStamp;
using Qel::Chart::Core::WeakPtr;
using Qel::Chart::Core::Accessors::NodeAccess;
using Qel::Chart::Core::Accessors::PropertyAccess;

namespace {

constexpr std::size_t kThreads = 4;

// What the process-wide bookkeeping says at one moment.
struct Counters {
    int nodes;
    int nodeBytes;
    std::size_t trackedBytes;
    std::size_t trackedBlocks;

    static Counters Now() {
        return Counters{Node::_debugNodeCount.load(), Node::_debugNodeMemUsage.load(),
                        qeldebug::allocationtracker::bytes_in_use(), qeldebug::allocationtracker::blocks_in_use()};
    }
};

void ExpectSameCounters(Counters const& p_before, Counters const& p_after) {
    EXPECT_EQ(p_after.nodes, p_before.nodes);
    EXPECT_EQ(p_after.nodeBytes, p_before.nodeBytes);
    EXPECT_EQ(p_after.trackedBytes, p_before.trackedBytes);
    EXPECT_EQ(p_after.trackedBlocks, p_before.trackedBlocks);
}

struct SmallNode : Node {};

// Larger than SmallNode, with a name long enough to live in a heap block.
struct NamedNode : Node {
    char _payload[200] = {};
};

// A node that owns the next one: dropping the head deletes the whole chain
// through the deleter's queue on the dropping thread.
struct ChainLink : Node {
    explicit ChainLink(std::atomic<int>* p_destroyed) : _destroyed(p_destroyed) {}
    ~ChainLink() override { _destroyed->fetch_add(1); }
    std::atomic<int>* _destroyed;
    Ptr<Node> _next;
};

}  // namespace

// ---------------------------------------------------------------------------

TEST(NodeLifetimeConcurrencyTest, NodesMadeAndDroppedOnFourThreadsGetUniqueIdsAndLeaveCountersAsTheyWere) {
    constexpr std::size_t kPerThread = 3000;
    constexpr std::size_t kKeptAlive = 24;  // so that creations and deletions interleave
    // The classes are registered before the threads start; registration
    // under contention has its own test.
    int const before = NodeAccess(Node::Create<SmallNode>()).UniqueId();
    Node::Create<NamedNode>();
    Counters const start = Counters::Now();

    std::vector<std::vector<int>> ids(kThreads);
    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) {
        std::vector<int>& mine = ids[p_thread];
        mine.reserve(kPerThread);
        std::vector<Ptr<Node>> alive;
        for (std::size_t i = 0; i < kPerThread; ++i) {
            Ptr<Node> node = (i % 3 == 0) ? Ptr<Node>(Node::Create<NamedNode>()) : Ptr<Node>(Node::Create<SmallNode>());
            NodeAccess access(node);
            if (i % 3 == 0) {
                access.SetName("a name too long to be stored inline " + std::to_string(i));
            }
            mine.push_back(access.UniqueId());
            alive.push_back(node);
            if (alive.size() == kKeptAlive) {
                // Drop from the middle too, not only the oldest.
                alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(i % kKeptAlive));
                alive.erase(alive.begin());
            }
        }
    });

    std::set<int> all;
    for (std::vector<int> const& mine : ids) {
        ASSERT_EQ(mine.size(), kPerThread);
        // One counter hands out the ids, so each thread sees them rising.
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
        EXPECT_TRUE(std::adjacent_find(mine.begin(), mine.end()) == mine.end());
        for (int id : mine) {
            EXPECT_GT(id, before);
        }
        all.insert(mine.begin(), mine.end());
    }
    EXPECT_EQ(all.size(), kThreads * kPerThread) << "a unique id was handed out twice";
    ExpectSameCounters(start, Counters::Now());
}

TEST(NodeLifetimeConcurrencyTest, OwnershipChainsDeletedOnFourThreadsAtOnceAreEachDeletedOnce) {
    constexpr int kLength = 2000;
    std::atomic<int> destroyed{0};
    Node::Create<ChainLink>(&destroyed);
    destroyed.store(0);
    Counters const start = Counters::Now();

    std::vector<Ptr<Node>> heads(kThreads);
    for (Ptr<Node>& head : heads) {
        Ptr<ChainLink> first = Node::Create<ChainLink>(&destroyed);
        ChainLink* last = first.Get();
        for (int i = 1; i < kLength; ++i) {
            Ptr<ChainLink> link = Node::Create<ChainLink>(&destroyed);
            last->_next = link;
            last = link.Get();
        }
        head = first;
    }
    ASSERT_EQ(Node::_debugNodeCount.load(), start.nodes + static_cast<int>(kThreads) * kLength);

    // Each thread drops one chain: every link's deletion starts inside the
    // deletion of the link before it, on that thread.
    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) { heads[p_thread] = Ptr<Node>(); });

    EXPECT_EQ(destroyed.load(), static_cast<int>(kThreads) * kLength);
    ExpectSameCounters(start, Counters::Now());
}

// ---------------------------------------------------------------------------
// Handles to one node passed between threads.

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

// A queue through which one thread hands copies to the next.
class Mailbox {
public:
    void Post(Handles const& p_handles) {
        std::lock_guard<std::mutex> lock(_mutex);
        _items.push_back(p_handles);
    }
    // Drops everything received, on the calling thread.
    std::size_t DropAll() {
        std::deque<Handles> taken;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            taken.swap(_items);
        }
        return taken.size();
    }

private:
    std::mutex _mutex;
    std::deque<Handles> _items;
};

// True when every handle still reaches the live node.
bool AllLive(Handles const& p_handles, int p_uniqueId) {
    return !p_handles.weak.Expired() && !p_handles.id.Expired() && p_handles.id.Get() != nullptr &&
           static_cast<bool>(p_handles.modifiable) && p_handles.modifiable.operator->() == p_handles.id.Get() &&
           p_handles.nodeAccess.UniqueId() == p_uniqueId && p_handles.propertyAccess.Name() == "value";
}

}  // namespace

TEST(NodeHandleConcurrencyTest, HandlesCopiedAndDroppedAcrossThreadsThenLastOwnerGoesOnAnotherThread) {
    constexpr int kRounds = 2000;
    SharedNode::mainThread = std::this_thread::get_id();
    SharedNode::destroyed.store(0);
    SharedNode::destroyedOnMainThread.store(false);

    Ptr<Node> dependent = Node::Create<SmallNode>();
    TimeStamp const dependentBefore = dependent->Time();
    Counters const start = Counters::Now();

    qeldebug::capture capture(qeldebug::failpolicy::returning);
    std::optional<Handles> seed;
    {
        Ptr<SharedNode> node = Node::Create<SharedNode>();
        node->Deps().Insert(*dependent);
        // The first Id() of a node must not race; it happens here, once.
        IModifiable::Identifier const id = node->Id();
        seed.emplace(
            Handles{node, NodeAccess(node), PropertyAccess(node, "value"), WeakPtr<Node>(node), id, ModifiablePtr(id)});
    }
    int const uniqueId = seed->nodeAccess.UniqueId();
    // Main keeps weak handles only.
    WeakPtr<Node> const weak = seed->weak;
    IModifiable::Identifier const id = seed->id;
    ModifiablePtr const modifiable = seed->modifiable;
    std::vector<std::optional<Handles>> seeds(kThreads, seed);
    seed.reset();

    std::vector<Mailbox> mailboxes(kThreads);
    std::vector<int> failures(kThreads, 0);
    qeltest::StartLine postingDone(kThreads);
    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) {
        Mailbox& next = mailboxes[(p_thread + 1) % kThreads];
        for (int round = 0; round < kRounds; ++round) {
            Handles copy(*seeds[p_thread]);
            if (!AllLive(copy, uniqueId)) {
                ++failures[p_thread];
            }
            if (round % 4 == 0) {
                next.Post(copy);  // dropped by the next thread
            }
            if (round % 64 == 0) {
                mailboxes[p_thread].DropAll();
            }
        }
        postingDone.ArriveAndWait();
        mailboxes[p_thread].DropAll();
        // The last of these four resets deletes the node, on one of these threads.
        seeds[p_thread].reset();
    });

    for (int failure : failures) {
        EXPECT_EQ(failure, 0) << "a handle did not reach the live node";
    }
    EXPECT_EQ(SharedNode::destroyed.load(), 1);
    EXPECT_FALSE(SharedNode::destroyedOnMainThread.load());
    EXPECT_TRUE(weak.Expired());
    EXPECT_TRUE(id.Expired());
    EXPECT_EQ(id.Get(), nullptr);
    EXPECT_FALSE(static_cast<bool>(modifiable));
    EXPECT_EQ(modifiable.operator->(), nullptr);
    // The deletion was announced once, and reached the dependent.
    std::string const trace = "delete node id(" + std::to_string(uniqueId) + ") ";
    std::size_t traces = 0;
    for (qeldebug::record const& r : qeltest::OfKind(capture, qeldebug::reportkind::dout)) {
        if (r.category == "Trace" && r.text.compare(0, trace.size(), trace) == 0) {
            ++traces;
        }
    }
    EXPECT_EQ(traces, 1u);
    EXPECT_FALSE(dependent->Time() == dependentBefore);
    ExpectSameCounters(start, Counters::Now());
}
