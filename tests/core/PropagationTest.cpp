#include <Dependencies.h>
#include <Node.h>

#include "ExpectedReports.h"
#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace graphtest;
using qeltest::kModifiableArgument;
using qeltest::kWalkedListRefused;

namespace {

// Nodes that record into one log; the log outlives them.
struct Graph {
    Ptr<RecordingNode> Add(std::string const& p_label) { return Node::Create<RecordingNode>(p_label, &log); }
    std::string log;
};

// Owns the link before it and depends on it: releasing the last link releases the chain.
struct ChainLink : Node {
    explicit ChainLink(Ptr<ChainLink> p_previous = Ptr<ChainLink>()) : previous(std::move(p_previous)) {}
    Ptr<ChainLink> previous;
};

// Node classes whose tracker part stands at a different offset each.
template <int K>
struct Padding {
    virtual ~Padding() = default;
    char bytes[8 * (K + 1)] = {};
};
template <int K>
struct Padded : Padding<K>, RecordingNode {
    using RecordingNode::RecordingNode;
};

// An axis that its series re-scales from inside the walk that reached the series.
struct ScaledAxis : RecordingNode {
    using RecordingNode::RecordingNode;
    Property<double> max{*this, "max", 1.0};
};

}  // namespace

// The walk remembers tracker offsets for a few classes at a time: more
// classes than it keeps, met in turn, must each still reach their own list.
TEST(PropagationTest, TrackersOfManyClassesAreFoundAtTheirOwnOffsets) {
    Graph g;
    auto head = g.Add("h");
    std::vector<Ptr<RecordingNode>> nodes;
    std::string expected = "hS-:F0h";
    auto add = [&](Ptr<RecordingNode> const& p_node) {
        auto leaf = g.Add(p_node->label + "'");
        Link(head, {p_node});
        Link(p_node, {leaf});
        nodes.insert(nodes.end(), {p_node, leaf});
        expected += " " + p_node->label + "Eh:F0h " + leaf->label + "Ih:F0h";
    };
    for (int round = 0; round < 2; ++round) {
        add(Node::Create<Padded<0>>("a", &g.log));
        add(Node::Create<Padded<1>>("b", &g.log));
        add(Node::Create<Padded<2>>("c", &g.log));
        add(Node::Create<Padded<3>>("d", &g.log));
        add(Node::Create<Padded<4>>("e", &g.log));
        add(g.Add("f"));
    }
    head->Touch();
    EXPECT_EQ(g.log, expected);
}

TEST(PropagationTest, DepthFirstInListOrderOncePerPathUntilAListAlreadyOnThePath) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), z = g.Add("z"), d = g.Add("d");
    Link(a, {x, y, y});
    Link(x, {z});
    Link(z, {d});
    Link(y, {d});
    Link(d, {a});  // a's list is not walked again, but a hears of it
    a->CallTouchThis(IModifiable::Remove, IModifiable::Self, WeakPtr<Node>());
    EXPECT_EQ(g.log,
              "aS-:R1width xEa:R1width zIa:R1width dIa:R1width aIa:R1width yEa:R1width dIa:R1width "
              "aIa:R1width yEa:R1width dIa:R1width aIa:R1width");
    EXPECT_EQ(a->Time().Counter(), 4u);
}

