#include "TimeStamp.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

using Qel::Chart::Core::TimeStamp;

namespace {

std::string Printed(TimeStamp const& p_stamp) {
    std::ostringstream out;
    out << p_stamp;
    return out.str();
}

TimeStamp TouchedTimes(int p_times) {
    TimeStamp stamp;
    for (int i = 0; i < p_times; ++i) {
        stamp.Touch();
    }
    return stamp;
}

TimeStamp Forced() {
    TimeStamp stamp;
    stamp.ForceTouch();
    return stamp;
}

}  // namespace

TEST(TimeStampTest, NewResetAndForcedStamps) {
    TimeStamp reset = TouchedTimes(5);
    EXPECT_TRUE(reset != TimeStamp());
    reset.Reset();
    EXPECT_TRUE(reset == TimeStamp());
    // A forced stamp differs from a new one only in the flag.
    EXPECT_EQ(Printed(Forced()), "0[1]");
    EXPECT_FALSE(Forced() == TimeStamp());
    for (int touches : {0, 77}) {
        TimeStamp stamp = TouchedTimes(touches);
        stamp.ForceTouch();
        stamp.ForceTouch();
        EXPECT_EQ(stamp, Forced()) << "after " << touches << " touches";
    }
}

TEST(TimeStampTest, CounterWrapsAfter16384Touches) {
    TimeStamp stamp = TouchedTimes(5);
    TimeStamp const before = stamp;
    TimeStamp previous = stamp;
    for (int i = 0; i < 16384; ++i) {
        stamp.Touch();
        EXPECT_FALSE(stamp == previous) << "touch " << i;
        previous = stamp;
    }
    EXPECT_EQ(stamp, before);

    TimeStamp last = TouchedTimes(16383);
    EXPECT_EQ(Printed(last), "16383[1]");
    last.Touch();
    EXPECT_EQ(last, Forced());
    last.Touch();
    EXPECT_EQ(Printed(last), "1[1]");
}

TEST(TimeStampPrintTest, CounterThenFlagUnderTheStreamsFlags) {
    EXPECT_EQ(Printed(TimeStamp()), "0[0]");
    EXPECT_EQ(Printed(TouchedTimes(300)), "300[1]");
    std::ostringstream out;
    out << std::boolalpha << TouchedTimes(3) << ' ' << TimeStamp() << std::hex << ' ' << TouchedTimes(255);
    EXPECT_EQ(out.str(), "3[true] 0[false] ff[true]");
    std::ostringstream wide;
    wide << std::setw(4) << std::setfill('.') << TouchedTimes(7);
    EXPECT_EQ(wide.str(), "...7[1]") << "the width is used up by the counter";
}
