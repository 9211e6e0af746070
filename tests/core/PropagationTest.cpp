#include <Node.h>
#include <NodeAccess.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

using namespace graphtest;

namespace {

// Nodes that record into one log; the log outlives them.
struct Graph {
    Ptr<RecordingNode> Add(std::string const& p_label) { return Node::Create<RecordingNode>(p_label, &log); }
    TouchLog log;
};

// The nodes in `p_to` depend on `p_from`, in that order.
void Link(Ptr<RecordingNode> const& p_from, std::initializer_list<Ptr<RecordingNode>> p_to) {
    for (auto const& to : p_to) {
        p_from->Deps().Insert(*to);
    }
}

// Runs `p_action` when `p_node` hears a Force, before the node handles it.
void OnForce(Ptr<RecordingNode> const& p_node, std::function<void()> p_action) {
    p_node->SetHook([p_action](IModifiable::Relationship, IModifiable::Change p_change) {
        if (p_change == IModifiable::Force) {
            p_action();
        }
        return true;
    });
}

class Plain : public Node {};

}  // namespace

TEST(PropagationTest, DependentsBeforeTheirDependentsThenTheNextEntryAllWithTheTouchedNodeAsOriginator) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), z = g.Add("z"), d = g.Add("d");
    Link(a, {x, y});
    Link(x, {z});
    Link(z, {d});
    a->CallTouchThis(IModifiable::Remove, IModifiable::Self, WeakPtr<Node>());
    EXPECT_EQ(g.log.trail, "aS-:R xEa:R zIa:R dIa:R yEa:R");
    for (auto const& typeAndName : g.log.typesAndNames) {
        EXPECT_EQ(typeAndName, std::make_pair(IModifiable::TypeProperty, std::string("width")));
    }
    // Below Self a TouchThis stamps the node without walking its list.
    a->CallTouchThis(IModifiable::Edit, IModifiable::Explicit, WeakPtr<Node>(d));
    a->CallTouchThis(IModifiable::Edit, IModifiable::Implicit, WeakPtr<Node>(d));
    EXPECT_EQ(a->Stamp(), 3u);
    EXPECT_EQ(x->Stamp(), 1u);
}

TEST(PropagationTest, EveryPathAndDuplicateIsWalkedUntilAListAlreadyOnThePath) {
    Graph g;
    auto a = g.Add("a"), b = g.Add("b"), c = g.Add("c"), d = g.Add("d"), e = g.Add("e");
    Link(a, {b, c, e, e});
    Link(b, {d});
    Link(c, {d});
    Link(d, {a});
    a->Touch();
    // d is reached twice; a's list is not walked again, but a hears of it.
    EXPECT_EQ(g.log.trail, "aS-:F bEa:F dIa:F aIa:F cEa:F dIa:F aIa:F eEa:F eEa:F");
    EXPECT_EQ(a->Stamp(), 3u);
    EXPECT_EQ(d->Stamp(), 2u);
}

TEST(PropagationTest, FaultsAreReportedOnceAndTheWalkGoesOnWhenTheReportReturns) {
    std::string const signature =
        "const enum Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,"
        "const enum Qel::Chart::Core::IModifiable::Relationship";
    std::string const arguments =
        ",const class Qel::Chart::Core::WeakPtr<class Qel::Chart::Core::Node> &,const class "
        "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &,const class boost::any &";
    std::string const refused =
        "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
        "Qel::Chart::Core::Dependencies::";
    std::string const modifiable = "(const class Qel::Chart::Core::IModifiable &)";
    Graph g;
    TestModifiable plain;
    Ptr<RecordingNode> a, x, y, w;
    auto const inWalk = [&](std::function<void()> p_action) {
        return [&, p_action] {
            OnForce(x, p_action);
            a->Touch();
        };
    };
    struct Case {
        std::function<void()> action;
        reportkind kind;
        std::string text;
        char const* thrownTrail;
        char const* returnedTrail = nullptr;  // none: it throws under either policy
    } const cases[] = {
        {[&] { a->CallTouchThis(IModifiable::Edit, IModifiable::Self, WeakPtr<Node>(w)); }, reportkind::ensure,
         "\"p_originator.Expired()\" - void __cdecl Qel::Chart::Core::Node::TouchThis(" + signature + arguments + ")",
         "aSw:E", "aSw:E xEa:E yEa:E"},
        {[&] { x->Deps().Insert(plain), a->Touch(); }, reportkind::chkptr,
         "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class Qel::Chart::Core::Dependencies &," +
             signature + " &" + arguments + ",unsigned int &)",
         "aS-:F xEa:F", "aS-:F xEa:F yEa:F"},
        // The list is left alone under either policy.
        {inWalk([&] { a->Deps().Insert(*w); }), reportkind::ensure, refused + "Insert" + modifiable, "aS-:F xEa:F"},
        {inWalk([&] { a->Deps().Remove(*y); }), reportkind::ensure, refused + "Remove" + modifiable, "aS-:F xEa:F"},
        {inWalk([&] { a->Deps().Squeze(); }), reportkind::ensure, refused + "Squeze(void)", "aS-:F xEa:F"},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (Case const& c : cases) {
            a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
            Link(a, {x, y});
            g.log = TouchLog();
            {
                capture cap(policy);
                bool const thrown = policy == failpolicy::throwing || c.returnedTrail == nullptr;
                EXPECT_EQ(CheckFailure(c.action), thrown ? c.text : "<returned>");
                EXPECT_EQ(qeltest::Texts(cap, c.kind), Names{c.text});
                EXPECT_EQ(cap.records().size(), 1u);
                EXPECT_EQ(g.log.trail, thrown ? c.thrownTrail : c.returnedTrail);
            }
            EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
            EXPECT_FALSE(a->Deps().IsBeingWalked());
            x->Deps().Clear();
        }
    }
}

