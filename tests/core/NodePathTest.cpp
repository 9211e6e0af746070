#include "NodePath.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using Qel::Chart::Core::NodePath;
using Qel::Chart::Utility::LightArray;

namespace {

NodePath PathOf(std::vector<int> const& p_ids) {
    LightArray<int> ids;
    ids.Resize(p_ids.size());
    for (std::size_t i = 0; i < p_ids.size(); ++i) {
        ids[i] = p_ids[i];
    }
    return NodePath(ids);
}

std::vector<int> IdsOf(NodePath const& p_path) { return std::vector<int>(p_path.Begin(), p_path.End()); }

std::string Printed(NodePath const& p_path) {
    std::ostringstream out;
    out << p_path;
    return out.str();
}

using Heap = qeltest::HeapUse;
template <class F>
Heap HeapUse(F&& p_action) {
    return qeltest::MeasureHeap(std::forward<F>(p_action));
}

// The size of the one block that holds `p_count` ids: the array's 8-byte
// header, then the ids.
std::size_t BlockOf(std::size_t p_count) { return 8 + p_count * sizeof(int); }

char const* const kNodeIdText = "\"!_path.Empty()\" - int __cdecl Qel::Chart::Core::NodePath::NodeId(void) const";
char const* const kParentText =
    "\"!_path.Empty()\" - class Qel::Chart::Core::NodePath __cdecl Qel::Chart::Core::NodePath::Parent(void) const";

}  // namespace

// ---------------------------------------------------------------------------

TEST(NodePathTest, DefaultPathIsUndefined) {
    NodePath const path;
    EXPECT_FALSE(path.IsDefined());
    EXPECT_EQ(path.Count(), 0);
    EXPECT_EQ(path.Begin(), nullptr);
    EXPECT_EQ(path.End(), nullptr);
    EXPECT_EQ(Printed(path), "");
    EXPECT_EQ(sizeof(NodePath), sizeof(void*)) << "a path is one pointer beside its empty bases";
}

TEST(NodePathTest, EmptyArrayGivesUndefinedPath) {
    NodePath const path{LightArray<int>()};
    EXPECT_FALSE(path.IsDefined());
    EXPECT_EQ(path, NodePath());
}

TEST(NodePathTest, KeepsIdsInOrder) {
    NodePath const path = PathOf({4, 7, 9});
    EXPECT_TRUE(path.IsDefined());
    EXPECT_EQ(path.Count(), 3);
    EXPECT_EQ(path.End() - path.Begin(), 3);
    EXPECT_EQ(IdsOf(path), (std::vector<int>{4, 7, 9}));
}

TEST(NodePathTest, ConstructionCopiesTheArray) {
    LightArray<int> ids;
    ids.Append(1);
    ids.Append(2);
    NodePath const path(ids);
    ids[0] = 99;
    EXPECT_NE(path.Begin(), ids.Begin());
    EXPECT_EQ(IdsOf(path), (std::vector<int>{1, 2}));
}

// ---------------------------------------------------------------------------

TEST(NodePathNavigationTest, NodeIdIsTheLastId) {
    EXPECT_EQ(PathOf({4, 7, 9}).NodeId(), 9);
    EXPECT_EQ(PathOf({-5}).NodeId(), -5);
}

TEST(NodePathNavigationTest, ParentsWalkUpToUndefined) {
    NodePath const path = PathOf({4, 7, 9});
    NodePath const parent = path.Parent();
    EXPECT_EQ(IdsOf(parent), (std::vector<int>{4, 7}));
    EXPECT_EQ(parent.NodeId(), 7);
    NodePath const grandParent = parent.Parent();
    EXPECT_EQ(IdsOf(grandParent), (std::vector<int>{4}));
    NodePath const top = grandParent.Parent();
    EXPECT_FALSE(top.IsDefined());
    EXPECT_EQ(top.Begin(), nullptr);
    EXPECT_EQ(IdsOf(path), (std::vector<int>{4, 7, 9})) << "Parent leaves the path as it was";
}

TEST(NodePathNavigationTest, UndefinedPathFailsNodeIdUnderEitherPolicy) {
    for (auto policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        NodePath const path;
        EXPECT_THROW(path.NodeId(), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kNodeIdText});
        EXPECT_EQ(cap.records().size(), 1u);
    }
}

