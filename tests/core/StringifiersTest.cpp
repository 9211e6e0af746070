#include "Stringifiers.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <numeric>
#include <sstream>
#include <string>

using Qel::Chart::Core::Stringifiers;

namespace {
// A byte widens as a signed 8-bit number: 0x80 and above set every bit over the low seven.
std::wstring Wide(int p_value) { return std::wstring(1, static_cast<wchar_t>(p_value)); }
}  // namespace

TEST(StringifiersTest, ConvertsByteForByteWithSignedWideningAndLowByteNarrowing) {
    EXPECT_EQ(Stringifiers::StringToWString(std::string("\x7F\0\x80\xE9\xFF", 5)),
              Wide(0x7F) + Wide(0) + Wide(-128) + Wide(-23) + Wide(-1));
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    EXPECT_EQ(Stringifiers::WStringToString(Stringifiers::StringToWString(all)), all);
    EXPECT_EQ(Stringifiers::WStringToString(Wide(0x20AC) + Wide(0xE9) + Wide(0) + Wide(0x100) + L"a"),
              std::string("\xAC\xE9\0\0a", 5));
}

TEST(StringifiersTest, StreamsReadOneWordAndWriteUnderWidthFillAndAdjustment) {
    std::istringstream in("  hello world");
    std::wstring word = L"previous";
    in >> word;
    EXPECT_EQ(word, L"hello");
    EXPECT_EQ(in.get(), ' ') << "the space after the word stays in the stream";
    in >> std::setw(3) >> word;
    EXPECT_EQ(word, L"wor");
    EXPECT_EQ(in.width(), 0);
    in >> word >> word;
    EXPECT_EQ(word, L"") << "the target empties at the end of input";
    EXPECT_TRUE(in.fail());
    word = L"kept?";
    in >> word;
    EXPECT_EQ(word, L"") << "and on a failed stream";

    std::ostringstream out;
    out << std::setw(5) << std::right << std::wstring(L"ab") << '|' << std::wstring(L"ab") << '|';
    out << std::setw(5) << std::left << std::setfill('*') << std::wstring(L"ab") << '|' << Wide(0x20AC);
    EXPECT_EQ(out.str(), "   ab|ab|ab***|\xAC");
}
