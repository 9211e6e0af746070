#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

using namespace graphtest;
using qeldebug::allocationtracker;

namespace {

class Empty : public Node {};

// Keeps its node line as it was before the creation step recorded its type.
class SeenUnderConstruction : public Node {
public:
    SeenUnderConstruction() {
        std::ostringstream line;
        line << *this;
        lineDuringConstruction = line.str();
    }
    std::string lineDuringConstruction;
};

class ThrowsOnConstruction : public Node {
public:
    ThrowsOnConstruction() : _width(*this, "width") { throw std::runtime_error("refused"); }

private:
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

private:
    bool& _stampMoved;
};

// Refuses its deallocation, so that the deleter fails; the test ends it by hand.
class RefusesToGo : public Node {
public:
    static void EndByHand(RefusesToGo* p_node) {
        p_node->~RefusesToGo();
        std::size_t const bytes = allocationtracker::deallocate(p_node);
        Node::_debugNodeMemUsage.add(-static_cast<int>(bytes));
    }

protected:
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override {
        if (change == IModifiable::Deallocate) {
            throw std::runtime_error("not now");
        }
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }
};

// Live nodes, node memory, tracked blocks and tracked bytes.
std::tuple<int, int, std::size_t, std::size_t> Counters() {
    return {Node::_debugNodeCount.load(), Node::_debugNodeMemUsage.load(), allocationtracker::blocks_in_use(),
            allocationtracker::bytes_in_use()};
}

}  // namespace

#if GTEST_HAS_DEATH_TEST
TEST(NodeIdentityTest, TheFirstNodeOfAProcessHasIdOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process runs the statement alone
    EXPECT_EXIT(std::_Exit(UniqueIdOf(Node::Create<Empty>())), ::testing::ExitedWithCode(1), "");
}
#endif

TEST(NodeIdentityTest, ANewNodeStartsBlankWithIdsAndIdentifiersNeverReused) {
    IModifiable::Identifier first, second;
    IModifiable const* address = nullptr;
    int firstId = 0;
    {
        auto node = Node::Create<SeenUnderConstruction>();
        EXPECT_NE(node->lineDuringConstruction.find(" type.id(65535) "), std::string::npos)
            << node->lineDuringConstruction;
        EXPECT_NE(TypeIdOf(node), 0xFFFF);
        EXPECT_EQ(node->Deps().Begin(), nullptr);
        EXPECT_EQ(node->Time(), TimeStamp());
        EXPECT_FALSE(node->IsDeallocated());
        firstId = UniqueIdOf(node);
        first = node->Id();
        second = node->Id();
        address = node.Get();
        EXPECT_EQ(first, second);
        EXPECT_EQ(first.Get(), address);
        EXPECT_FALSE(second.Expired());
    }
    EXPECT_TRUE(first.Expired());
    EXPECT_TRUE(second.Expired());
    EXPECT_EQ(first.Get(), nullptr);
    EXPECT_EQ(first.Address(), address);
    auto next = Node::Create<Empty>(), last = Node::Create<Empty>();
    EXPECT_EQ(UniqueIdOf(next), firstId + 1);
    EXPECT_EQ(UniqueIdOf(last), firstId + 2);
}

TEST(NodeIdentityTest, AnEmptyNodeOwnsNoHeapBlockOfItsOwn) {
    // Take every owner block kept for reuse by earlier tests, then give one back.
    std::vector<Ptr<Empty>> held;
    held.reserve(100);
    for (std::size_t calls = 0; calls == 0 && held.size() < 100;) {
        qeltest::AllocationCounter counter;
        held.push_back(Node::Create<Empty>());
        calls = NewCalls(counter);
    }
    held.pop_back();
    std::size_t const blocks = allocationtracker::blocks_in_use();
    Ptr<Empty> node, second;
    {
        // The node comes from the tracker, its owner block from the one given back.
        qeltest::AllocationCounter counter;
        node = Node::Create<Empty>();
        EXPECT_EQ(NewCalls(counter), 0u);
    }
    {
        // With no block to reuse, operator new serves the owner block only.
        qeltest::AllocationCounter counter;
        second = Node::Create<Empty>();
        EXPECT_EQ(NewCalls(counter), 1u);
    }
    EXPECT_EQ(allocationtracker::blocks_in_use(), blocks + 2);
    {
        // The identity anchor is made on the first request only.
        qeltest::AllocationCounter counter;
        node->Id();
        node->Id();
        EXPECT_EQ(NewCalls(counter), 1u);
    }
}

