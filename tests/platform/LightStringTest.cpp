#include "LightString.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

using qeltest::CheckFailure;
using LightString = Qel::Chart::Utility::LightString_Base<char>;
using qeldebug::failpolicy;
using qeldebug::reportkind;
using Lines = std::vector<std::string>;
using qeltest::HeapUse;
using qeltest::MeasureHeap;
using qeltest::Sizes;

namespace {

char const* const kTooLongText =
    "\"max_string_length >= p_string.size()\" - void __cdecl "
    "Qel::Chart::Utility::LightString_Base<char>::CopyString(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >)";
char const* const kNotNullText =
    "\"!_buffer.heap_pointer && \"CopyString - Expected a null pointer.\"\" - void __cdecl "
    "Qel::Chart::Utility::LightString_Base<char>::CopyString(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >)";
char const* const kBadKindText =
    "const char *__cdecl Qel::Chart::Utility::LightString_Base<char>::GetPtr(const class "
    "Qel::Chart::Utility::LightString_Base<char> &,unsigned __int64 &) @line372";

// Storage in which a string is built and destroyed by hand, so that its
// bytes can be examined after the destructor ran.
struct alignas(LightString) RawString {
    unsigned char bytes[sizeof(LightString)];
    LightString* Get() { return std::launder(reinterpret_cast<LightString*>(bytes)); }
};

bool PointsInside(char const* p_chars, LightString const& p_string) {
    auto const* begin = reinterpret_cast<char const*>(&p_string);
    return p_chars >= begin && p_chars < begin + sizeof(LightString);
}

std::string Contents(LightString const& p_string) {
    std::size_t length = 0;
    char const* chars = LightString::GetPtr(p_string, length);
    return chars == nullptr ? std::string() : std::string(chars, length);
}

}  // namespace

TEST(LightStringStorageTest, InlineHeapEmptyAndUnownedStrings) {
    LightString inlined;
    EXPECT_TRUE(MeasureHeap([&] { inlined.CopyString("thirteen-char"); }).sizes.empty());
    EXPECT_EQ(inlined.GetKind(), LightString::KindInline);
    std::size_t length = 0;
    EXPECT_TRUE(PointsInside(LightString::GetPtr(inlined, length), inlined));
    EXPECT_EQ(length, 13u);
    EXPECT_EQ(Contents(inlined), "thirteen-char");

    LightString heap;
    std::string fourteen("fourteen-chars");
    EXPECT_EQ(MeasureHeap([&] { heap.CopyString(std::move(fourteen)); }).sizes, Sizes{14});
    EXPECT_EQ(heap.GetKind(), LightString::KindHeap);
    EXPECT_FALSE(PointsInside(LightString::GetPtr(heap, length), heap));
    EXPECT_EQ(length, 14u);
    EXPECT_EQ(Contents(heap), "fourteen-chars");

    length = 99;
    EXPECT_EQ(LightString::GetPtr(LightString(), length), nullptr);
    EXPECT_EQ(length, 0u);
    static char const literal[] = "characters owned elsewhere";
    LightString const unowned = LightString::Unowned(literal, sizeof literal - 1);
    EXPECT_EQ(LightString::GetPtr(LightString(unowned), length), literal) << "a copy points at the same characters";
    EXPECT_EQ(length, sizeof literal - 1);
}

TEST(LightStringStorageTest, InvalidKindReportsSentryAndYieldsNull) {
    qeldebug::capture cap(failpolicy::throwing);
    RawString raw;
    new (raw.bytes) LightString(std::string("abcde"));
    raw.bytes[13] = 7;  // the kind byte follows the 13 bytes of characters
    std::size_t length = 0;
    EXPECT_EQ(LightString::GetPtr(*raw.Get(), length), nullptr);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(qeltest::Texts(cap, reportkind::sentry), Lines{kBadKindText});
    raw.bytes[13] = LightString::KindInline;
    raw.Get()->~LightString();
}

TEST(LightStringLifetimeTest, CopyOwnsItsBlockAndDestructionLeavesAllBytesZero) {
    auto source = std::make_unique<LightString>(std::string("a heap string of some length"));
    std::unique_ptr<LightString> copy;
    HeapUse const use = MeasureHeap([&] { copy = std::make_unique<LightString>(*source); });
    EXPECT_EQ(use.sizes, (Sizes{sizeof(LightString), 28}));  // the object, then its own block
    source.reset();
    EXPECT_EQ(copy->GetKind(), LightString::KindHeap);
    EXPECT_EQ(Contents(*copy), "a heap string of some length");

    for (std::string const& text : {std::string("in"), std::string(40, 'x')}) {
        RawString raw;
        new (raw.bytes) LightString(text);
        EXPECT_EQ(MeasureHeap([&] { raw.Get()->~LightString(); }).frees, text.size() > 13 ? 1u : 0u);
        EXPECT_EQ(std::count(raw.bytes, raw.bytes + sizeof raw.bytes, 0), 16) << "for " << text.size() << " chars";
    }
}

TEST(LightStringCopyStringTest, At65535CharactersLongerStringsAreRefusedAndTheTargetKept) {
    {
        qeldebug::capture cap(failpolicy::throwing);
        LightString longest;
        longest.CopyString(std::string(65535, 'm'));
        EXPECT_TRUE(cap.records().empty());
        EXPECT_EQ(longest.Length(), 65535u);
        EXPECT_EQ(Contents(longest), std::string(65535, 'm'));
    }
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        // 65,536 passes the asserted bound but does not fit the 16-bit length.
        for (std::size_t size : {65536u, 65537u}) {
            qeldebug::capture cap(policy);
            LightString s(std::string("a heap string, unchanged"));
            std::string const text = CheckFailure([&] { s.CopyString(std::string(size, 'c')); });
            EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Lines{text}) << size;
            if (size == 65537) {
                EXPECT_EQ(text, kTooLongText);
            }
            EXPECT_EQ(Contents(s), "a heap string, unchanged") << size;
        }
    }
}

TEST(LightStringCopyStringTest, LongStringOverHeapStringAssertsNullPointer) {
    {
        qeldebug::capture cap(failpolicy::throwing);
        LightString s(std::string("an existing heap string"));
        EXPECT_EQ(CheckFailure([&] { s.CopyString("another long string"); }), kNotNullText);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Lines{kNotNullText});
        EXPECT_EQ(Contents(s), "an existing heap string");
    }
    // When the check returns, the string takes the new text and nothing leaks.
    bool reported = false;
    std::string contents;
    contents.reserve(64);
    HeapUse const use = MeasureHeap([&] {
        qeldebug::capture cap(failpolicy::returning);
        LightString s(std::string("an existing heap string"));
        s.CopyString("another long string");
        reported = qeltest::Texts(cap, reportkind::ensure) == Lines{kNotNullText};
        contents = Contents(s);
    });
    EXPECT_TRUE(reported);
    EXPECT_EQ(contents, "another long string");
    EXPECT_EQ(std::count(use.sizes.begin(), use.sizes.end(), 19u), 1);
    EXPECT_EQ(use.frees, use.sizes.size()) << "every block, the replaced one included, was freed";
}