TEST(PropagationTest, FaultsAreReportedOnceAndTheWalkGoesOnWhenTheReportReturns) {
    // The local objects end before their node, which is reported: keep it off the console.
    qeldebug::capture const endings;
    Graph g;
    auto owner = Node::Create<RecordingNode>();
    Property<int> plain(*owner, "plain");
    Ptr<RecordingNode> a, x, y, w;
    struct Case {
        std::function<void()> inWalk;  // run by x, or instead of touching a
        reportkind kind;
        std::string text;
        char const* returnedTrail = nullptr;  // none: it throws under either policy
        char const* thrownTrail = "aS-:F0a xEa:F0a";
    } const cases[] = {
        {nullptr, reportkind::ensure,
         "\"p_originator.Expired()\" - void __cdecl Qel::Chart::Core::Node::TouchThis(" + qeltest::kTouchEnums + "," +
             qeltest::kTouchPayload + ")",
         "aSw:E1width xEa:E1width yEa:E1width", "aSw:E1width"},
        {[&] { x->Deps().Insert(plain); }, reportkind::chkptr, qeltest::kNotATracker, "aS-:F0a xEa:F0a yEa:F0a"},
        // The list is left alone under either policy.
        {[&] { a->Deps().Insert(*w); }, reportkind::ensure, kWalkedListRefused + "Insert" + kModifiableArgument},
        {[&] { a->Deps().Remove(*y); }, reportkind::ensure, kWalkedListRefused + "Remove" + kModifiableArgument},
        {[&] { a->Deps().Squeze(); }, reportkind::ensure, kWalkedListRefused + "Squeze(void)"},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (Case const& c : cases) {
            a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
            Link(a, {x, y});
            x->onForce = c.inWalk;
            g.log.clear();
            capture cap(policy);
            bool const thrown = policy == failpolicy::throwing || c.returnedTrail == nullptr;
            EXPECT_EQ(CheckFailure([&] {
                          c.inWalk ? a->Touch()
                                   : a->CallTouchThis(IModifiable::Edit, IModifiable::Self, WeakPtr<Node>(w));
                      }),
                      thrown ? c.text : "<returned>");
            EXPECT_EQ(qeltest::Texts(cap, c.kind), Names{c.text});
            EXPECT_EQ(cap.records().size(), 1u);
            EXPECT_EQ(g.log, thrown ? c.thrownTrail : c.returnedTrail);
            EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
            EXPECT_FALSE(a->Deps().IsBeingWalked());
            x->Deps().Clear();
        }
    }
}

TEST(PropagationReentryTest, AHandlerMayStartAWalkOfItsOwnEditTheWalkedNodeOrClearTheListBeingWalked) {
    Graph g;
    Ptr<RecordingNode> const a = Node::Create<ScaledAxis>("a", &g.log);
    auto x = g.Add("x"), y = g.Add("y"), r = g.Add("r"), q = g.Add("q"), s = g.Add("s");
    Link(a, {x, y});
    Link(x, {r});
    Link(q, {s});
    // A deep chain below s makes the nested walk outgrow the walk's stack.
    std::vector<Ptr<RecordingNode>> chain{s};
    for (int i = 0; i < 300; ++i) {
        chain.push_back(Node::Create<RecordingNode>());
        Link(chain[chain.size() - 2], {chain.back()});
    }
    bool reacted = false;
    x->onForce = [&] {
        if (reacted) {
            return;
        }
        reacted = true;
        q->Touch();
        // A walk of its own, with its own change and name: it walks a's list again, though the outer walk is on it.
        DynamicPtrCast<ScaledAxis>(a)->max.Set(150.0);
        a->Deps().Clear();
        Link(a, {y});  // a fresh list: the outer walk finishes the old one
    };
    a->Touch();
    x->onForce = nullptr;
    a->Touch();
    EXPECT_EQ(
        g.log,
        "aS-:F0a xEa:F0a qS-:F0q sEq:F0q aS-:E1max xEa:E1max rIa:E1max yEa:E1max rIa:F0a yEa:F0a aS-:F0a yEa:F0a");
    EXPECT_EQ(chain.back()->Time().Counter(), 1u);
    EXPECT_FALSE(a->Deps().IsBeingWalked() || x->Deps().IsBeingWalked());
}

TEST(PropagationReentryTest, TheTouchedNodeMayEndDuringItsOwnWalk) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), z = g.Add("z");
    Link(a, {x});
    Link(x, {z});
    RecordingNode& touched = *a;  // as a property of the node touches it
    x->onForce = [&] { a = Ptr<RecordingNode>(); };
    touched.Touch();
    // a's end is a walk of its own: x and z hear Deallocate, then the first
    // walk goes on to z, its originator gone by then.
    EXPECT_EQ(g.log, "aS-:F0a xEa:F0a aS-:D0a xE-:D0a zI-:D0a zI-:F0a");
}

