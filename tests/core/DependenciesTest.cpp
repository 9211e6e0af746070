#include <Dependencies.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

using namespace graphtest;

namespace {

class Tracker : public Node {};

void Link(Ptr<Tracker> const& p_from, std::initializer_list<Ptr<Tracker>> p_to) {
    for (auto const& to : p_to) {
        p_from->Deps().Insert(*to);
    }
}

bool CycleFrom(Ptr<Tracker> const& p_start) { return Dependencies::HasCyclicDependency(p_start->Id()); }

}  // namespace

TEST(DependenciesTest, KeepsOrderAndDuplicatesUntilSquezeDropsTheExpiredAndHoldsNoStorageWhenEmpty) {
    TestModifiable a, x, b, y;
    Dependencies list;
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);
    x.Expire();  // inserted unchecked
    for (TestModifiable* m : {&a, &x, &b, &y, &a}) {
        IModifiable::Identifier const* const before = list.Begin();
        list.Insert(*m);
        EXPECT_NE(list.Begin(), before);  // every Insert moves the entries
    }
    y.Expire();
    IModifiable::Identifier const* const before = list.Begin();
    list.Remove(a);  // the first match, the tail moved forward in place
    EXPECT_EQ(list.Begin(), before);
    list.Squeze();
    EXPECT_EQ(Entries(list), (Addresses{&b, &a}));
    b.Expire();
    a.Expire();
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
}

TEST(DependenciesTest, CyclesAreFoundFromEveryMemberAndFromAboveButNotInADiamond) {
    Ptr<Tracker> const a = Node::Create<Tracker>(), b = Node::Create<Tracker>(), c = Node::Create<Tracker>(),
                       d = Node::Create<Tracker>();
    TestModifiable notATracker;
    a->Deps().Insert(notATracker);  // ends its branch, as an expired entry does
    Link(a, {Node::Create<Tracker>(), b, c});
    Link(b, {d});
    Link(c, {d});
    EXPECT_FALSE(CycleFrom(a));
    EXPECT_FALSE(Dependencies::HasCyclicDependency(a->Deps().Begin()[1]));
    EXPECT_FALSE(Dependencies::HasCyclicDependency(IModifiable::Identifier()));
    Link(d, {b});
    Link(c, {c});
    for (auto const& member : {a, b, c, d}) {
        EXPECT_TRUE(CycleFrom(member));  // from a: not hidden by the entries before b
    }
    a->Deps().Remove(notATracker);
}

TEST(DependenciesTest, RefusalsAreReportedAndChangeNothing) {
    using IdSearch = DepthFirstSearch<IModifiable::Identifier, IModifiable::Identifier*>;
    std::string const search =
        "\" - __cdecl Qel::Chart::Core::DepthFirstSearch<class Qel::Chart::Core::IModifiable::Identifier,"
        "class Qel::Chart::Core::IModifiable::Identifier *>::DepthFirstSearch(const class boost::function<bool "
        "__cdecl(class Qel::Chart::Core::IModifiable::Identifier &,"
        "class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier * const &,"
        "class Qel::Chart::Core::IModifiable::Identifier * const &)> const &)>,"
        "const class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier &)>)";
    std::string const remove =
        "\"found != _list.End()\" - void __cdecl Qel::Chart::Core::Dependencies::Remove(const class "
        "Qel::Chart::Core::IModifiable &)";
    IdSearch::PerNodeOp const descend = [](IModifiable::Identifier&, IdSearch::ChildrenOp const&) { return true; };
    IdSearch::CycleOp const ignore = [](IModifiable::Identifier&) {};
    TestModifiable a, missing;
    Dependencies list, empty;
    list.Insert(a);
    std::pair<std::function<void()>, std::string> const cases[] = {
        {[&] { list.Remove(missing); }, remove},
        {[&] { empty.Remove(a); }, remove},
        {[&] { IdSearch const search(IdSearch::PerNodeOp(), ignore); }, "\"_perNodeOp" + search},
        {[&] { IdSearch const search(descend, IdSearch::CycleOp()); }, "\"_cycleDetectOp" + search},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (auto const& [action, text] : cases) {
            capture cap(policy);
            EXPECT_EQ(CheckFailure(action), text);  // either policy: nothing sensible is left to do
            EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Names{text});
        }
    }
    EXPECT_EQ(Entries(list), Addresses{&a});
    EXPECT_EQ(empty.Begin(), nullptr);
    EXPECT_STREQ(CyclicDependencyFoundExcept("a -> a").what(), "Cyclic Dependency : a -> a");
}