namespace {

template <int N>
class Kind : public RecordingNode {
public:
    using RecordingNode::RecordingNode;
};

// A dependency tracker that is no node, its tracker part at an offset of its own.
struct Padding {
    virtual ~Padding() = default;
    char bytes[24] = {};
};
class PaddedTracker : public Padding, public TestModifiable, public IDependencyTracker {
public:
    Dependencies& Deps() override { return _deps; }
    Dependencies const& Deps() const override { return _deps; }
    Dependencies _deps;
};

}  // namespace

TEST(PropagationTest, DependentsOfManyClassesAreFollowedByTheirOwnTrackers) {
    Graph g;
    auto a = g.Add("a"), c = g.Add("c");
    Ptr<RecordingNode> const k1 = Node::Create<Kind<1>>("1", &g.log), k2 = Node::Create<Kind<2>>("2", &g.log),
                             k3 = Node::Create<Kind<3>>("3", &g.log), k4 = Node::Create<Kind<4>>("4", &g.log),
                             k5 = Node::Create<Kind<5>>("5", &g.log);
    PaddedTracker padded;
    TestModifiable plain;
    TestRef other;
    for (IDependencyTracker* t : std::initializer_list<IDependencyTracker*>{&*k1, &*k2, &*k3, &*k4, &*k5, &padded}) {
        t->Deps().Insert(*c);
    }
    // More classes than a walk can be expected to remember, trackers and others mixed, classes coming back.
    for (IModifiable* m : std::initializer_list<IModifiable*>{&*k1, &plain, &*k2, &padded, &*k3, &*k4, &other, &*k5,
                                                              &padded, &*k1, &plain, &*k2}) {
        a->Deps().Insert(*m);
    }
    capture cap(failpolicy::returning);
    a->Touch();
    EXPECT_EQ(qeltest::Texts(cap, reportkind::chkptr).size(), 3u);
    EXPECT_EQ(g.log.trail,
              "aS-:F 1Ea:F cIa:F 2Ea:F cIa:F cIa:F 3Ea:F cIa:F 4Ea:F cIa:F 5Ea:F cIa:F cIa:F 1Ea:F cIa:F "
              "2Ea:F cIa:F");
    EXPECT_EQ(padded.touches, 2);
    EXPECT_EQ(plain.touches, 2);
    EXPECT_EQ(other.touches, 1);
    a->Deps().Clear();
}

TEST(PropagationReentryTest, AHandlerMayStartAWalkOfItsOwn) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), r = g.Add("r"), q = g.Add("q"), s = g.Add("s");
    Link(a, {x, y});
    Link(x, {r});
    Link(q, {s});
    // A deep chain below s makes the nested walk outgrow the walk's stack.
    std::vector<Ptr<Plain>> chain{Node::Create<Plain>()};
    s->Deps().Insert(*chain.back());
    for (int i = 0; i < 300; ++i) {
        chain.push_back(Node::Create<Plain>());
        chain[chain.size() - 2]->Deps().Insert(*chain.back());
    }
    OnForce(x, [&] {
        q->Touch();
        a->Touch();  // a's list is on the path: a is stamped, its list not walked again
    });
    a->Touch();
    EXPECT_EQ(g.log.trail, "aS-:F xEa:F qS-:F sEq:F aS-:F rIa:F yEa:F");
    EXPECT_EQ(chain.back()->Time().Counter(), 1u);
}

