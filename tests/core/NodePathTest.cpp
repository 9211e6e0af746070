#include "NodePath.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using Qel::Chart::Core::NodePath;
using Qel::Chart::Utility::LightArray;
using qeltest::MeasureHeap;
using qeltest::Sizes;
using Ids = std::vector<int>;

namespace {

NodePath PathOf(Ids const& p_ids) {
    LightArray<int> ids;
    ids.Resize(p_ids.size());
    for (std::size_t i = 0; i < p_ids.size(); ++i) {
        ids[i] = p_ids[i];
    }
    return NodePath(ids);
}

Ids IdsOf(NodePath const& p_path) { return Ids(p_path.Begin(), p_path.End()); }

std::string Printed(NodePath const& p_path) {
    std::ostringstream out;
    out << p_path;
    return out.str();
}

// The one block that holds `p_count` ids: the array's 8-byte header, then the ids.
std::size_t BlockOf(std::size_t p_count) { return 8 + p_count * sizeof(int); }

char const* const kNodeIdText = "\"!_path.Empty()\" - int __cdecl Qel::Chart::Core::NodePath::NodeId(void) const";
char const* const kParentText =
    "\"!_path.Empty()\" - class Qel::Chart::Core::NodePath __cdecl Qel::Chart::Core::NodePath::Parent(void) const";

}  // namespace

TEST(NodePathTest, UndefinedAndDefinedPaths) {
    NodePath const path;
    EXPECT_FALSE(path.IsDefined());
    EXPECT_EQ(path.Count(), 0);
    EXPECT_EQ(path.Begin(), nullptr);
    EXPECT_EQ(path.End(), nullptr);
    EXPECT_EQ(sizeof(NodePath), sizeof(void*)) << "a path is one pointer beside its empty bases";
    EXPECT_FALSE(NodePath{LightArray<int>()}.IsDefined());

    LightArray<int> ids;
    ids.Append(4);
    ids.Append(7);
    ids.Append(9);
    NodePath const copied(ids);
    ids[0] = 99;
    EXPECT_NE(copied.Begin(), ids.Begin());
    EXPECT_TRUE(copied.IsDefined());
    EXPECT_EQ(copied.Count(), 3);
    EXPECT_EQ(copied.End() - copied.Begin(), 3);
    EXPECT_EQ(IdsOf(copied), (Ids{4, 7, 9}));
}

TEST(NodePathNavigationTest, NodeIdAndParentsWalkUpToUndefined) {
    qeldebug::capture cap(qeldebug::failpolicy::returning);
    NodePath const path = PathOf({4, 7, 9});
    EXPECT_EQ(path.NodeId(), 9);
    EXPECT_EQ(PathOf({-5}).NodeId(), -5);
    NodePath const parent = path.Parent();
    EXPECT_EQ(IdsOf(parent), (Ids{4, 7}));
    EXPECT_EQ(parent.NodeId(), 7);
    EXPECT_EQ(IdsOf(parent.Parent()), Ids{4});
    NodePath const top = parent.Parent().Parent();
    EXPECT_FALSE(top.IsDefined());
    EXPECT_EQ(top.Begin(), nullptr);
    EXPECT_EQ(IdsOf(path), (Ids{4, 7, 9})) << "Parent leaves the path as it was";
    EXPECT_TRUE(cap.records().empty());
}

TEST(NodePathNavigationTest, UndefinedPathFailsNodeIdAndParentUnderEitherPolicy) {
    for (auto policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        NodePath const path;
        {
            qeldebug::capture cap(policy);
            EXPECT_THROW(path.NodeId(), qeldebug::check_failed);
            EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kNodeIdText});
            EXPECT_EQ(cap.records().size(), 1u);
        }
        qeldebug::capture cap(policy);
        EXPECT_THROW(path.Parent(), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kParentText});
        EXPECT_EQ(cap.records().size(), 1u);
    }
}

// Every operator against the position in a list sorted by the expected order:
// undefined first, a prefix before its extensions, then the first difference
// decides with ids compared signed.
TEST(NodePathOrderTest, OperatorsFollowTheExpectedOrder) {
    std::vector<Ids> const sorted = {{},     {INT_MIN}, {-1},    {0},    {1},    {1, 2}, {1, 2, -7}, {1, 2, 0},
                                     {1, 3}, {2, 1},    {4, -3}, {4, 2}, {5, 2}, {9},    {10, 0},    {INT_MAX}};
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = 0; j < sorted.size(); ++j) {
            NodePath const a = PathOf(sorted[i]);
            NodePath const b = PathOf(sorted[j]);
            SCOPED_TRACE(Printed(a) + " vs " + Printed(b));
            EXPECT_EQ(a == b, i == j);
            EXPECT_EQ(a != b, i != j);
            EXPECT_EQ(a < b, i < j);
            EXPECT_EQ(a > b, i > j);
            EXPECT_EQ(a <= b, i <= j);
            EXPECT_EQ(a >= b, i >= j);
        }
    }
}

