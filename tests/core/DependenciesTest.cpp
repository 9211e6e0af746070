#include <Dependencies.h>

#include "ExpectedReports.h"
#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace graphtest;

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
