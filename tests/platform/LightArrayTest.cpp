#include "LightArray.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <vector>

using Qel::Chart::Utility::LightArray;
using qeltest::HeapUse;
using qeltest::MeasureHeap;
using qeltest::Sizes;
using Values = std::vector<int>;

namespace {

// Counts live instances and logs the values it destroys. Its payload is on
// the heap, so a copy made from a freed element shows up.
struct Tracked {
    static int s_live;
    static Values s_destroyed;

    explicit Tracked(int p_value = -1) : _value(new int(p_value)) { ++s_live; }
    Tracked(Tracked const& p_other) : Tracked(*p_other._value) {}
    Tracked& operator=(Tracked const& p_other) {
        *_value = *p_other._value;
        return *this;
    }
    ~Tracked() {
        s_destroyed.push_back(*_value);
        delete _value;
        --s_live;
    }
    int* _value;
};
int Tracked::s_live = 0;
Values Tracked::s_destroyed;

class LightArrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tracked::s_live = 0;
        Tracked::s_destroyed.clear();
        Tracked::s_destroyed.reserve(64);
    }
    void TearDown() override { EXPECT_EQ(Tracked::s_live, 0) << "elements leaked or destroyed twice"; }

    // An array of the given values; the destruction log starts empty.
    static void Fill(LightArray<Tracked>& p_array, Values const& p_values) {
        for (int value : p_values) {
            p_array.Append(Tracked(value));
        }
        Tracked::s_destroyed.clear();
    }
    static Values ValuesOf(LightArray<Tracked> const& p_array) {
        Values values;
        for (Tracked const* it = p_array.Begin(); it != p_array.End(); ++it) {
            values.push_back(*it->_value);
        }
        return values;
    }
    static constexpr std::size_t BlockSize(std::size_t p_count) { return 8 + p_count * sizeof(Tracked); }
};

}  // namespace

TEST_F(LightArrayTest, AppendAllocatesExactBlocksAndAcceptsItsOwnElements) {
    LightArray<int> ints;
    EXPECT_EQ(ints.Begin(), nullptr);
    EXPECT_EQ(ints.End(), nullptr);
    HeapUse const use = MeasureHeap([&] {
        ints.Append(10);
        ints.Append(20);
        ints.Append(30);
    });
    EXPECT_EQ(use.sizes, (Sizes{8 + 4, 8 + 8, 8 + 12}));
    EXPECT_EQ(use.frees, 2u);
    EXPECT_EQ(ints.Capacity(), 3u);
    EXPECT_EQ(Values(ints.Begin(), ints.End()), (Values{10, 20, 30}));

    LightArray<Tracked> array;
    Fill(array, {1, 2});
    array.Append(array[1]);
    array.Append(array[0]);
    EXPECT_TRUE(Tracked::s_destroyed.empty()) << "growth moves elements byte for byte";
    EXPECT_EQ(ValuesOf(array), (Values{1, 2, 2, 1}));
}

TEST_F(LightArrayTest, CopyHasExactSizeAndOwnElements) {
    LightArray<Tracked> source;
    Fill(source, {1, 2, 3});
    std::optional<LightArray<Tracked>> copy;
    HeapUse const use = MeasureHeap([&] { copy.emplace(source); });
    EXPECT_EQ(use.sizes, (Sizes{BlockSize(3), sizeof(int), sizeof(int), sizeof(int)}));
    EXPECT_EQ(copy->Capacity(), 3u);
    copy.reset();
    EXPECT_EQ(ValuesOf(source), (Values{1, 2, 3}));

    LightArray<Tracked> empty;
    std::optional<LightArray<Tracked>> emptyCopy;
    EXPECT_TRUE(MeasureHeap([&] { emptyCopy.emplace(empty); }).sizes.empty());
    EXPECT_TRUE(emptyCopy->Empty());
    source = empty;
    EXPECT_TRUE(source.Empty());
}

TEST_F(LightArrayTest, ClearAndEraseDestroyExactlyTheirElements) {
    LightArray<Tracked> array;
    Fill(array, {1, 2, 3});
    EXPECT_EQ(MeasureHeap([&] { array.Clear(); }).frees, 4u) << "three payloads and the block";
    EXPECT_EQ(Tracked::s_destroyed, (Values{1, 2, 3}));
    EXPECT_TRUE(array.Empty());
    EXPECT_EQ(array.Begin(), nullptr);

    Fill(array, {1, 2, 3, 4});
    Tracked const* block = array.Begin();
    EXPECT_TRUE(MeasureHeap([&] { array.Erase(1); }).sizes.empty()) << "the tail moves in place";
    EXPECT_EQ(Tracked::s_destroyed, Values{2});
    EXPECT_EQ(array.Begin(), block);
    EXPECT_EQ(array.Capacity(), 3u);
    EXPECT_EQ(ValuesOf(array), (Values{1, 3, 4}));
    array.Erase(2);
    array.Erase(0);
    EXPECT_EQ(ValuesOf(array), Values{3});
    EXPECT_EQ(array.Capacity(), 1u);
    EXPECT_THROW(array.Erase(1), std::out_of_range);
    EXPECT_EQ(MeasureHeap([&] { array.Erase(0); }).frees, 2u) << "the payload and the block";
    EXPECT_TRUE(array.Empty());
    EXPECT_EQ(array.Begin(), nullptr);
}

TEST_F(LightArrayTest, ResizeUpAndDown) {
    LightArray<Tracked> array;
    Fill(array, {1, 2});
    EXPECT_EQ(MeasureHeap([&] { array.Resize(4); }).sizes, (Sizes{BlockSize(4), sizeof(int), sizeof(int)}));
    EXPECT_EQ(array.Capacity(), 4u);
    EXPECT_EQ(ValuesOf(array), (Values{1, 2, -1, -1}));
    EXPECT_TRUE(Tracked::s_destroyed.empty());

    array[3] = Tracked(4);
    Tracked::s_destroyed.clear();
    EXPECT_EQ(MeasureHeap([&] { array.Resize(1); }).sizes, Sizes{BlockSize(1)}) << "no spare capacity is kept";
    EXPECT_EQ(Tracked::s_destroyed, (Values{2, -1, 4}));
    EXPECT_EQ(ValuesOf(array), Values{1});
    array.Resize(0);
    EXPECT_TRUE(array.Empty());
}
