// Each thread propagates changes through a graph of its own while the others
// do the same: the walk's per-thread stack must keep the walks apart.
#include "ConcurrencySupport.h"

#include <Node.h>
#include <NodeAccess.h>
#include <Ptr.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

using Qel::Chart::Core::DynamicPtrCast;
using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::WeakPtr;
using Qel::Chart::Core::Accessors::NodeAccess;

namespace {

constexpr std::size_t kThreads = 4;

// Counts what reaches it. A relay also touches another node from inside
// its own TouchThis, which starts a walk nested in the running one.
struct GraphNode : Node {
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override {
        ++_touches;
        _last = relationship;
        if (_relay && relationship != IModifiable::Self) {
            _relay->Touch();
        }
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }
    int _touches = 0;
    IModifiable::Relationship _last = IModifiable::Self;
    Ptr<Node> _relay;
};

// One thread's graph: root -> chain[0] -> chain[1] -> ..., root -> each leaf,
// and chain[0] relays to a second chain of its own.
struct Graph {
    static constexpr std::size_t kChain = 40;
    static constexpr std::size_t kLeaves = 8;
    static constexpr std::size_t kRelayed = 30;

    Ptr<GraphNode> root;
    std::vector<Ptr<GraphNode>> chain;
    std::vector<Ptr<GraphNode>> leaves;
    std::vector<Ptr<GraphNode>> relayed;

    Graph() : root(Node::Create<GraphNode>()) {
        Ptr<GraphNode> previous = root;
        for (std::size_t i = 0; i < kChain; ++i) {
            chain.push_back(Node::Create<GraphNode>());
            previous->Deps().Insert(*chain.back());
            previous = chain.back();
        }
        for (std::size_t i = 0; i < kLeaves; ++i) {
            leaves.push_back(Node::Create<GraphNode>());
            root->Deps().Insert(*leaves.back());
        }
        Ptr<GraphNode> relayHead = Node::Create<GraphNode>();
        previous = relayHead;
        for (std::size_t i = 0; i < kRelayed; ++i) {
            relayed.push_back(Node::Create<GraphNode>());
            previous->Deps().Insert(*relayed.back());
            previous = relayed.back();
        }
        chain[0]->_relay = relayHead;
    }
};

// What one thread found wrong in its own graph.
struct Findings {
    std::size_t wrongCounts = 0;
    std::size_t wrongRelationships = 0;
    std::size_t rootListSize = 0;
};

}  // namespace

TEST(SeparateGraphsConcurrencyTest, WalksOnFourThreadsEachTouchOnlyTheirOwnGraph) {
    constexpr int kTouches = 150;
    constexpr std::size_t kDropped = 3;  // leaves dropped halfway
    Node::Create<GraphNode>();           // registered before the threads start
    int const nodesBefore = Node::_debugNodeCount.load();
    std::vector<Findings> findings(kThreads);

    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) {
        Graph graph;
        NodeAccess root(graph.root);
        for (int i = 0; i < kTouches; ++i) {
            if (i == kTouches / 2) {
                graph.leaves.erase(graph.leaves.begin(), graph.leaves.begin() + kDropped);
            }
            root.Touch();
        }
        Findings& mine = findings[p_thread];
        auto check = [&](Ptr<GraphNode> const& p_node, int p_count, IModifiable::Relationship p_last) {
            mine.wrongCounts += p_node->_touches != p_count;
            mine.wrongRelationships += p_node->_last != p_last;
        };
        check(graph.root, kTouches, IModifiable::Self);
        check(graph.chain[0], kTouches, IModifiable::Explicit);
        for (std::size_t i = 1; i < graph.chain.size(); ++i) {
            check(graph.chain[i], kTouches, IModifiable::Implicit);
        }
        for (Ptr<GraphNode> const& leaf : graph.leaves) {
            check(leaf, kTouches, IModifiable::Explicit);
        }
        // The relayed chain runs as a walk of its own, started from inside the outer one.
        check(DynamicPtrCast<GraphNode>(graph.chain[0]->_relay), kTouches, IModifiable::Self);
        check(graph.relayed[0], kTouches, IModifiable::Explicit);
        for (std::size_t i = 1; i < graph.relayed.size(); ++i) {
            check(graph.relayed[i], kTouches, IModifiable::Implicit);
        }
        // The dropped leaves' entries were squeezed out by the next walk.
        mine.rootListSize = graph.root->Deps().Size();
    });

    for (std::size_t i = 0; i < kThreads; ++i) {
        EXPECT_EQ(findings[i].wrongCounts, 0u) << "thread " << i;
        EXPECT_EQ(findings[i].wrongRelationships, 0u) << "thread " << i;
        EXPECT_EQ(findings[i].rootListSize, 1 + Graph::kLeaves - kDropped) << "thread " << i;
    }
    EXPECT_EQ(Node::_debugNodeCount.load(), nodesBefore);
}
