#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

using namespace graphtest;
using qeldebug::allocationtracker;

namespace {

class Empty : public Node {};

class ThrowsOnConstruction : public Node {
public:
    ThrowsOnConstruction() : _width(this, "width") { throw std::runtime_error("refused"); }
    TestProperty _width;
};

// Touches itself after its deallocation was announced.
class TouchesWhenDestroyed : public Node {
public:
    explicit TouchesWhenDestroyed(bool& p_stampMoved) : _stampMoved(p_stampMoved) {}
    ~TouchesWhenDestroyed() override {
        TimeStamp const before = Time();
        Touch();
        _stampMoved = Time() != before;
    }
    bool& _stampMoved;
};

// Refuses its deallocation, so that the deleter fails; the test ends it by hand.
class RefusesToGo : public Node {
protected:
    void TouchThis(IModifiable::ModifiableType, IModifiable::Change, IModifiable::Relationship, WeakPtr<Node> const&,
                   std::string const&, boost::any const&) override {
        throw std::runtime_error("not now");
    }
};

// Live nodes, node memory, tracked blocks and tracked bytes.
std::tuple<int, int, std::size_t, std::size_t> Counters() {
    return {Node::_debugNodeCount.load(), Node::_debugNodeMemUsage.load(), allocationtracker::blocks_in_use(),
            allocationtracker::bytes_in_use()};
}

}  // namespace

TEST(NodeLifetimeTest, ANodeLeavesNoTraceAndAThrowingConstructorIsRolledBack) {
    auto const before = Counters();
    IModifiable::Identifier id;
    {
        auto node = Node::Create<Empty>();
        id = node->Id();
        auto const [nodes, memory, blocks, bytes] = before;
        EXPECT_EQ(Counters(),
                  std::make_tuple(nodes + 1, memory + int{sizeof(Empty)}, blocks + 1, bytes + sizeof(Empty)));
    }
    EXPECT_TRUE(id.Expired());
    EXPECT_EQ(Counters(), before);
    EXPECT_THROW(Node::Create<ThrowsOnConstruction>(), std::runtime_error);
    EXPECT_EQ(Counters(), before);  // its registered property included
}

TEST(NodeLifetimeTest, DeletionTellsTheDependentsWithAnExpiredOriginatorAndWritesOneTrace) {
    TouchLog log;
    auto doomed = Node::Create<RecordingNode>("doomed", &log), child = Node::Create<RecordingNode>("c", &log);
    auto grandchild = Node::Create<RecordingNode>("g", &log);
    doomed->Deps().Insert(*child);
    child->Deps().Insert(*grandchild);
    std::string const trace = "delete node id(" + std::to_string(UniqueIdOf(doomed)) + ") type(" +
                              std::to_string(TypeIdOf(doomed)) +
                              ") : count = " + std::to_string(Node::_debugNodeCount.load());
    capture cap;
    doomed = Ptr<RecordingNode>();
    EXPECT_EQ(log.trail, "doomedS-:D cE-:D gI-:D");
    EXPECT_EQ(log.typesAndNames.back(), std::make_pair(IModifiable::TypeNode, std::string("doomed")));
    EXPECT_EQ(qeltest::Texts(cap, reportkind::dout), Names{trace});
    EXPECT_EQ(cap.records()[0].category, "Trace");
}

TEST(NodeLifetimeTest, ATouchAfterTheDeallocationIsAnnouncedOnlyWarns) {
    bool stampMoved = true;
    TouchLog log;
    auto dependent = Node::Create<RecordingNode>("d", &log);
    auto node = Node::Create<TouchesWhenDestroyed>(stampMoved);
    node->Deps().Insert(*dependent);
    capture cap;
    node = Ptr<TouchesWhenDestroyed>();
    EXPECT_EQ(qeltest::Texts(cap, reportkind::derr), Names{"WARNING : Event propagation after node is deallocated!"});
    EXPECT_EQ(log.trail, "dE-:D");  // and nothing after it
    EXPECT_FALSE(stampMoved);
}

TEST(NodeLifetimeTest, AFailedDeletionIsReportedTwiceAndKeepsTheNodeCounted) {
    auto const before = Counters();
    auto node = Node::Create<RefusesToGo>();
    RefusesToGo* const raw = node.Get();
    auto const alive = Counters();
    {
        capture cap(failpolicy::throwing);
        EXPECT_NO_THROW(node = Ptr<RefusesToGo>());
        ASSERT_EQ(cap.records().size(), 3u);  // the trace first
        EXPECT_EQ(cap.records()[1].kind, reportkind::derr);
        EXPECT_EQ(cap.records()[1].category, "");
        EXPECT_EQ(cap.records()[1].text,
                  "WARNING: \"false && \"Exception caught while deallocating a node!\"\" - void __cdecl "
                  "Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line239");
        EXPECT_EQ(cap.records()[2].kind, reportkind::handleexcept);
        EXPECT_EQ(cap.records()[2].text,
                  "void __cdecl Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line240");
    }
    EXPECT_EQ(Counters(), alive);
    raw->~RefusesToGo();
    Node::_debugNodeMemUsage.add(-static_cast<int>(allocationtracker::deallocate(raw)));
    EXPECT_EQ(Counters(), before);
}
