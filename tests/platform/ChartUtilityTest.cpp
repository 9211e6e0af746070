#include "ChartUtility.h"
#include "LightArray.h"
#include "LightString.h"

#include "ExpectedReports.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using Qel::Chart::Utility::LightArray;
using qeldebug::failpolicy;
using qeltest::MeasureHeap;
using qeltest::Sizes;
using LightString = Qel::Chart::Utility::LightString_Base<char>;
using Values = std::vector<int>;

namespace {

std::string Contents(LightString const& p_string) {
    std::size_t length = 0;
    char const* chars = LightString::GetPtr(p_string, length);
    return chars == nullptr ? std::string() : std::string(chars, length);
}

using Shared = std::shared_ptr<int>;

}  // namespace

TEST(LightStringTest, ThirteenCharactersInlineFourteenOnTheHeapCopiesOwnTheirBlockAnInvalidKindReadsAsNull) {
    LightString empty, inlined;
    empty.CopyString("");
    EXPECT_EQ(empty.GetKind(), LightString::KindInline) << "an empty copy is short like any other";
    EXPECT_TRUE(MeasureHeap([&] { inlined.CopyString("thirteen-char"); }).sizes.empty());
    EXPECT_EQ(Contents(inlined), "thirteen-char");
    auto heap = std::make_unique<LightString>();
    EXPECT_EQ(MeasureHeap([&] { heap->CopyString("fourteen-chars"); }).sizes, Sizes{14});
    LightString const copy(*heap);
    heap.reset();
    EXPECT_EQ(Contents(copy), "fourteen-chars") << "the copy owns a block of its own";
    static char const literal[] = "not owned";
    std::size_t length = 0;
    EXPECT_EQ(LightString::GetPtr(LightString(LightString::Unowned(literal, 9)), length), literal);
    EXPECT_EQ(length, 9u);

    std::ostringstream out;
    out << "[" << LightString() << "][" << copy << "][" << LightString(std::string("a\0b", 3)) << "]";
    EXPECT_EQ(out.str(), std::string("[][fourteen-chars][a\0b]", 23));
    // An invalid kind byte (it follows the 13 bytes of characters) is reported
    // and reads as no characters; both kinds are destroyed whole.
    std::vector<std::string> const invalid{
        "const char *__cdecl Qel::Chart::Utility::LightString_Base<char>::GetPtr(const class "
        "Qel::Chart::Utility::LightString_Base<char> &,unsigned __int64 &) @line372"};
    for (std::string const& text : {std::string("in"), std::string(40, 'x')}) {
        SCOPED_TRACE(text);
        alignas(LightString) unsigned char raw[sizeof(LightString)];
        LightString* string = new (raw) LightString(text);
        unsigned char const kind = raw[13];
        raw[13] = 7;
        {
            qeldebug::capture cap(failpolicy::throwing);
            EXPECT_EQ(LightString::GetPtr(*std::launder(string), length), nullptr);
            EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::sentry), invalid);
        }
        EXPECT_EQ(length, text.size());
        raw[13] = kind;
        string = std::launder(string);
        EXPECT_EQ(MeasureHeap([&] { string->~LightString(); }).frees, text.size() > 13 ? 1u : 0u);
        EXPECT_EQ(std::count(raw, raw + sizeof raw, 0), 16) << "destruction zeroes all bytes";
    }
}

