// Node classes registered and cloned from several threads at once.
#include "ConcurrencySupport.h"

#include <Node.h>
#include <NodeAccess.h>
#include <Ptr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

using Qel::Chart::Core::Node;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::Accessors::NodeAccess;

namespace {

constexpr std::size_t kThreads = 4;
constexpr std::size_t kClasses = 48;

// One distinct node class per K; none is created anywhere else, so each is
// registered by whichever thread of the test creates it first.
template <int K>
struct RegisteredInRace : Node {
    char _size[8 * (K % 5 + 1)] = {};
};

struct RegisteredFirst : Node {};

template <int K>
Ptr<Node> MakeOne() {
    return Node::Create<RegisteredInRace<K>>();
}

template <std::size_t... K>
constexpr std::array<Ptr<Node> (*)(), sizeof...(K)> MakersOf(std::index_sequence<K...>) {
    return {{&MakeOne<static_cast<int>(K)>...}};
}

constexpr auto kMakers = MakersOf(std::make_index_sequence<kClasses>());

// One thread's view of one class.
struct Seen {
    unsigned short typeId = 0;
    Ptr<Node> node;
    bool cloneMatches = false;
};

}  // namespace

TEST(NodeTypeRegistryConcurrencyTest, ClassesFirstCreatedOnFourThreadsGetOneDenseIdEachAndCloneRight) {
    // The registry's tables come into being on first use, which must not race.
    unsigned short const firstId = NodeAccess(Node::Create<RegisteredFirst>()).TypeId();
    int const nodesBefore = Node::_debugNodeCount.load();

    std::vector<std::array<Seen, kClasses>> seen(kThreads);
    qeltest::StartLine registered(kThreads);
    std::vector<std::size_t> crossCloneMismatches(kThreads, 0);
    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) {
        std::array<std::size_t, kClasses> order;
        for (std::size_t k = 0; k < kClasses; ++k) {
            order[k] = k;
        }
        std::mt19937 random(static_cast<unsigned>(1234 + p_thread));
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t k : order) {
            Seen& s = seen[p_thread][k];
            s.node = kMakers[k]();
            s.typeId = NodeAccess(s.node).TypeId();
            // Cloned at once, while other threads may still be registering.
            Ptr<Node> const clone = Node::CreateTypeOf(s.node);
            s.cloneMatches = clone->Type() == s.node->Type() && NodeAccess(clone).TypeId() == s.typeId &&
                             NodeAccess(clone).UniqueId() != NodeAccess(s.node).UniqueId();
        }
        registered.ArriveAndWait();
        // Then clone the nodes another thread made.
        for (Seen const& other : seen[(p_thread + 1) % kThreads]) {
            Ptr<Node> const clone = Node::CreateTypeOf(other.node);
            if (!(clone->Type() == other.node->Type()) || NodeAccess(clone).TypeId() != other.typeId) {
                ++crossCloneMismatches[p_thread];
            }
        }
    });

    std::set<unsigned short> ids;
    for (std::size_t k = 0; k < kClasses; ++k) {
        unsigned short const id = seen[0][k].typeId;
        for (std::size_t t = 0; t < kThreads; ++t) {
            EXPECT_EQ(seen[t][k].typeId, id) << "class " << k << " on thread " << t;
            EXPECT_TRUE(seen[t][k].cloneMatches) << "class " << k << " on thread " << t;
            EXPECT_TRUE(seen[t][k].node->Type() == seen[0][k].node->Type());
        }
        ids.insert(id);
    }
    ASSERT_EQ(ids.size(), kClasses) << "two classes share a type id";
    // Nothing else registers meanwhile, so the ids form one run without gaps.
    EXPECT_GT(*ids.begin(), firstId);
    EXPECT_EQ(static_cast<std::size_t>(*ids.rbegin() - *ids.begin()) + 1, kClasses);
    for (std::size_t mismatches : crossCloneMismatches) {
        EXPECT_EQ(mismatches, 0u);
    }
    seen.clear();
    EXPECT_EQ(Node::_debugNodeCount.load(), nodesBefore);
}
