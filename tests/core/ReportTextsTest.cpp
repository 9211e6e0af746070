#include "ReportTexts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using Qel::Chart::Core::Private::Report;
using Qel::Chart::Core::Private::ReportText;

// Two reports sharing a text could not be told apart by whoever matches
// them, and a value past the table must not read beyond it.
TEST(ReportTextsTest, EveryReportHasATextOfItsOwnAndOtherValuesASafeOne) {
    unsigned const count = static_cast<unsigned>(Report::Count);
    ASSERT_GT(count, 0u);
    std::set<std::string> texts;
    for (unsigned i = 0; i < count; ++i) {
        char const* const text = ReportText(static_cast<Report>(i));
        ASSERT_NE(text, nullptr) << "report " << i;
        EXPECT_NE(*text, '\0') << "report " << i;
        EXPECT_TRUE(texts.insert(text).second) << "report " << i << " repeats \"" << text << "\"";
    }

    char const* const unknown = ReportText(Report::Count);
    ASSERT_NE(unknown, nullptr);
    EXPECT_NE(*unknown, '\0');
    EXPECT_EQ(texts.count(unknown), 0u) << unknown;
    for (unsigned value : {count + 1, 255u}) {
        EXPECT_STREQ(ReportText(static_cast<Report>(value)), unknown) << "value " << value;
    }
}
