#include "ExplicitRef.h"
#include "TypedRef.h"

#include "ExplicitRefAccess.h"
#include "ModificationWatcher.h"
#include "NodeAccess.h"
#include "NodePath.h"
#include "WatchTestSupport.h"

#include <functional>
#include <string>

using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::ExplicitRefAccess;
using qeltest::DependentsOf;

namespace {

class Axis : public Node {};
class LogAxis : public Axis {};

class Series : public Node {
public:
    TypedRef<Axis> _axis{*this, "axis", RefLink::Dependent};
    TypedRefList<Axis> _axes{*this, "axes", RefLink::Dependent};
    TypedRef<Axis> _plain{*this, "plain"};
};

class TreeNode : public Node {
public:
    ExplicitRef _parent{*this, "parent"};
    ExplicitRefList _children{*this, "children"};
};

std::string CastRefusal(std::function<void()> const& p_action) {
    return qeltest::ThrownText<NullPtrException>(p_action);
}

}  // namespace

TEST(TypedRefTest, AttachOfANodeOfAnotherClassIsRefusedAndChangesNothing) {
    Ptr<Series> series = Node::Create<Series>();
    Ptr<Axis> axis = Node::Create<Axis>();
    Ptr<LogAxis> logAxis = Node::Create<LogAxis>();
    Ptr<PlainNode> plain = Node::Create<PlainNode>();
    series->_axis.Attach(axis);
    series->_axes.Attach(logAxis);  // a derived class is a T
    TimeStamp const stamp = series->Time();
    for (IExplicitRef* ref : std::initializer_list<IExplicitRef*>{&series->_axis, &series->_axes, &series->_plain}) {
        EXPECT_EQ(CastRefusal([&] { ref->Attach(plain); }), "failed to cast Core::Ptr to type!");
        EXPECT_EQ(CastRefusal([&] { ExplicitRefAccess(series, *ref).Attach(plain); }),
                  "failed to cast Core::Ptr to type!");
        EXPECT_EQ(CastRefusal([&] { ref->Attach(Ptr<Node>()); }), "null pointer passed to Core::Ptr");
    }
    EXPECT_TRUE(series->Time() == stamp && plain->Deps().Empty());
    EXPECT_EQ(series->_axis.Get(), axis);
    EXPECT_EQ(series->_axes.GetAll(), std::vector<Ptr<Axis>>{logAxis});
    EXPECT_EQ(series->_plain.GetAll(), std::vector<Ptr<Axis>>{});
    ExplicitRefAccess(series, std::string("plain")).Attach(logAxis);
    EXPECT_EQ(series->_plain.Get(), Ptr<Axis>(logAxis)) << "generic access attaches a T";
}

TEST(TypedRefTest, ADependentLinkFollowsAttachDetachClearReplacementAndTheTargetsEnd) {
    Ptr<Series> series = Node::Create<Series>();
    Ptr<Axis> a = Node::Create<Axis>(), b = Node::Create<Axis>(), c = Node::Create<Axis>();
    std::vector<Node const*> const none, justSeries{series.Get()};
    series->_axis.Attach(a);
    series->_axis.Attach(a);
    EXPECT_EQ(DependentsOf(*a), justSeries) << "attaching the same node again links it once";
    ModificationWatcher watcher(*series);
    a->Touch();
    EXPECT_TRUE(watcher.Modified()) << "the owner hears its target";
    series->_axis.Attach(b);
    EXPECT_TRUE(DependentsOf(*a) == none && DependentsOf(*b) == justSeries) << "replacement moves the link";
    series->_axis.Detach(a);
    EXPECT_EQ(DependentsOf(*b), justSeries) << "detaching another node leaves the link";
    series->_axis.Detach(b);
    EXPECT_EQ(DependentsOf(*b), none);
    series->_axis.Attach(c);
    series->_axis.Clear();
    EXPECT_EQ(DependentsOf(*c), none);

    for (Ptr<Axis> const& axis : {a, b, c, a}) {
        series->_axes.Attach(axis);
    }
    series->_plain.Attach(c);
    EXPECT_TRUE(DependentsOf(*a) == justSeries && DependentsOf(*c) == justSeries) << "a plain reference links nothing";
    series->_axes.Detach(b);
    EXPECT_EQ(DependentsOf(*b), none);
    c = Ptr<Axis>();  // a target's end takes its list with it
    EXPECT_EQ(series->_axes.GetAll(), std::vector<Ptr<Axis>>{a});
    series->_axes.Clear();
    EXPECT_EQ(DependentsOf(*a), none);
    EXPECT_TRUE(series->_plain.GetAll().empty());
}

