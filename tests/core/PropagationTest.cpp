#include <Node.h>
#include <NodeAccess.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

using namespace graphtest;

namespace {

using Names = std::vector<std::string>;

// Nodes that record into one log; the log outlives them.
struct Graph {
    Ptr<RecordingNode> Add(std::string const& p_label) { return Node::Create<RecordingNode>(p_label, &log); }
    TouchLog log;
};

// The nodes in `p_to` depend on `p_from`, in that order: they are told when it changes.
void Link(Ptr<RecordingNode> const& p_from, std::initializer_list<Ptr<RecordingNode>> p_to) {
    for (auto const& to : p_to) {
        p_from->Deps().Insert(*to);
    }
}

// Inserts an entry whose object is gone by the time the function returns.
void LinkExpired(Ptr<RecordingNode> const& p_from) {
    auto gone = Node::Create<RecordingNode>("gone");
    p_from->Deps().Insert(*gone);
}

// Runs `p_action` when `p_node` hears a Force, before the node handles it.
void OnForce(Ptr<RecordingNode> const& p_node, std::function<void()> p_action) {
    p_node->SetHook([p_action](RecordingNode&, IModifiable::Relationship, IModifiable::Change p_change) {
        if (p_change == IModifiable::Force) {
            p_action();
        }
        return true;
    });
}

std::vector<IModifiable::Relationship> Relationships(TouchLog const& p_log) {
    return Column(p_log, &TouchRecord::relationship);
}

char const* const kLiveOriginatorText =
    "\"p_originator.Expired()\" - void __cdecl Qel::Chart::Core::Node::TouchThis(const enum "
    "Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,const enum "
    "Qel::Chart::Core::IModifiable::Relationship,const class Qel::Chart::Core::WeakPtr<class "
    "Qel::Chart::Core::Node> &,const class std::basic_string<char,struct std::char_traits<char>,class "
    "std::allocator<char> > &,const class boost::any &)";
char const* const kNoTrackerText =
    "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class Qel::Chart::Core::Dependencies &,const "
    "enum Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,const enum "
    "Qel::Chart::Core::IModifiable::Relationship &,const class Qel::Chart::Core::WeakPtr<class "
    "Qel::Chart::Core::Node> &,const class std::basic_string<char,struct std::char_traits<char>,class "
    "std::allocator<char> > &,const class boost::any &,unsigned int &)";
std::string RefusalText(char const* p_operation) {
    return std::string(
               "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void "
               "__cdecl Qel::Chart::Core::Dependencies::") +
           p_operation;
}

auto const kExplicit = IModifiable::Explicit;
auto const kImplicit = IModifiable::Implicit;
auto const kSelf = IModifiable::Self;
using Rels = std::vector<IModifiable::Relationship>;
using Addresses = std::vector<IModifiable const*>;

class Plain : public Node {};

}  // namespace

TEST(PropagationTest, AChainGivesExplicitThenImplicitWithTheTouchedNodeAsOriginator) {
    Graph g;
    auto a = g.Add("a"), b = g.Add("b"), c = g.Add("c"), d = g.Add("d");
    d->Touch();  // no dependents: only d itself
    ASSERT_EQ(g.log.size(), 1u);
    EXPECT_EQ(g.log[0].change, IModifiable::Force);
    EXPECT_EQ(g.log[0].type, IModifiable::TypeNode);
    EXPECT_EQ(g.log[0].name, "d");
    g.log.clear();

    Link(a, {b});
    Link(b, {c});
    Link(c, {d});
    a->CallTouchThis(IModifiable::TypeProperty, IModifiable::Remove, kSelf, WeakPtr<Node>(), "width");
    EXPECT_EQ(Receivers(g.log), (Names{"a", "b", "c", "d"}));
    EXPECT_EQ(Relationships(g.log), (Rels{kSelf, kExplicit, kImplicit, kImplicit}));
    for (std::size_t i = 0; i < g.log.size(); ++i) {
        EXPECT_EQ(g.log[i].originator, i == 0 ? "-" : "a");
        EXPECT_EQ(g.log[i].type, IModifiable::TypeProperty);
        EXPECT_EQ(g.log[i].change, IModifiable::Remove);
        EXPECT_EQ(g.log[i].name, "width");
    }
    for (auto const& n : {a, b, c}) {
        EXPECT_EQ(n->Stamp(), 1u);
    }
    EXPECT_EQ(d->Stamp(), 2u);

    // Below Self a TouchThis stamps the node without walking its list.
    g.log.clear();
    for (auto relationship : {kExplicit, kImplicit}) {
        a->CallTouchThis(IModifiable::TypeNode, IModifiable::Edit, relationship, WeakPtr<Node>(d), "d");
    }
    EXPECT_EQ(Receivers(g.log), (Names{"a", "a"}));
    EXPECT_EQ(a->Stamp(), 3u);
    EXPECT_EQ(b->Stamp(), 1u);
}