TEST(NodePathNavigationTest, UndefinedPathFailsParentUnderEitherPolicy) {
    for (auto policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        NodePath const path;
        EXPECT_THROW(path.Parent(), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kParentText});
        EXPECT_EQ(cap.records().size(), 1u);
    }
}

TEST(NodePathNavigationTest, DefinedPathReportsNothing) {
    qeldebug::capture cap(qeldebug::failpolicy::returning);
    NodePath const path = PathOf({3});
    EXPECT_EQ(path.NodeId(), 3);
    EXPECT_FALSE(path.Parent().IsDefined());
    EXPECT_TRUE(cap.records().empty());
}

// ---------------------------------------------------------------------------

TEST(NodePathEqualityTest, SameIdsAreEqual) {
    EXPECT_EQ(PathOf({1, 2}), PathOf({1, 2}));
    EXPECT_FALSE(PathOf({1, 2}) != PathOf({1, 2}));
    EXPECT_EQ(NodePath(), NodePath());
}

TEST(NodePathEqualityTest, OrderLengthAndEveryPositionCount) {
    EXPECT_NE(PathOf({1, 2}), PathOf({2, 1}));
    EXPECT_NE(PathOf({1, 2}), PathOf({1, 2, 3}));
    EXPECT_NE(PathOf({1, 2, 3}), PathOf({1, 2}));
    EXPECT_NE(PathOf({5, 2, 3}), PathOf({1, 2, 3})) << "the first id counts too";
    EXPECT_NE(PathOf({1}), NodePath());
    EXPECT_NE(NodePath(), PathOf({0}));
}

// ---------------------------------------------------------------------------

TEST(NodePathOrderTest, PrefixOrdersBeforeItsExtensions) {
    EXPECT_LT(PathOf({1, 2}), PathOf({1, 2, 0}));
    EXPECT_GT(PathOf({1, 2, 0}), PathOf({1, 2}));
    EXPECT_LT(PathOf({1, 2}), PathOf({1, 2, -7})) << "length decides, not the sign of the extra id";
}

TEST(NodePathOrderTest, FirstDifferenceDecides) {
    EXPECT_LT(PathOf({1, 2, 0}), PathOf({1, 3}));
    EXPECT_GT(PathOf({1, 3}), PathOf({1, 2, 0}));
    EXPECT_LT(PathOf({9}), PathOf({10, 0}));
}

TEST(NodePathOrderTest, IdsCompareSigned) {
    EXPECT_LT(PathOf({-1}), PathOf({0}));
    EXPECT_LT(PathOf({-2147483647 - 1}), PathOf({2147483647}));
    EXPECT_LT(PathOf({4, -3}), PathOf({4, 2}));
}

TEST(NodePathOrderTest, UndefinedOrdersFirst) {
    EXPECT_LT(NodePath(), PathOf({-2147483647 - 1}));
    EXPECT_FALSE(PathOf({0}) < NodePath());
    EXPECT_FALSE(NodePath() < NodePath());
}

TEST(NodePathOrderTest, EqualPathsAreNotLess) {
    NodePath const a = PathOf({1, 2});
    NodePath const b = PathOf({1, 2});
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_LE(a, b);
    EXPECT_GE(a, b);
}

TEST(NodePathOrderTest, KeysAnOrderedMap) {
    std::map<NodePath, std::string> names;
    names[PathOf({1, 3})] = "c";
    names[PathOf({1})] = "a";
    names[NodePath()] = "none";
    names[PathOf({1, 2, 5})] = "b";
    names[PathOf({1, 2, 5})] = "b again";
    std::vector<std::string> inOrder;
    for (auto const& entry : names) {
        inOrder.push_back(entry.second);
    }
    EXPECT_EQ(inOrder, (std::vector<std::string>{"none", "a", "b again", "c"}));
}

// ---------------------------------------------------------------------------

TEST(NodePathPrintTest, JoinsIdsWithDots) {
    EXPECT_EQ(Printed(PathOf({1, 20, -3})), "1.20.-3");
    EXPECT_EQ(Printed(PathOf({42})), "42");
}

TEST(NodePathPrintTest, UsesTheStreamsIntFormatting) {
    std::ostringstream out;
    out << std::hex << std::showbase << PathOf({255, 16});
    EXPECT_EQ(out.str(), "0xff.0x10");
}