TEST(PropagationReentryTest, ExpiredEntriesAreSkippedAndSqueezedAfterAWalkButNotAfterAnException) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y"), w = g.Add("w");
    Link(a, {Node::Create<RecordingNode>(), x, y});  // expired at once
    Link(x, {Node::Create<RecordingNode>(), w});
    w->onForce = [] { throw std::runtime_error("w failed"); };
    EXPECT_THROW(a->Touch(), std::runtime_error);
    EXPECT_EQ(a->Deps().Size(), 3u);
    EXPECT_EQ(x->Deps().Size(), 2u);
    EXPECT_FALSE(x->Deps().IsBeingWalked());
    w->onForce = nullptr;
    a->Touch();
    EXPECT_EQ(g.log, "aS-:F0a xEa:F0a wIa:F0a aS-:F0a xEa:F0a wIa:F0a yEa:F0a");
    EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()}));
    EXPECT_EQ(Entries(x->Deps()), Addresses{w.Get()});
}

TEST(PropagationScaleTest, AMillionNodeChainIsWalkedAndSearchedWithoutRecursionOrAllocationOnceWarmedUpAndDeleted) {
    int const nodesBefore = Node::_debugNodeCount.load();
    std::size_t const blocksBefore = qeldebug::allocationtracker::blocks_in_use();
    Ptr<ChainLink> tail = Node::Create<ChainLink>();
    WeakPtr<ChainLink> const head = tail;
    NodeAccess(tail).SetName("thirteen-char");  // the longest name a node keeps inline
    for (int i = 1; i < 1000000; ++i) {
        Ptr<ChainLink> next = Node::Create<ChainLink>(tail);
        tail->Deps().Insert(*next);
        tail = next;
    }
    head.Lock()->Touch();
    EXPECT_EQ(qeltest::MeasureHeap([&] { head.Lock()->Touch(); }).sizes.size(), 0u);
    EXPECT_EQ(tail->Time().Counter(), 2u);
    // The cycle search does not recurse either.
    EXPECT_FALSE(Dependencies::HasCyclicDependency(head.Lock()->Id()));
    tail->Deps().Insert(*head.Lock());
    EXPECT_TRUE(Dependencies::HasCyclicDependency(head.Lock()->Id()));
    tail->Deps().Clear();
    tail = Ptr<ChainLink>();
    EXPECT_TRUE(head.Expired());
    EXPECT_EQ(Node::_debugNodeCount.load(), nodesBefore);
    EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), blocksBefore);
}

namespace {
// An object whose identity is live but names no object.
class Phantom : public Modifiable<0> {
public:
    explicit Phantom(Node const& p_lifetime) : _lifetime(p_lifetime) {}
    IModifiable::Identifier Id() const override {
        return IModifiable::Identifier(nullptr, static_cast<IModifiable const&>(_lifetime).Id().Lifetime());
    }
    TimeStamp const Time() const override { return TimeStamp(); }
    std::string const Name() const override { return "phantom"; }
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {}

private:
    Node const& _lifetime;
};
}  // namespace

TEST(PropagationReentryTest, ALiveIdentifierWithoutAnObjectIsReportedAndSkipped) {
    Graph g;
    auto a = g.Add("a"), y = g.Add("y");
    Phantom const phantom(*a);
    a->Deps().Insert(phantom);
    Link(a, {y});
    capture cap(failpolicy::returning);
    a->Touch();
    EXPECT_EQ(qeltest::Texts(cap, reportkind::chkptr).size(), 1u);
    EXPECT_EQ(g.log, "aS-:F0a yEa:F0a");
    a->Deps().Clear();  // its deletion would meet the phantom too
}