TEST(LightStringTest, ReportsLeaveTheStringWholeAndNothingLeaks) {
    std::string const& signature = qeltest::kInCopyString;
    qeldebug::capture quiet(failpolicy::throwing);  // the longest string passes without a report
    LightString longest(std::string(65535, 'm'));
    EXPECT_EQ(Contents(longest), std::string(65535, 'm'));
    // 65,536 passes the asserted bound but does not fit the 16-bit length. Only a returned
    // not-null report goes on, and then the new text replaces the old one.
    struct Case {
        std::string text, report;
        bool endsOperation;
    } const cases[] = {{std::string(65536, 'c'), "", true},
                       {std::string(65537, 'c'), "\"max_string_length >= p_string.size()\"" + signature, true},
                       {"another long string",
                        "\"!_buffer.heap_pointer && \"CopyString - Expected a null pointer.\"\"" + signature, false}};
    std::string const old("a heap string, unchanged");
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (Case const& c : cases) {
            std::string failure(400, ' '), report(400, ' '), contents(400, ' ');  // no growth while measured
            qeltest::HeapUse const use = MeasureHeap([&] {
                qeldebug::capture cap(policy);
                LightString s(old);
                std::string const thrown = qeltest::CheckFailure([&] { s.CopyString(c.text); });
                std::vector<std::string> const texts = qeltest::Texts(cap, qeldebug::reportkind::ensure);
                std::string const held = Contents(s);
                failure.assign(thrown);
                report.assign(texts.size() == 1 ? texts[0] : std::to_string(texts.size()) + " reports");
                contents.assign(held);
            });
            SCOPED_TRACE(c.text.size());
            bool const ended = c.endsOperation || policy == failpolicy::throwing;
            EXPECT_EQ(failure, ended ? report : "<returned>");
            EXPECT_EQ(report, c.report.empty() ? failure : c.report);
            EXPECT_EQ(contents, ended ? old : c.text);
            EXPECT_EQ(use.frees, use.sizes.size()) << "every block was freed";
        }
    }
}

TEST(LightArrayTest, EveryGrowthAllocatesExactlyAndEveryRemovalDestroysExactlyItsElements) {
    LightArray<int> ints;
    qeltest::HeapUse const use = MeasureHeap([&] {
        ints.Append(10);
        ints.Append(20);
        ints.Append(30);
    });
    EXPECT_EQ(use.sizes, (Sizes{8 + 4, 8 + 8, 8 + 12}));
    EXPECT_EQ(use.frees, 2u);
    EXPECT_EQ(ints.Capacity(), 3u);

    // Each item's use count, less its own, is the number of copies the arrays hold.
    std::vector<Shared> const items = {std::make_shared<int>(1), std::make_shared<int>(2)};
    auto held = [&items] { return Values{int(items[0].use_count()) - 1, int(items[1].use_count()) - 1}; };
    LightArray<Shared> array;
    for (Shared const& item : items) {
        array.Append(item);
    }
    array.Append(array[1]);
    array.Append(array[0]);
    EXPECT_EQ(held(), (Values{2, 2})) << "growth moves elements byte for byte, its own included";
    EXPECT_EQ((Values{*array[0], *array[1], *array[2], *array[3]}), (Values{1, 2, 2, 1}));
    std::optional<LightArray<Shared>> copy(array);
    EXPECT_EQ(held(), (Values{4, 4}));
    copy.reset();
    EXPECT_TRUE(MeasureHeap([&] { copy.emplace(LightArray<Shared>()); }).sizes.empty());

    EXPECT_TRUE(MeasureHeap([&] { array.Erase(1); }).sizes.empty()) << "the tail moves in place";
    EXPECT_EQ(held(), (Values{2, 1}));
    EXPECT_THROW(array.Erase(3), std::out_of_range);
    array.Erase(2);
    EXPECT_EQ(held(), (Values{1, 1}));
    EXPECT_EQ(MeasureHeap([&] { array.Resize(4); }).sizes, Sizes{8 + 4 * sizeof(Shared)});
    EXPECT_EQ(MeasureHeap([&] { array.Resize(1); }).sizes, Sizes{8 + sizeof(Shared)}) << "no spare capacity is kept";
    EXPECT_EQ(held(), (Values{1, 0}));
    array.Clear();
    EXPECT_EQ(held(), (Values{0, 0}));
    EXPECT_EQ(array.Begin(), nullptr);
}

TEST(LightArrayTest, ElementsThatPointIntoThemselvesAreMovedNotCopiedByteForByte) {
    // Short strings keep their characters inside themselves.
    LightArray<std::string> names;
    for (char const* name : {"axis", "series", "a legend whose name is long enough for the heap", "chart"}) {
        names.Append(name);
    }
    names.Erase(1);
    names.Resize(4);
    names.Resize(3);
    std::vector<std::string> const held(names.Begin(), names.End());
    EXPECT_EQ(held, (std::vector<std::string>{"axis", "a legend whose name is long enough for the heap", "chart"}));
    static_assert(Qel::Chart::Utility::IsTriviallyRelocatable<int>::value, "");
    static_assert(!Qel::Chart::Utility::IsTriviallyRelocatable<std::string>::value, "");
}
