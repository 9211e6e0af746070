#include <Dependencies.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace graphtest;

namespace {

class Tracker : public Node {};

Ptr<Tracker> Make() { return Node::Create<Tracker>(); }

// `p_from` lists `p_to` as a dependent.
void Link(Ptr<Tracker> const& p_from, Ptr<Tracker> const& p_to) { p_from->Deps().Insert(*p_to); }

bool CycleFrom(Ptr<Tracker> const& p_start) { return Dependencies::HasCyclicDependency(p_start->Id()); }

using IdSearch = DepthFirstSearch<IModifiable::Identifier, IModifiable::Identifier*>;

// Both refusals name the constructor.
std::string const kConstructor =
    "__cdecl Qel::Chart::Core::DepthFirstSearch<class Qel::Chart::Core::IModifiable::Identifier,"
    "class Qel::Chart::Core::IModifiable::Identifier *>::DepthFirstSearch(const class boost::function<bool "
    "__cdecl(class Qel::Chart::Core::IModifiable::Identifier &,"
    "class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier * const &,"
    "class Qel::Chart::Core::IModifiable::Identifier * const &)> const &)>,"
    "const class boost::function<void __cdecl(class Qel::Chart::Core::IModifiable::Identifier &)>)";
std::string const kEmptyPerNodeText = "\"_perNodeOp\" - " + kConstructor;
std::string const kEmptyCycleText = "\"_cycleDetectOp\" - " + kConstructor;

bool Descend(IModifiable::Identifier&, IdSearch::ChildrenOp const&) { return true; }
void Ignore(IModifiable::Identifier&) {}

}  // namespace

TEST(CycleDetectionTest, NoCycleWithoutAPathBackToAList) {
    auto lonely = Make(), a = Make(), b = Make(), c = Make(), d = Make();
    EXPECT_FALSE(CycleFrom(lonely));
    TestModifiable notATracker;
    EXPECT_FALSE(Dependencies::HasCyclicDependency(notATracker.Id()));
    lonely->Deps().Insert(notATracker);  // an object without a list ends its branch
    EXPECT_FALSE(CycleFrom(lonely));
    lonely->Deps().Remove(notATracker);

    IModifiable::Identifier expired;
    {
        auto gone = Make();
        expired = gone->Id();
        Link(a, gone);  // an expired entry ends its branch too
    }
    ASSERT_TRUE(expired.Expired());
    EXPECT_FALSE(Dependencies::HasCyclicDependency(expired));
    EXPECT_FALSE(Dependencies::HasCyclicDependency(IModifiable::Identifier()));

    // a: [expired, b, c], b: [d], c: [d] is a diamond, no cycle.
    Link(a, b);
    Link(a, c);
    Link(b, d);
    Link(c, d);
    EXPECT_FALSE(CycleFrom(a));
}

TEST(CycleDetectionTest, CyclesAreFoundFromEveryMemberAndFromAbove) {
    auto self = Make(), a = Make(), b = Make(), c = Make(), d = Make();
    Link(self, self);
    EXPECT_TRUE(CycleFrom(self));

    {
        auto gone = Make();
        Link(a, gone);
    }
    Link(a, b);
    Link(b, a);
    EXPECT_TRUE(CycleFrom(a));  // not hidden by the expired entry before b
    EXPECT_TRUE(CycleFrom(b));

    Link(c, d);
    Link(d, b);  // c -> d -> b -> a -> b, below c
    EXPECT_TRUE(CycleFrom(c));
}

TEST(DepthFirstSearchTest, EmptyOperationsAreRefusedAtConstruction) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        EXPECT_EQ(CheckFailure([] { IdSearch search(IdSearch::PerNodeOp(), &Ignore); }), kEmptyPerNodeText);
        EXPECT_EQ(CheckFailure([] { IdSearch search(&Descend, IdSearch::CycleOp()); }), kEmptyCycleText);
        // With both empty the first refusal ends the construction.
        EXPECT_EQ(CheckFailure([] { IdSearch search{IdSearch::PerNodeOp(), IdSearch::CycleOp()}; }), kEmptyPerNodeText);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure),
                  (std::vector<std::string>{kEmptyPerNodeText, kEmptyCycleText, kEmptyPerNodeText}));
    }
}

TEST(CyclicDependencyFoundExceptTest, MessageIsThePrefixFollowedByTheText) {
    EXPECT_STREQ(CyclicDependencyFoundExcept("").what(), "Cyclic Dependency : ");
    CyclicDependencyFoundExcept const e("a -> b -> a");
    try {
        throw CyclicDependencyFoundExcept(e);  // a copy, caught through its base
    } catch (Qel::Chart::Utility::Exception const& caught) {
        EXPECT_STREQ(caught.what(), "Cyclic Dependency : a -> b -> a");
    }
}