TEST(PropagationScaleTest, AReservedListTakesInsertsInPlaceAndIsExactAgainAfterADroppingSqueze) {
    Graph g;
    auto a = g.Add("a"), x = g.Add("x"), y = g.Add("y");
    a->Deps().Reserve(3);
    Link(a, {x});
    IModifiable::Identifier const* const block = a->Deps().Begin();
    a->Deps().Insert(*Node::Create<RecordingNode>());  // expired at once
    y->Id();                                           // its identity anchor made beforehand
    EXPECT_TRUE(qeltest::MeasureHeap([&] { Link(a, {y}); }).sizes.empty()) << "in place, up to the reservation";
    EXPECT_EQ(a->Deps().Begin(), block);
    // The walk marks its lists in the block's header: they work on reserved room too.
    x->onForce = [&] { EXPECT_TRUE(a->Deps().IsBeingWalked()); };
    a->Touch();
    x->onForce = nullptr;
    EXPECT_FALSE(a->Deps().IsBeingWalked());
    EXPECT_EQ(Entries(a->Deps()), (Addresses{x.Get(), y.Get()})) << "the walk squeezed the expired entry";
    EXPECT_NE(a->Deps().Begin(), block);
    EXPECT_EQ(qeltest::MeasureHeap([&] { Link(a, {x}); }).sizes.size(), 1u) << "exact-size again: growth reallocates";
    {
        capture cap(failpolicy::returning);
        x->onForce = [&] { a->Deps().Reserve(10); };
        EXPECT_NE(CheckFailure([&] { a->Touch(); }), "<returned>") << "the refusal ends the operation";
        x->onForce = nullptr;
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure).size(), 1u) << "refused while walked";
    }
}

TEST(PropagationScaleTest, OncePerObjectTouchesEveryReachableObjectOnceAtItsFirstReach) {
    Graph g;
    // a -> b, c; b -> d, e; c -> d; d -> f; e -> a (a cycle); c -> expired
    auto a = g.Add("a"), b = g.Add("b"), c = g.Add("c"), d = g.Add("d"), e = g.Add("e"), f = g.Add("f");
    Link(a, {b, c});
    Link(b, {d, e});
    Link(c, {Node::Create<RecordingNode>(), d});
    Link(d, {f});
    Link(e, {a});
    {
        PropagationScope const once(Propagation::OncePerObject);
        EXPECT_EQ(PropagationScope::Current(), Propagation::OncePerObject);
        a->Touch();
        {
            PropagationScope const every(Propagation::EveryPath);
            EXPECT_EQ(PropagationScope::Current(), Propagation::EveryPath);
        }
        EXPECT_EQ(PropagationScope::Current(), Propagation::OncePerObject);
    }
    EXPECT_EQ(PropagationScope::Current(), Propagation::EveryPath);
    EXPECT_EQ(g.log, "aS-:F0a bEa:F0a dIa:F0a fIa:F0a eIa:F0a cEa:F0a");
    EXPECT_EQ(c->Deps().Size(), 1u) << "expired entries are squeezed as usual";
    g.log.clear();
    a->Touch();
    EXPECT_EQ(g.log, "aS-:F0a bEa:F0a dIa:F0a fIa:F0a eIa:F0a aIa:F0a cEa:F0a dIa:F0a fIa:F0a") << "every path";

    // A nested walk is a walk of its own; a node ended during the walk is skipped.
    e->Deps().Clear();
    g.log.clear();
    bool reacted = false;
    b->onForce = [&] {
        if (!reacted) {
            reacted = true;
            d->Touch();  // d, f once more, inside this walk's reach of b
            c = Ptr<RecordingNode>();
        }
    };
    PropagationScope const once(Propagation::OncePerObject);
    a->Touch();
    EXPECT_EQ(g.log, "aS-:F0a bEa:F0a dS-:F0d fEd:F0d cS-:D0c dE-:D0c fI-:D0c dIa:F0a fIa:F0a eIa:F0a");
    b->onForce = nullptr;

    // A node that ends during the walk gives its memory back; a node made
    // there and linked into the walk is another object, and is touched.
    // h -> k, m; k -> x; m's touch drops x, then links a node made at x's address.
    auto h = g.Add("h"), k = g.Add("k"), m = g.Add("m");
    auto x = g.Add("x");
    Link(h, {k, m});
    Link(k, {x});
    std::vector<Ptr<RecordingNode>> made;
    m->onForce = [&] {
        void const* const address = x.Get();
        x = Ptr<RecordingNode>();
        k->Deps().Clear();  // its identifier was the last hold on x's memory
        for (int i = 0; i < 64 && (made.empty() || made.back().Get() != address); ++i) {
            made.push_back(g.Add("y"));
        }
        ASSERT_EQ(made.back().Get(), address) << "the memory of x is used again";
        made.back()->DependOn(*m);
    };
    g.log.clear();
    h->Touch();
    EXPECT_EQ(g.log, "hS-:F0h kEh:F0h xIh:F0h mEh:F0h xS-:D0x yIh:F0h");
}