TEST(TypedRefTest, AnAttachThatWouldCloseACycleOrChangeAWalkedListIsRefusedAndChangesNothing) {
    Ptr<Series> series = Node::Create<Series>();
    Ptr<Axis> a = Node::Create<Axis>(), looped = Node::Create<Axis>();
    series->_axis.Attach(a);
    series->Deps().Insert(*looped);  // looped already depends on the series
    TimeStamp const stamp = series->Time();
    EXPECT_THROW(series->_axis.Attach(looped), CyclicDependencyFoundExcept);
    EXPECT_THROW(series->_axes.Attach(looped), CyclicDependencyFoundExcept);
    EXPECT_EQ(series->_axis.Get(), a);
    EXPECT_TRUE(series->_axes.GetAll().empty() && series->Time() == stamp);
    EXPECT_EQ(DependentsOf(*a), std::vector<Node const*>{series.Get()});
    EXPECT_TRUE(looped->Deps().Empty());

    // A link into a list that a walk is walking is refused the same way, and
    // replacing a target whose list is walked takes the new link back.
    Ptr<Axis> walked = Node::Create<Axis>();
    Ptr<PlainNode> listener = Node::Create<PlainNode>();
    walked->Deps().Insert(*listener);
    qeldebug::capture const quiet;  // the refusals are reported, then thrown
    struct Case {
        Ptr<Axis> held, attached;
        std::vector<Node const*> ofA, ofWalked;
    } const cases[] = {{a, walked, {series.Get()}, {listener.Get()}}, {walked, a, {}, {listener.Get(), series.Get()}}};
    for (Case const& c : cases) {
        series->_axis.Clear();
        series->_axis.Attach(c.held);
        std::string refusal;
        Subscription inWalk = listener->OnTouched(
            [&](TouchEvent const&) { refusal = qeltest::CheckFailure([&] { series->_axis.Attach(c.attached); }); });
        walked->Touch();
        inWalk.Cancel();
        EXPECT_NE(refusal.find("Dependencies changed while a propagation walks them."), std::string::npos) << refusal;
        EXPECT_EQ(series->_axis.Get(), c.held);
        EXPECT_EQ(DependentsOf(*a), c.ofA);
        EXPECT_EQ(DependentsOf(*walked), c.ofWalked);
    }
}

TEST(NodeLinkTest, DependOnRefusesDuplicatesAndCyclesAndStopDependingOnUndoesIt) {
    Ptr<Axis> a = Node::Create<Axis>(), b = Node::Create<Axis>(), c = Node::Create<Axis>();
    Qel::Chart::Core::Accessors::NodeAccess(a).SetName("A");
    EXPECT_TRUE(b->DependOn(*a));
    EXPECT_FALSE(b->DependOn(*a));
    EXPECT_TRUE(c->DependOn(*b));
    EXPECT_EQ(a->Deps().Size(), 1u);
    // c depends on a through b
    std::string const text = qeltest::ThrownText<CyclicDependencyFoundExcept>([&] { a->DependOn(*c); });
    EXPECT_EQ(text.rfind("Cyclic Dependency : id(", 0), 0u) << text;
    EXPECT_NE(text.find("name(A)"), std::string::npos) << text;
    EXPECT_THROW(a->DependOn(*a), CyclicDependencyFoundExcept);
    EXPECT_TRUE(a->Deps().Size() == 1u && c->Deps().Empty());
    EXPECT_TRUE(b->StopDependingOn(*a));
    EXPECT_FALSE(b->StopDependingOn(*a));
    EXPECT_TRUE(a->Deps().Empty());
    EXPECT_TRUE(a->DependOn(*c)) << "without b's link there is no cycle";
}