// ---------------------------------------------------------------------------

TEST(NodePathStorageTest, CopyHoldsExactlyItsIds) {
    NodePath const source = PathOf({1, 2, 3});
    std::optional<NodePath> copy;
    Heap const heap = HeapUse([&] { copy.emplace(source); });
    EXPECT_EQ(heap.sizes, std::vector<std::size_t>{BlockOf(3)});
    EXPECT_NE(copy->Begin(), source.Begin());
    EXPECT_EQ(*copy, source);
}

TEST(NodePathStorageTest, ConstructionFromArrayHoldsExactlyItsIds) {
    LightArray<int> ids;
    ids.Resize(4);
    std::optional<NodePath> path;
    Heap const heap = HeapUse([&] { path.emplace(ids); });
    EXPECT_EQ(heap.sizes, std::vector<std::size_t>{BlockOf(4)});
    EXPECT_EQ(path->Count(), 4);
}

TEST(NodePathStorageTest, ParentHoldsExactlyItsIds) {
    NodePath const path = PathOf({1, 2, 3, 4});
    std::optional<NodePath> parent;
    Heap const heap = HeapUse([&] { parent.emplace(path.Parent()); });
    EXPECT_EQ(heap.sizes, std::vector<std::size_t>{BlockOf(3)}) << "one block, and no copy of it";
    EXPECT_EQ(parent->Count(), 3);

    NodePath const single = PathOf({8});
    bool defined = true;
    EXPECT_TRUE(HeapUse([&] { defined = single.Parent().IsDefined(); }).sizes.empty())
        << "an undefined parent holds no storage";
    EXPECT_FALSE(defined);
}

TEST(NodePathStorageTest, UndefinedCopiesAllocateNothing) {
    NodePath const undefined;
    std::optional<NodePath> copy;
    NodePath assigned = PathOf({2});
    Heap const heap = HeapUse([&] {
        copy.emplace(undefined);
        assigned = undefined;
    });
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_EQ(heap.frees, 1u) << "assigning an undefined path frees the old block";
    EXPECT_FALSE(copy->IsDefined());
    EXPECT_EQ(assigned.Begin(), nullptr);
    EXPECT_FALSE(assigned.IsDefined());
}

TEST(NodePathStorageTest, AssignmentReplacesWithExactlyTheOthersIds) {
    NodePath target = PathOf({7, 8, 9, 10});
    NodePath const shorter = PathOf({1, 2});
    Heap const heap = HeapUse([&] { target = shorter; });
    EXPECT_EQ(heap.sizes, std::vector<std::size_t>{BlockOf(2)});
    EXPECT_EQ(heap.frees, 1u) << "the old block is freed";
    EXPECT_EQ(IdsOf(target), (std::vector<int>{1, 2}));
    EXPECT_EQ(target.Count(), 2);

    NodePath const longer = PathOf({3, 4, 5});
    target = longer;
    EXPECT_EQ(IdsOf(target), (std::vector<int>{3, 4, 5}));
    EXPECT_NE(target.Begin(), longer.Begin());
}

TEST(NodePathStorageTest, MoveTakesTheBlockAndLeavesTheSourceUndefined) {
    NodePath source = PathOf({1, 2, 3});
    int const* const block = source.Begin();
    std::optional<NodePath> moved;
    Heap heap = HeapUse([&] { moved.emplace(std::move(source)); });
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_EQ(moved->Begin(), block);
    EXPECT_FALSE(source.IsDefined());  // NOLINT(bugprone-use-after-move): the moved-from state is the point

    NodePath target = PathOf({9});
    heap = HeapUse([&] { target = std::move(*moved); });
    EXPECT_TRUE(heap.sizes.empty());
    EXPECT_EQ(heap.frees, 1u) << "the target's old block is freed";
    EXPECT_EQ(target.Begin(), block);
    EXPECT_EQ(IdsOf(target), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(moved->IsDefined());
}

TEST(NodePathStorageTest, SelfAssignmentKeepsTheIds) {
    NodePath path = PathOf({5, 6});
    NodePath& alias = path;
    path = alias;
    EXPECT_EQ(IdsOf(path), (std::vector<int>{5, 6}));
}