TEST(DependenciesTest, CyclesAreFoundFromEveryMemberAndFromAboveButNotInADiamond) {
    // The local objects end before their node, which is reported: keep it off the console.
    qeldebug::capture const endings;
    Ptr<RecordingNode> const a = Node::Create<RecordingNode>(), b = Node::Create<RecordingNode>(),
                             c = Node::Create<RecordingNode>(), d = Node::Create<RecordingNode>();
    Property<int> notATracker(*a, "width");
    a->Deps().Insert(notATracker);  // ends its branch, as an expired entry does
    Link(a, {Node::Create<RecordingNode>(), b, c});
    Link(b, {d});
    Link(c, {d});
    EXPECT_FALSE(Dependencies::HasCyclicDependency(a->Id()));
    EXPECT_FALSE(Dependencies::HasCyclicDependency(IModifiable::Identifier()));
    Link(d, {b});
    for (auto const& member : {a, b, d}) {
        EXPECT_TRUE(Dependencies::HasCyclicDependency(member->Id()));  // from a: not hidden by the entries before b
    }
    a->Deps().Remove(notATracker);
}

TEST(DependenciesTest, KeepsOrderAndDuplicatesAndReportsRefusals) {
    // The local objects end before their node, which is reported: keep it off the console.
    qeldebug::capture const endings;
    using IdSearch = DepthFirstSearch<IModifiable::Identifier, IModifiable::Identifier*>;
    std::string const search =
        "\" - __cdecl Qel::Chart::Core::DepthFirstSearch<class Qel::Chart::Core::IModifiable::Identifier,"
        "class Qel::Chart::Core::IModifiable::Identifier *>::DepthFirstSearch(const class boost::function<bool "
        "__cdecl(class Qel::Chart::Core::IModifiable::Identifier &,"
        "class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier * const &,"
        "class Qel::Chart::Core::IModifiable::Identifier * const &)> const &)>,"
        "const class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier &)>)";
    IdSearch::PerNodeOp const descend = [](IModifiable::Identifier&, IdSearch::ChildrenOp const&) { return true; };
    IdSearch::CycleOp const ignore = [](IModifiable::Identifier&) {};
    auto owner = Node::Create<RecordingNode>();
    Property<int> a(*owner, "a"), b(*owner, "b"), missing(*owner, "missing");
    Dependencies list, empty;
    for (Property<int>* m : {&a, &b, &a}) {
        list.Insert(*m);
    }
    std::pair<std::function<void()>, std::string> const cases[] = {
        {[&] { list.Remove(missing); }, qeltest::kRemoveMissing},
        {[&] { empty.Remove(a); }, qeltest::kRemoveMissing},
        {[&] { IdSearch const search(IdSearch::PerNodeOp(), ignore); }, "\"_perNodeOp" + search},
        {[&] { IdSearch const search(descend, IdSearch::CycleOp()); }, "\"_cycleDetectOp" + search},
    };
    for (auto const& [action, text] : cases) {
        SCOPED_TRACE(text);
        qeltest::ExpectRefused(action, reportkind::ensure, text);  // either policy: nothing sensible is left to do
    }
    list.Remove(a);  // the first match
    EXPECT_EQ(Entries(list), (Addresses{&b, &a}));
    list.Remove(b);
    list.Remove(a);
    empty.Reserve(4);  // room, but no entry for anyone to see
    for (Dependencies const* none : {&list, &empty}) {
        EXPECT_TRUE(none->Empty());
        EXPECT_EQ(none->Begin(), nullptr);
        EXPECT_EQ(none->End(), nullptr);
    }
    owner->Deps().Reserve(4);
    std::ostringstream dump;
    owner->Dump(dump, DumpDependents, 0);
    EXPECT_EQ(dump.str().find("dependents"), std::string::npos) << dump.str();
    EXPECT_STREQ(CyclicDependencyFoundExcept("a -> a").what(), "Cyclic Dependency : a -> a");
}