TEST(NodeLinkTest, SelfPtrIsTheOwnerUntilTheNodeIsDeleted) {
    Ptr<Axis> axis = Node::Create<Axis>();
    EXPECT_EQ(axis->SelfPtr(), Ptr<Node>(axis));
    Axis* const raw = axis.Get();
    std::string during;
    Subscription const deleted = axis->OnTouched([&](TouchEvent const& p_event) {
        if (p_event.change == IM::Deallocate) {
            during = CastRefusal([&] { raw->SelfPtr(); });
        }
    });
    axis = Ptr<Axis>();
    EXPECT_EQ(during, "null pointer passed to Core::Ptr");
}

// A const list of dependents is walked by range-for in qeltest::DependentsOf.
TEST(RangeForTest, PathsWatcherListsAndLightArraysWalkWhatBeginAndEndSpan) {
    Ptr<Axis> a = Node::Create<Axis>(), b = Node::Create<Axis>();
    Qel::Chart::Utility::LightArray<int> ids, none;
    for (int id : {4, 7, 9}) {
        ids.Append(id);
    }
    for (int& id : ids) {
        id *= 2;
    }
    std::vector<int> seen;
    for (int id : NodePath(ids)) {
        seen.push_back(id);
    }
    for (int id : NodePath(none)) {
        seen.push_back(id);
    }
    EXPECT_EQ(seen, (std::vector<int>{8, 14, 18}));

    ModificationWatcherList watchers;
    watchers.Append(ModificationWatcher(*a));
    watchers.Append(ModificationWatcher(*b));
    b->Touch();
    std::vector<bool> modified;
    for (ModificationWatcher const& watcher : watchers) {
        modified.push_back(watcher.Modified());
    }
    EXPECT_EQ(modified, (std::vector<bool>{false, true}));
}

TEST(ExplicitRefTest, ReferencesKeepNothingAliveLetGoOfEndedTargetsAndRefuseAnEmptyPtr) {
    Ptr<TreeNode> owner = Node::Create<TreeNode>();
    Ptr<PlainNode> a = Node::Create<PlainNode>(), b = Node::Create<PlainNode>();
    owner->_parent.Attach(b);
    owner->_children.Attach(a);
    owner->_children.Attach(b);
    WeakPtr<PlainNode> weak(b);
    b = Ptr<PlainNode>();
    EXPECT_TRUE(weak.Expired());
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a}) << "a dead node drops out";
    EXPECT_FALSE(owner->_parent.IsSet());
    // Get of an ended or absent target says which reference of which node.
    Qel::Chart::Core::Accessors::NodeAccess(owner).SetName("tree");
    EXPECT_EQ(qeltest::ThrownText<NullPtrException>([&] { owner->_parent.Get(); }),
              "the reference \"parent\" of node id(" +
                  std::to_string(Qel::Chart::Core::Accessors::NodeAccess(owner).UniqueId()) +
                  ") name(tree) (class (anonymous namespace)::TreeNode) references no node");

    // Attach-and-die cycles: every Attach meets the ended target before it
    // and drops it, so the heap in use does not grow with the cycles.
    auto cycle = [&] { owner->_children.Attach(Node::Create<PlainNode>()); };
    cycle();
    cycle();
    qeltest::HeapUse const use = qeltest::MeasureHeap([&] {
        for (int i = 0; i < 1000; ++i) {
            cycle();
        }
    });
    EXPECT_LE(use.sizes.size(), use.frees + 1) << "at most one block outlives the cycles";
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a});
    for (IExplicitRef* ref :
         {static_cast<IExplicitRef*>(&owner->_parent), static_cast<IExplicitRef*>(&owner->_children)}) {
        TimeStamp const before = ref->Time();
        EXPECT_THROW(ref->Attach(Ptr<Node>()), NullPtrException);
        EXPECT_TRUE(ref->Time() == before);
    }
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a});
}