TEST(NodeLifetimeTest, CountersFollowANodeInAndOutAndAThrowingConstructorLeavesNoTrace) {
    auto const before = Counters();
    {
        auto node = Node::Create<Empty>();
        auto const [nodes, memory, blocks, bytes] = before;
        EXPECT_EQ(Counters(), std::make_tuple(nodes + 1, memory + static_cast<int>(sizeof(Empty)), blocks + 1,
                                              bytes + sizeof(Empty)));
    }
    EXPECT_EQ(Counters(), before);
    EXPECT_THROW(Node::Create<ThrowsOnConstruction>(), std::runtime_error);
    EXPECT_EQ(Counters(), before);
}

TEST(NodeLifetimeTest, DeletionWritesOneTraceLineCountingTheNodeItself) {
    auto node = Node::Create<Empty>();
    int const count = Node::_debugNodeCount.load();
    std::string const expected = "delete node id(" + std::to_string(UniqueIdOf(node)) + ") type(" +
                                 std::to_string(TypeIdOf(node)) + ") : count = " + std::to_string(count);
    capture cap;
    node = Ptr<Empty>();
    auto const lines = qeltest::OfKind(cap, reportkind::dout);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].category, "Trace");
    EXPECT_EQ(lines[0].text, expected);
    EXPECT_EQ(Node::_debugNodeCount.load(), count - 1);
}

TEST(NodeLifetimeTest, DeallocateReachesEveryDependentBeforeTheListIsCleared) {
    TouchLog log;
    auto doomed = Node::Create<RecordingNode>("doomed", &log);
    auto child = Node::Create<RecordingNode>("child", &log);
    auto grandchild = Node::Create<RecordingNode>("grandchild", &log);
    doomed->Deps().Insert(*child);
    child->Deps().Insert(*grandchild);
    RecordingNode* const raw = doomed.Get();
    std::size_t listSizeSeen = 0;
    child->SetHook([&](RecordingNode&, IModifiable::Relationship p_relationship, IModifiable::Change p_change) {
        if (p_change == IModifiable::Deallocate && p_relationship == IModifiable::Explicit) {
            listSizeSeen = raw->Deps().Size();
        }
        return true;
    });

    doomed = Ptr<RecordingNode>();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(Receivers(log), (std::vector<std::string>{"doomed", "child", "grandchild"}));
    EXPECT_EQ(log[1].relationship, IModifiable::Explicit);
    EXPECT_EQ(log[2].relationship, IModifiable::Implicit);
    for (TouchRecord const& r : log) {
        EXPECT_EQ(r.change, IModifiable::Deallocate);
        EXPECT_EQ(r.type, IModifiable::TypeNode);
        EXPECT_EQ(r.name, "doomed");
        EXPECT_EQ(r.originator, "-");  // no owner is left by the time it is sent
    }
    EXPECT_EQ(listSizeSeen, 1u);
    EXPECT_EQ(child->Stamp(), 1u);
    EXPECT_EQ(grandchild->Stamp(), 1u);
}

TEST(NodeLifetimeTest, ATouchAfterTheDeallocationIsAnnouncedOnlyWarns) {
    bool stampMoved = true;
    TouchLog log;
    auto dependent = Node::Create<RecordingNode>("dependent", &log);
    auto node = Node::Create<TouchesWhenDestroyed>(stampMoved);
    node->Deps().Insert(*dependent);
    capture cap;
    node = Ptr<TouchesWhenDestroyed>();
    EXPECT_EQ(qeltest::Texts(cap, reportkind::derr),
              std::vector<std::string>{"WARNING : Event propagation after node is deallocated!"});
    EXPECT_FALSE(stampMoved);
    ASSERT_EQ(log.size(), 1u);  // the Deallocate and nothing after it
    EXPECT_EQ(log[0].change, IModifiable::Deallocate);
}
TEST(NodeLifetimeTest, AFailedDeletionIsReportedAndKeepsTheNodeCounted) {
    auto const before = Counters();
    auto node = Node::Create<RefusesToGo>();
    RefusesToGo* const raw = node.Get();
    auto const alive = Counters();
    {
        capture cap(failpolicy::throwing);
        EXPECT_NO_THROW(node = Ptr<RefusesToGo>());
        ASSERT_EQ(cap.records().size(), 3u);
        EXPECT_EQ(cap.records()[0].category, "Trace");
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
    RefusesToGo::EndByHand(raw);
    EXPECT_EQ(Counters(), before);
}
