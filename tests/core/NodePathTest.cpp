#include "NodePath.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>

using Qel::Chart::Core::NodePath;
using Qel::Chart::Utility::LightArray;
using qeltest::MeasureHeap;
using qeltest::Sizes;
using Ids = std::vector<int>;

namespace {

NodePath PathOf(Ids const& p_ids) {
    LightArray<int> ids;
    for (int id : p_ids) {
        ids.Append(id);
    }
    return NodePath(ids);
}

Ids IdsOf(NodePath const& p_path) { return Ids(p_path.Begin(), p_path.End()); }

// The array's 8-byte header, then the ids.
std::size_t BlockOf(std::size_t p_count) { return 8 + p_count * sizeof(int); }

}  // namespace

TEST(NodePathTest, ParentsWalkUpToAnUndefinedPathThatFailsNodeIdAndParent) {
    NodePath const path = PathOf({4, 7, 9});
    EXPECT_EQ(path.NodeId(), 9);
    EXPECT_EQ(IdsOf(path.Parent()), (Ids{4, 7}));
    EXPECT_EQ(IdsOf(path.Parent().Parent()), Ids{4});
    NodePath const top = path.Parent().Parent().Parent();
    EXPECT_TRUE(!top.IsDefined() && top.Count() == 0 && top.Begin() == nullptr && top.End() == nullptr);

    // The failed check ends the operation under either policy: there is no id to read.
    std::string const head = "\"!_path.Empty()\" - ";
    qeltest::ExpectRefused([&] { top.NodeId(); }, qeldebug::reportkind::ensure,
                           head + "int __cdecl Qel::Chart::Core::NodePath::NodeId(void) const");
    qeltest::ExpectRefused(
        [&] { top.Parent(); }, qeldebug::reportkind::ensure,
        head + "class Qel::Chart::Core::NodePath __cdecl Qel::Chart::Core::NodePath::Parent(void) const");
}

// Sorted by the expected order: undefined first, a prefix before its extensions,
// then the first difference decides with ids compared signed.
TEST(NodePathTest, OperatorsFollowTheExpectedOrderAndPrintingKeepsTheStreamsFormat) {
    std::vector<Ids> const sorted = {{},     {INT_MIN}, {-1},    {0},    {1},    {1, 2}, {1, 2, -7}, {1, 2, 0},
                                     {1, 3}, {2, 1},    {4, -3}, {4, 2}, {5, 2}, {9},    {10, 0},    {INT_MAX}};
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = 0; j < sorted.size(); ++j) {
            NodePath const a = PathOf(sorted[i]);
            NodePath const b = PathOf(sorted[j]);
            SCOPED_TRACE(::testing::Message() << i << " vs " << j);
            EXPECT_EQ(a == b, i == j);
            EXPECT_EQ(a != b, i != j);
            EXPECT_EQ(a < b, i < j);
            EXPECT_EQ(a > b, i > j);
            EXPECT_EQ(a <= b, i <= j);
            EXPECT_EQ(a >= b, i >= j);
        }
    }
    // A field width pads the empty first separator, not the first id; an
    // undefined path writes nothing, so the width goes on to the next item.
    std::ostringstream out;
    out << '[' << NodePath() << ']' << PathOf({1, 20, -3}) << '|' << std::hex << std::showbase << PathOf({255, 16})
        << std::dec << std::noshowbase << '|' << std::setw(4) << PathOf({1, 20}) << "|" << std::setw(3) << NodePath()
        << "|";
    EXPECT_EQ(out.str(), "[]1.20.-3|0xff.0x10|    1.20|  |");
}

TEST(NodePathTest, EveryNewPathHoldsOneBlockOfExactlyItsIds) {
    EXPECT_EQ(sizeof(NodePath), sizeof(void*));
    NodePath const source = PathOf({1, 2, 3, 4});
    std::optional<NodePath> copy, parent;
    EXPECT_EQ(MeasureHeap([&] { copy.emplace(source); }).sizes, Sizes{BlockOf(4)});
    EXPECT_EQ(MeasureHeap([&] { parent.emplace(source.Parent()); }).sizes, Sizes{BlockOf(3)});
    EXPECT_EQ(parent->Count(), 3);
    NodePath const single = PathOf({8});
    EXPECT_TRUE(MeasureHeap([&] { parent.emplace(single.Parent()); }).sizes.empty()) << "the parent of one id";
    EXPECT_TRUE(MeasureHeap([&] { copy.emplace(*parent); }).sizes.empty());
    EXPECT_FALSE(copy->IsDefined());

    NodePath target = PathOf({7, 8, 9, 10});
    NodePath const shorter = PathOf({1, 2});
    qeltest::HeapUse use = MeasureHeap([&] { target = shorter; });
    EXPECT_EQ(use.sizes, Sizes{BlockOf(2)});
    EXPECT_EQ(use.frees, 1u);
    EXPECT_EQ(IdsOf(target), (Ids{1, 2}));
    NodePath& alias = target;
    target = alias;
    EXPECT_EQ(IdsOf(target), (Ids{1, 2})) << "self-assignment keeps the ids";
    use = MeasureHeap([&] { target = *parent; });
    EXPECT_TRUE(use.sizes.empty());
    EXPECT_EQ(use.frees, 1u) << "assigning an undefined path frees the old block";
    EXPECT_FALSE(target.IsDefined());
}