TEST(NodePathPrintTest, JoinsIdsWithDotsUnderTheStreamsIntFormatting) {
    EXPECT_EQ(Printed(NodePath()), "");
    EXPECT_EQ(Printed(PathOf({42})), "42");
    EXPECT_EQ(Printed(PathOf({1, 20, -3})), "1.20.-3");
    std::ostringstream out;
    out << std::hex << std::showbase << PathOf({255, 16});
    EXPECT_EQ(out.str(), "0xff.0x10");
}

TEST(NodePathStorageTest, EveryNewPathHoldsExactlyItsIds) {
    NodePath const source = PathOf({1, 2, 3, 4});
    LightArray<int> ids;
    ids.Resize(4);
    std::optional<NodePath> copy, fromArray, parent;
    EXPECT_EQ(MeasureHeap([&] { copy.emplace(source); }).sizes, Sizes{BlockOf(4)});
    EXPECT_NE(copy->Begin(), source.Begin());
    EXPECT_EQ(*copy, source);
    EXPECT_EQ(MeasureHeap([&] { fromArray.emplace(ids); }).sizes, Sizes{BlockOf(4)});
    EXPECT_EQ(fromArray->Count(), 4);
    EXPECT_EQ(MeasureHeap([&] { parent.emplace(source.Parent()); }).sizes, Sizes{BlockOf(3)})
        << "one block, and no copy of it";
    EXPECT_EQ(parent->Count(), 3);

    NodePath const single = PathOf({8});
    bool defined = true;
    EXPECT_TRUE(MeasureHeap([&] { defined = single.Parent().IsDefined(); }).sizes.empty())
        << "an undefined parent holds no storage";
    EXPECT_FALSE(defined);
}

TEST(NodePathStorageTest, AssignmentReplacesTheBlock) {
    NodePath const undefined;
    std::optional<NodePath> copy;
    NodePath target = PathOf({2});
    qeltest::HeapUse use = MeasureHeap([&] {
        copy.emplace(undefined);
        target = undefined;
    });
    EXPECT_TRUE(use.sizes.empty());
    EXPECT_EQ(use.frees, 1u) << "assigning an undefined path frees the old block";
    EXPECT_FALSE(copy->IsDefined());
    EXPECT_FALSE(target.IsDefined());
    EXPECT_EQ(target.Begin(), nullptr);

    target = PathOf({7, 8, 9, 10});
    NodePath const shorter = PathOf({1, 2});
    use = MeasureHeap([&] { target = shorter; });
    EXPECT_EQ(use.sizes, Sizes{BlockOf(2)});
    EXPECT_EQ(use.frees, 1u);
    EXPECT_EQ(IdsOf(target), (Ids{1, 2}));
    EXPECT_EQ(target.Count(), 2);
    NodePath const longer = PathOf({3, 4, 5});
    target = longer;
    EXPECT_EQ(IdsOf(target), (Ids{3, 4, 5}));
    EXPECT_NE(target.Begin(), longer.Begin());
    NodePath& alias = target;
    target = alias;
    EXPECT_EQ(IdsOf(target), (Ids{3, 4, 5})) << "self-assignment keeps the ids";
}

TEST(NodePathStorageTest, MoveTakesTheBlockAndLeavesTheSourceUndefined) {
    NodePath source = PathOf({1, 2, 3});
    int const* const block = source.Begin();
    std::optional<NodePath> moved;
    qeltest::HeapUse use = MeasureHeap([&] { moved.emplace(std::move(source)); });
    EXPECT_TRUE(use.sizes.empty());
    EXPECT_EQ(moved->Begin(), block);
    EXPECT_FALSE(source.IsDefined());  // NOLINT(bugprone-use-after-move): the moved-from state is the point

    NodePath target = PathOf({9});
    use = MeasureHeap([&] { target = std::move(*moved); });
    EXPECT_TRUE(use.sizes.empty());
    EXPECT_EQ(use.frees, 1u) << "the target's old block is freed";
    EXPECT_EQ(target.Begin(), block);
    EXPECT_EQ(IdsOf(target), (Ids{1, 2, 3}));
    EXPECT_FALSE(moved->IsDefined());
}