TEST(PropagationTest, DepthFirstInListOrderOncePerEntryUntilAListAlreadyOnThePath) {
    Graph g;
    auto a = g.Add("a"), b = g.Add("b"), c = g.Add("c"), d = g.Add("d"), e = g.Add("e"), self = g.Add("self");
    Link(a, {b, c, e, e});
    Link(b, {d});
    Link(c, {d});
    Link(d, {a});
    a->Touch();
    // a's list is not walked a second time, but a itself hears of it again.
    EXPECT_EQ(Receivers(g.log), (Names{"a", "b", "d", "a", "c", "d", "a", "e", "e"}));
    EXPECT_EQ(Relationships(g.log),
              (Rels{kSelf, kExplicit, kImplicit, kImplicit, kExplicit, kImplicit, kImplicit, kExplicit, kExplicit}));
    EXPECT_EQ(a->Stamp(), 3u);
    EXPECT_EQ(d->Stamp(), 2u);
    EXPECT_EQ(e->Stamp(), 2u);

    g.log.clear();
    Link(self, {self});
    self->Touch();
    EXPECT_EQ(Relationships(g.log), (Rels{kSelf, kExplicit}));
    EXPECT_EQ(self->Stamp(), 2u);
}

TEST(PropagationTest, ALiveOriginatorWithSelfIsReportedBeforeAnyDependent) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        Graph g;
        auto a = g.Add("a"), b = g.Add("b"), origin = g.Add("origin");
        Link(a, {b});
        capture cap(policy);
        std::size_t reportsWhenTouched = 99;
        b->SetHook([&](RecordingNode&, IModifiable::Relationship, IModifiable::Change p_change) {
            if (p_change == IModifiable::Edit) {
                reportsWhenTouched = cap.records().size();
            }
            return true;
        });
        std::string const failure = CheckFailure(
            [&] { a->CallTouchThis(IModifiable::TypeNode, IModifiable::Edit, kSelf, WeakPtr<Node>(origin), "a"); });
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), std::vector<std::string>{kLiveOriginatorText});
        EXPECT_EQ(a->Stamp(), 1u);
        if (policy == failpolicy::throwing) {
            EXPECT_EQ(failure, kLiveOriginatorText);
            EXPECT_EQ(b->Stamp(), 0u);
        } else {
            EXPECT_EQ(failure, "<returned>");
            EXPECT_EQ(reportsWhenTouched, 1u);
            EXPECT_EQ(g.log.back().originator, "a");
        }
    }
}

namespace {

template <int N>
class Kind : public RecordingNode {
public:
    using RecordingNode::RecordingNode;
};

struct Padding {
    virtual ~Padding() = default;
    char bytes[24] = {};
};

// A dependency tracker that is no node, its tracker part at an offset of its own.
class PaddedTracker : public Padding, public TestModifiable, public IDependencyTracker {
public:
    Dependencies& Deps() override { return _deps; }
    Dependencies const& Deps() const override { return _deps; }

private:
    Dependencies _deps;
};

class OtherModifiable : public TestModifiable {};

}  // namespace