TEST(DependenciesTest, SquezeDropsOnlyTheExpiredEntriesInOrder) {
    auto a = Node::Create<RecordingNode>(), b = Node::Create<RecordingNode>(), c = Node::Create<RecordingNode>();
    auto owner = Node::Create<RecordingNode>();
    Link(owner, {a, Node::Create<RecordingNode>(), b, Node::Create<RecordingNode>(), c});
    owner->Deps().Squeze();
    EXPECT_EQ(Entries(owner->Deps()), (Addresses{a.Get(), b.Get(), c.Get()}));
    IModifiable::Identifier const* const block = owner->Deps().Begin();
    owner->Deps().Squeze();
    EXPECT_EQ(owner->Deps().Begin(), block) << "nothing expired: the storage stays";
}

// A chain of a million is searched in PropagationScaleTest.
TEST(DependenciesTest, CycleChecksEnterASharedObjectOnce) {
    // 30 stacked diamonds: 2^30 paths, 91 objects.
    std::vector<Ptr<RecordingNode>> stack{Node::Create<RecordingNode>()};
    for (int i = 0; i < 30; ++i) {
        auto left = Node::Create<RecordingNode>(), right = Node::Create<RecordingNode>(),
             bottom = Node::Create<RecordingNode>();
        Link(stack.back(), {left, right});
        Link(left, {bottom});
        Link(right, {bottom});
        stack.insert(stack.end(), {left, right, bottom});
    }
    EXPECT_FALSE(Dependencies::HasCyclicDependency(stack.front()->Id()));
    Link(stack.back(), {stack[1]});
    EXPECT_TRUE(Dependencies::HasCyclicDependency(stack.front()->Id()));
    stack.back()->Deps().Clear();
    while (!stack.empty()) {
        stack.pop_back();  // bottom up: a deletion from the top would walk every path
    }
}

// The children named by the per-node operation are visited during the call,
// so work done after naming them comes after theirs.
TEST(DependenciesTest, TheSearchVisitsChildrenWhileTheOperationRuns) {
    using IdSearch = DepthFirstSearch<IModifiable::Identifier, IModifiable::Identifier*>;
    auto a = Node::Create<RecordingNode>("0"), b = Node::Create<RecordingNode>("1"),
         c = Node::Create<RecordingNode>("2");
    Link(a, {b, c});
    Link(b, {a});  // closes a cycle: reported, not entered again
    std::string log;
    IdSearch const search(
        [&log](IModifiable::Identifier& p_node, IdSearch::ChildrenOp const& p_children) {
            auto* const node = dynamic_cast<RecordingNode*>(p_node.Get());
            log += "enter " + node->label + ", ";
            p_children(node->Deps().Begin(), node->Deps().End());
            log += "leave " + node->label + ", ";
            return node->label != "1";  // false stops the siblings after 1
        },
        [&log](IModifiable::Identifier& p_node) {
            log += "cycle " + dynamic_cast<RecordingNode*>(p_node.Get())->label + ", ";
        });
    IModifiable::Identifier start = a->Id();
    search(start);
    EXPECT_EQ(log, "enter 0, enter 1, cycle 0, leave 1, leave 0, ");
    b->Deps().Clear();
}
