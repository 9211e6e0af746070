#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

using namespace graphtest;
using qeldebug::allocationtracker;

namespace {

class Empty : public Node {};

// Remembers its node line as it was inside its own constructor, before the
// creation step recorded its type.
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

// Touches itself from its destructor, that is after its deallocation was announced.
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

// Refuses its own deallocation once, so that the deleter fails; the test
// then ends it by hand.
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

struct Counters {
    int nodes = Node::_debugNodeCount.load();
    int memory = Node::_debugNodeMemUsage.load();
    std::size_t blocks = allocationtracker::blocks_in_use();
    std::size_t bytes = allocationtracker::bytes_in_use();

    bool operator==(Counters const& p_other) const {
        return nodes == p_other.nodes && memory == p_other.memory && blocks == p_other.blocks && bytes == p_other.bytes;
    }
};
std::ostream& operator<<(std::ostream& p_stream, Counters const& p_counters) {
    return p_stream << "nodes " << p_counters.nodes << ", memory " << p_counters.memory << ", blocks "
                    << p_counters.blocks << ", bytes " << p_counters.bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Identity and initial state

#if GTEST_HAS_DEATH_TEST
TEST(NodeIdentityTest, TheFirstNodeOfAProcessHasIdOne) {
    // A fresh process: the test binary is started again for the statement alone.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto first = Node::Create<Empty>();
            std::_Exit(UniqueIdOf(first));
        },
        ::testing::ExitedWithCode(1), "");
}
#endif

TEST(NodeIdentityTest, IdsIncreaseAcrossDeletionsAndAreNeverReused) {
    int firstId = 0;
    {
        auto first = Node::Create<Empty>();
        firstId = UniqueIdOf(first);
    }
    auto second = Node::Create<Empty>();
    auto third = Node::Create<Empty>();
    EXPECT_EQ(UniqueIdOf(second), firstId + 1);
    EXPECT_EQ(UniqueIdOf(third), firstId + 2);
}

TEST(NodeIdentityTest, ANewNodeStartsBlankAndCounted) {
    int const countBefore = Node::_debugNodeCount.load();
    auto node = Node::Create<SeenUnderConstruction>();
    EXPECT_EQ(Node::_debugNodeCount.load(), countBefore + 1);
    EXPECT_EQ(node->Name(), "");
    unsigned int tag = 0;
    NodeAccess(node).GetUserTag(tag);
    EXPECT_EQ(tag, 4294967295u);
    EXPECT_NE(node->lineDuringConstruction.find(" type.id(65535) "), std::string::npos) << node->lineDuringConstruction;
    EXPECT_NE(TypeIdOf(node), 0xFFFF);
    EXPECT_EQ(node->Deps().Begin(), nullptr);
    EXPECT_EQ(node->Time(), TimeStamp());
    EXPECT_FALSE(node->IsDeallocated());
}

TEST(NodeIdentityTest, IdentifiersNameTheNodeAndExpireWithIt) {
    IModifiable::Identifier first, second;
    IModifiable const* address = nullptr;
    {
        auto node = Node::Create<Empty>();
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
}

TEST(NodeIdentityTest, AnEmptyNodeOwnsNoHeapBlockOfItsOwn) {
    Node::Create<Empty>();  // registers the class; its owner block is kept for reuse
    std::size_t const blocks = allocationtracker::blocks_in_use();
    Ptr<Empty> node;
    Ptr<Empty> second;
    {
        // The node itself comes from the tracker; the owning pointer's
        // control block is the one the node above gave back.
        qeltest::AllocationCounter counter;
        node = Node::Create<Empty>();
        EXPECT_EQ(NewCalls(counter), 0u);
    }
    {
        // With no block to reuse, operator new serves the control block only.
        qeltest::AllocationCounter counter;
        second = Node::Create<Empty>();
        EXPECT_EQ(NewCalls(counter), 1u);
    }
    EXPECT_EQ(allocationtracker::blocks_in_use(), blocks + 2);
    {
        // The identity anchor is made on the first request only.
        qeltest::AllocationCounter counter;
        node->Id();
        EXPECT_EQ(NewCalls(counter), 1u);
        node->Id();
        EXPECT_EQ(NewCalls(counter), 1u);
    }
}

// ---------------------------------------------------------------------------
// Creation and deletion

TEST(NodeLifetimeTest, CountersFollowANodeInAndOut) {
    Counters const before;
    {
        auto node = Node::Create<Empty>();
        Counters const during;
        EXPECT_EQ(during.nodes, before.nodes + 1);
        EXPECT_EQ(during.memory, before.memory + static_cast<int>(sizeof(Empty)));
        EXPECT_EQ(during.blocks, before.blocks + 1);
        EXPECT_EQ(during.bytes, before.bytes + sizeof(Empty));
    }
    EXPECT_EQ(Counters(), before);
}

TEST(NodeLifetimeTest, AThrowingConstructorLeavesEveryCounterAsBefore) {
    Counters const before;
    EXPECT_THROW(Node::Create<ThrowsOnConstruction>(), std::runtime_error);
    EXPECT_EQ(Counters(), before);
}

TEST(NodeLifetimeTest, DeletionWritesOneTraceLineCountingTheNodeItself) {
    auto node = Node::Create<Empty>();
    std::string const expected = "delete node id(" + std::to_string(UniqueIdOf(node)) + ") type(" +
                                 std::to_string(TypeIdOf(node)) +
                                 ") : count = " + std::to_string(Node::_debugNodeCount.load());
    int const countBefore = Node::_debugNodeCount.load();
    capture cap;
    node = Ptr<Empty>();
    auto const lines = qeltest::OfKind(cap, reportkind::dout);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].category, "Trace");
    EXPECT_EQ(lines[0].text, expected);
    EXPECT_EQ(Node::_debugNodeCount.load(), countBefore - 1);
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
    {
        auto node = Node::Create<TouchesWhenDestroyed>(stampMoved);
        node->Deps().Insert(*dependent);
        capture cap;
        node = Ptr<TouchesWhenDestroyed>();
        EXPECT_EQ(qeltest::Texts(cap, reportkind::derr),
                  std::vector<std::string>{"WARNING : Event propagation after node is deallocated!"});
    }
    EXPECT_FALSE(stampMoved);
    // The Deallocate and nothing after it.
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].change, IModifiable::Deallocate);
}

TEST(NodeLifetimeTest, AFailedDeletionIsReportedAndKeepsTheNodeCounted) {
    Counters const before;
    auto node = Node::Create<RefusesToGo>();
    RefusesToGo* const raw = node.Get();
    Counters const alive;
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