TEST(PropagationTest, DependentsOfManyClassesAreFollowedByTheirOwnTrackersAndOthersReported) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        Graph g;
        auto a = g.Add("a"), child = g.Add("child");
        std::vector<Ptr<RecordingNode>> const k{
            Node::Create<Kind<1>>("k1", &g.log), Node::Create<Kind<2>>("k2", &g.log),
            Node::Create<Kind<3>>("k3", &g.log), Node::Create<Kind<4>>("k4", &g.log),
            Node::Create<Kind<5>>("k5", &g.log)};
        PaddedTracker padded;
        TestModifiable plain;
        OtherModifiable other;
        for (IDependencyTracker* t : std::initializer_list<IDependencyTracker*>{k[0].Get(), k[1].Get(), k[2].Get(),
                                                                                k[3].Get(), k[4].Get(), &padded}) {
            t->Deps().Insert(*child);
        }
        // More classes than a walk can be expected to remember at once, trackers
        // and others mixed, classes coming back.
        for (IModifiable const* m :
             std::initializer_list<IModifiable const*>{k[0].Get(), &plain, k[1].Get(), &padded, k[2].Get(), k[3].Get(),
                                                       &other, k[4].Get(), &padded, k[0].Get(), &plain, k[1].Get()}) {
            a->Deps().Insert(*m);
        }
        capture cap(policy);
        std::string const failure = CheckFailure([&] { a->Touch(); });
        if (policy == failpolicy::throwing) {
            EXPECT_EQ(failure, kNoTrackerText);
            EXPECT_EQ(qeltest::Texts(cap, reportkind::chkptr), Names{kNoTrackerText});
            EXPECT_EQ(Receivers(g.log), (Names{"a", "k1", "child"}));
            EXPECT_EQ(plain.Touches(), 1);  // told before it is found to be no tracker
        } else {
            EXPECT_EQ(failure, "<returned>");
            EXPECT_EQ(qeltest::Texts(cap, reportkind::chkptr), Names(3, kNoTrackerText));
            EXPECT_EQ(Receivers(g.log), (Names{"a", "k1", "child", "k2", "child", "child", "k3", "child", "k4", "child",
                                               "k5", "child", "child", "k1", "child", "k2", "child"}));
            EXPECT_EQ(padded.Touches(), 2);
            EXPECT_EQ(plain.Touches(), 2);
            EXPECT_EQ(other.Touches(), 1);
        }
        EXPECT_FALSE(a->Deps().IsBeingWalked());  // let go of either way
        a->Deps().Clear();
    }
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
    EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "q", "s", "a", "r", "y"}));
    EXPECT_EQ(g.log[3].relationship, kExplicit);
    EXPECT_EQ(g.log[3].originator, "q");
    EXPECT_EQ(g.log[5].relationship, kImplicit);
    EXPECT_EQ(g.log[5].originator, "a");
    EXPECT_EQ(a->Stamp(), 2u);
    EXPECT_EQ(chain.back()->Time().Counter(), 1u);
}

TEST(PropagationReentryTest, AHandlerMayEndItsOwnNodeOrALaterEntryOfTheSameList) {
    Graph g;
    auto a = g.Add("a"), y = g.Add("y"), z = g.Add("z"), v = g.Add("v"), w = g.Add("w");
    auto x = g.Add("x");
    Link(a, {x, y, v});
    Link(x, {z});
    x->SetHook([&](RecordingNode&, IModifiable::Relationship, IModifiable::Change p_change) {
        if (p_change != IModifiable::Force) {
            return true;
        }
        Ptr<RecordingNode> last = x;
        x = Ptr<RecordingNode>();
        last = Ptr<RecordingNode>();  // ends the node whose handler runs
        return false;
    });
    OnForce(v, [&] { w = Ptr<RecordingNode>(); });
    Link(a, {w});
    a->Touch();
    EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "x", "z", "y", "v", "w"}));
    for (std::size_t i : {2, 3, 6}) {
        EXPECT_EQ(g.log[i].change, IModifiable::Deallocate) << i;
    }
    EXPECT_EQ(g.log[4].change, IModifiable::Force);
    EXPECT_EQ(Entries(a->Deps()), (Addresses{y.Get(), v.Get()}));
    EXPECT_EQ(y->Stamp(), 1u);
    EXPECT_EQ(z->Stamp(), 1u);
    EXPECT_EQ(v->Stamp(), 1u);
}

namespace {

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
    bool const ok = !g.log.empty() && g.log.back().receiver == "z" && g.log.back().change == IModifiable::Force &&
                    g.log.back().originator == "-" && z->Stamp() == 1u;
    std::_Exit(ok ? 0 : 1);
}

}  // namespace

#if GTEST_HAS_DEATH_TEST
TEST(PropagationReentryTest, TheTouchedNodeMayEndDuringItsOwnWalk) {
    // In a child process, so that a fault fails this test only.
    EXPECT_EXIT(EndTheTouchedNodeDuringItsWalk(), ::testing::ExitedWithCode(0), "");
}
#endif