// Ends the node that started a walk from within the walk; exits with 0 when the walk went on.
void EndTheTouchedNodeDuringItsWalk() {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), z = g.Add("z");
    Link(a, {x});
    Link(x, {z});
    RecordingNode& touched = *a;  // as a property of the node touches it
    OnForce(x, [&] { a = Ptr<RecordingNode>(); });
    touched.Touch();
    // z hears of the change below x, from an originator that is gone by then.
    std::_Exit(g.log.trail.substr(g.log.trail.rfind(' ') + 1) == "zI-:F" && z->Stamp() == 1u ? 0 : 1);
}

#if GTEST_HAS_DEATH_TEST
TEST(PropagationReentryTest, TheTouchedNodeMayEndDuringItsOwnWalk) {
    EXPECT_EXIT(EndTheTouchedNodeDuringItsWalk(), ::testing::ExitedWithCode(0), "");  // a fault fails this test only
}
#endif

TEST(PropagationReentryTest, ClearingAListBeingWalkedLetsTheWalkFinishTheOldEntries) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y");
    Link(a, {x, y});
    OnForce(x, [&] {
        a->Deps().Clear();
        Link(a, {y});  // a fresh list, not on the path
    });
    a->Touch();
    x->SetHook(nullptr);
    a->Touch();
    EXPECT_EQ(g.log.trail, "aS-:F xEa:F yEa:F aS-:F yEa:F");
}

TEST(PropagationReentryTest, ExpiredEntriesAreSkippedAndSqueezedAfterAWalkButNotAfterAnException) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
    a->Deps().Insert(*g.Add("gone"));
    Link(a, {x, y});
    x->Deps().Insert(*g.Add("gone"));
    Link(x, {w});
    g.log = TouchLog();
    bool armed = true;
    w->SetHook([&](IModifiable::Relationship, IModifiable::Change) {
        return armed ? throw std::runtime_error("w failed") : true;
    });
    EXPECT_THROW(a->Touch(), std::runtime_error);
    EXPECT_EQ(a->Deps().Size(), 3u);
    EXPECT_EQ(x->Deps().Size(), 2u);
    EXPECT_FALSE(x->Deps().IsBeingWalked());
    armed = false;
    a->Touch();
    EXPECT_EQ(g.log.trail, "aS-:F xEa:F wIa:F aS-:F xEa:F wIa:F yEa:F");
    EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
    EXPECT_EQ(Entries(x->Deps()), Addresses{w.Get()});
}

namespace {

// Owns the link before it and depends on it: releasing the last link releases the chain.
class ChainLink : public Node {
public:
    explicit ChainLink(Ptr<ChainLink> p_previous = Ptr<ChainLink>()) : _previous(std::move(p_previous)) {}
    IModifiable::Relationship lastRelationship = IModifiable::Self;

protected:
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override {
        lastRelationship = relationship;
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }

private:
    Ptr<ChainLink> _previous;
};

}  // namespace

TEST(PropagationScaleTest, AMillionNodeChainIsWalkedAndDeletedWithoutRecursion) {
    int const nodesBefore = Node::_debugNodeCount.load();
    std::size_t const blocksBefore = qeldebug::allocationtracker::blocks_in_use();
    Ptr<ChainLink> tail = Node::Create<ChainLink>();
    WeakPtr<ChainLink> const head = tail;
    for (int i = 1; i < 1000000; ++i) {
        Ptr<ChainLink> next = Node::Create<ChainLink>(tail);
        tail->Deps().Insert(*next);
        tail = next;
    }
    head.Lock()->Touch();
    EXPECT_EQ(tail->Time().Counter(), 1u);
    EXPECT_EQ(tail->lastRelationship, IModifiable::Implicit);
    tail = Ptr<ChainLink>();
    EXPECT_TRUE(head.Expired());
    EXPECT_EQ(Node::_debugNodeCount.load(), nodesBefore);
    EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), blocksBefore);
}

TEST(PropagationScaleTest, ATouchAllocatesNothingOnceWarmedUp) {
    // A diamond, with names of 13 characters, the longest a node keeps inline.
    std::vector<Ptr<Plain>> n;
    for (char const* name : {"top-of-graph1", "second-left-2", "second-right3", "bottom-shared"}) {
        n.push_back(Node::Create<Plain>());
        NodeAccess(n.back()).SetName(name);
    }
    for (auto [from, to] : {std::pair{0, 1}, {0, 2}, {1, 3}, {2, 3}}) {
        n[from]->Deps().Insert(*n[to]);
    }
    n[0]->Touch();
    EXPECT_EQ(qeltest::MeasureHeap([&] { n[0]->Touch(); }).sizes.size(), 0u);
    EXPECT_EQ(n[3]->Time().Counter(), 4u);
}
