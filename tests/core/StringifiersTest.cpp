#include "Stringifiers.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>

using Qel::Chart::Core::Stringifiers;

namespace {

// The wide value of a narrow byte of 0x80 or more: its low byte, with every
// bit above the low seven set.
std::wstring Widened(unsigned char p_byte) {
    using WideUnsigned = std::make_unsigned_t<wchar_t>;
    return std::wstring(1, static_cast<wchar_t>(std::numeric_limits<WideUnsigned>::max() - 0xFFu + p_byte));
}

std::wstring Wide(unsigned p_char) { return std::wstring(1, static_cast<wchar_t>(p_char)); }

}  // namespace

TEST(StringifiersConversionTest, NarrowsAndWidensByteForByte) {
    EXPECT_EQ(Stringifiers::StringToWString(""), L"");
    EXPECT_EQ(Stringifiers::WStringToString(L""), "");
    EXPECT_EQ(Stringifiers::StringToWString("abc"), L"abc");
    EXPECT_EQ(Stringifiers::WStringToString(L"abc"), "abc");
    EXPECT_EQ(Stringifiers::StringToWString("\x7F"), Wide(0x7F));
    EXPECT_EQ(Stringifiers::StringToWString(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(Stringifiers::WStringToString(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));

    // High bytes widen with their sign and come back; wide characters keep only their low byte.
    EXPECT_EQ(Stringifiers::StringToWString("\xE9"), Widened(0xE9));
    EXPECT_EQ(Stringifiers::StringToWString("\x80\xFF"), Widened(0x80) + Widened(0xFF));
    EXPECT_EQ(Stringifiers::WStringToString(Widened(0xE9)), "\xE9");
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(Stringifiers::WStringToString(Stringifiers::StringToWString(all)), all);
    EXPECT_EQ(Stringifiers::WStringToString(Wide(0x20AC)), "\xAC");
    EXPECT_EQ(Stringifiers::WStringToString(Wide(0x00E9)), "\xE9");
    EXPECT_EQ(Stringifiers::WStringToString(Wide(0x0100)), std::string(1, '\0'));
}

TEST(StringifiersStreamTest, ReadsOneWordLikeStringExtraction) {
    std::istringstream in("  hello world");
    std::wstring word = L"previous";
    in >> word;
    EXPECT_EQ(word, L"hello");
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, " world");

    std::istringstream limited("abcdef \xE9t");
    limited >> std::setw(4) >> word;
    EXPECT_EQ(word, L"abcd");
    EXPECT_EQ(limited.width(), 0);
    limited >> word >> word;
    EXPECT_EQ(word, Widened(0xE9) + L"t");

    // At the end, and on a failed stream, the target still becomes empty.
    limited >> word;
    EXPECT_EQ(word, L"");
    EXPECT_TRUE(limited.fail());
    word = L"kept?";
    limited >> word;
    EXPECT_EQ(word, L"");
}

TEST(StringifiersStreamTest, WritingAppliesWidthFillAndAdjustment) {
    std::ostringstream out;
    out << std::setw(5) << std::right << std::wstring(L"ab") << '|' << std::wstring(L"ab") << '|';
    out << std::setw(5) << std::left << std::setfill('*') << std::wstring(L"ab") << '|' << Wide(0x20AC);
    EXPECT_EQ(out.str(), "   ab|ab|ab***|\xAC");
}