TEST(PropagationReentryTest, ChangingAListBeingWalkedIsRefused) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        Graph g;
        auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
        Link(a, {x, y});
        std::vector<std::string> failures;
        OnForce(x, [&] {
            failures.push_back(CheckFailure([&] { a->Deps().Insert(*w); }));
            failures.push_back(CheckFailure([&] { a->Deps().Remove(*y); }));
            failures.push_back(CheckFailure([&] { a->Deps().Squeze(); }));
            x->Deps().Insert(*w);  // x's own list is not walked yet
        });
        IModifiable::Identifier const* const before = a->Deps().Begin();
        capture cap(policy);
        a->Touch();
        Names const expected{RefusalText("Insert(const class Qel::Chart::Core::IModifiable &)"),
                             RefusalText("Remove(const class Qel::Chart::Core::IModifiable &)"),
                             RefusalText("Squeze(void)")};
        EXPECT_EQ(failures, expected);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), expected);
        EXPECT_EQ(a->Deps().Begin(), before);
        EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
        EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "w", "y"}));
    }
}

TEST(PropagationReentryTest, ClearingAListBeingWalkedLetsTheWalkFinishTheOldEntries) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y");
    Link(a, {x, y});
    OnForce(x, [&] {
        a->Deps().Clear();
        Link(a, {y});  // a fresh list, not on the path
    });
    a->Touch();
    // The walk finishes the entries it started with, not the new list.
    EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "y"}));
    EXPECT_EQ(Entries(a->Deps()), (Addresses{y.Get()}));
    x->SetHook(nullptr);
    g.log.clear();
    a->Touch();
    EXPECT_EQ(Receivers(g.log), (Names{"a", "y"}));
}

TEST(PropagationReentryTest, ExpiredEntriesAreSkippedAndSqueezedAfterAWalkButNotAfterAnException) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
    LinkExpired(a);
    Link(a, {x, y});
    LinkExpired(x);
    Link(x, {w});
    bool armed = true;
    w->SetHook([&](RecordingNode&, IModifiable::Relationship, IModifiable::Change) {
        if (armed) {
            throw std::runtime_error("w failed");
        }
        return true;
    });
    EXPECT_THROW(a->Touch(), std::runtime_error);
    EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "w"}));
    EXPECT_EQ(y->Stamp(), 0u);
    EXPECT_EQ(a->Deps().Size(), 3u);
    EXPECT_EQ(x->Deps().Size(), 2u);
    EXPECT_FALSE(a->Deps().IsBeingWalked());
    EXPECT_FALSE(x->Deps().IsBeingWalked());

    armed = false;
    g.log.clear();
    a->Touch();
    EXPECT_EQ(Receivers(g.log), (Names{"a", "x", "w", "y"}));
    EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
    EXPECT_EQ(Entries(x->Deps()), (Addresses{w.Get()}));
}

namespace {

// Owns the link before it and depends on it: releasing the last link releases the chain.
class ChainLink : public Node {
public:
    ChainLink() = default;
    explicit ChainLink(Ptr<ChainLink> p_previous) : _previous(std::move(p_previous)) {}
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
    constexpr int kLength = 1000000;
    int const nodesBefore = Node::_debugNodeCount.load();
    std::size_t const blocksBefore = qeldebug::allocationtracker::blocks_in_use();

    Ptr<ChainLink> tail = Node::Create<ChainLink>();
    WeakPtr<ChainLink> const head = tail;
    for (int i = 1; i < kLength; ++i) {
        Ptr<ChainLink> next = Node::Create<ChainLink>(tail);
        tail->Deps().Insert(*next);
        tail = next;
    }
    ASSERT_EQ(Node::_debugNodeCount.load(), nodesBefore + kLength);

    head.Lock()->Touch();
    EXPECT_EQ(tail->Time().Counter(), 1u);
    EXPECT_EQ(tail->lastRelationship, IModifiable::Implicit);

    tail = Ptr<ChainLink>();
    EXPECT_TRUE(head.Expired());
    EXPECT_EQ(Node::_debugNodeCount.load(), nodesBefore);
    EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), blocksBefore);
}

TEST(PropagationScaleTest, ATouchAllocatesNothingOnceWarmedUp) {
    // a: [b, c], b: [d], c: [d], with names of 13 characters, the longest a node keeps inline.
    std::vector<Ptr<Plain>> n;
    for (char const* name : {"top-of-graph1", "second-left-2", "second-right3", "bottom-shared"}) {
        n.push_back(Node::Create<Plain>());
        NodeAccess(n.back()).SetName(name);
    }
    for (auto [from, to] : {std::pair{0, 1}, {0, 2}, {1, 3}, {2, 3}}) {
        n[from]->Deps().Insert(*n[to]);
    }
    n[0]->Touch();
    {
        qeltest::AllocationCounter counter;
        n[0]->Touch();
        EXPECT_EQ(NewCalls(counter), 0u);
    }
    EXPECT_EQ(n[3]->Time().Counter(), 4u);
}
