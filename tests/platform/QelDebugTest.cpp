#include "qeldebug.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using qeldebug::capture;
using qeldebug::failpolicy;
using qeldebug::logger;
using qeldebug::reportkind;
using qeltest::CheckFailure;
using Lines = std::vector<std::string>;

namespace {

logger& Log() { return logger::instance(); }

}  // namespace

TEST(QelDebugCaptureTest, InnermostReceivesAndDestructorRestoresPolicy) {
    capture outer(failpolicy::throwing);
    {
        capture inner(failpolicy::returning);
        EXPECT_EQ(logger::failpolicy(), failpolicy::returning);
        Log().ensure(false, "inner report");
        EXPECT_EQ(qeltest::Texts(inner, reportkind::ensure), Lines{"inner report"});
        EXPECT_TRUE(outer.records().empty());
    }
    EXPECT_EQ(logger::failpolicy(), failpolicy::throwing);
    EXPECT_EQ(CheckFailure([] { Log().ensure(false, "outer report"); }), "outer report");
    EXPECT_EQ(qeltest::Texts(outer, reportkind::ensure), Lines{"outer report"});
}

TEST(QelDebugCheckTest, FailuresAreRecordedThenThrownOrReturnedByPolicy) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        auto outcome = [policy](std::string const& p_text) {
            return policy == failpolicy::throwing ? p_text : "<returned>";
        };
        EXPECT_EQ(CheckFailure([] { Log().ensure(false, "\"a\" - f()"); }), outcome("\"a\" - f()"));
        EXPECT_EQ(CheckFailure([] { Log().chkptr(nullptr, "no pointer"); }), outcome("no pointer"));
        EXPECT_EQ(CheckFailure([] { Log().chkrng(0, 3, 3, "too high"); }), outcome("too high"));
        EXPECT_EQ(CheckFailure([] { Log().chkrng(0, 3, -1, "negative"); }), outcome("negative"));
        EXPECT_EQ(CheckFailure([] { Log().chkrng(0, 0, 0, "empty"); }), outcome("empty"));
        ASSERT_EQ(cap.records().size(), 5u);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Lines{"\"a\" - f()"});
        EXPECT_EQ(qeltest::Texts(cap, reportkind::chkptr), Lines{"no pointer"});
        EXPECT_EQ(cap.records()[1].category, "");
        // A range check records its message alone, without the numbers.
        EXPECT_EQ(qeltest::Texts(cap, reportkind::chkrng), (Lines{"too high", "negative", "empty"}));

        cap.clear();
        Log().ensure(true, "fine");
        Log().chkptr(&cap, "fine");
        Log().chkrng(0, 3, 0, "fine");
        Log().chkrng(0, 3, 2, "fine");
        EXPECT_TRUE(cap.records().empty());
    }
}

TEST(QelDebugCheckTest, SentryAndHandleExceptRecordAndReturn) {
    capture cap(failpolicy::throwing);
    EXPECT_NO_THROW(Log().sentry("f() @line12"));
    try {
        throw std::runtime_error("boom");
    } catch (...) {
        EXPECT_NO_THROW(qeldebug::handleexcept("Node::Deleter", Log(), false));
    }
    EXPECT_EQ(qeltest::Texts(cap, reportkind::sentry), Lines{"f() @line12"});
    EXPECT_EQ(qeltest::Texts(cap, reportkind::handleexcept), Lines{"Node::Deleter"});
    EXPECT_EQ(cap.records().size(), 2u);
}

TEST(QelDebugChannelTest, ErrorLinesRecordedWhenTheyEnd) {
    capture cap;
    qeldebug::dbgostream err = Log().derr("");
    err.buffer() << "WARNING : " << 42;
    EXPECT_TRUE(cap.records().empty());
    err << std::endl;
    err.buffer() << "one\n\nunfinished";
    ASSERT_EQ(cap.records().size(), 3u);
    EXPECT_EQ(cap.records()[0].kind, reportkind::derr);
    EXPECT_EQ(cap.records()[0].category, "");
    EXPECT_EQ(qeltest::Texts(cap, reportkind::derr), (Lines{"WARNING : 42", "one", ""}));
}

TEST(QelDebugChannelTest, TraceIsActiveWhenEnabledOrCaptured) {
    {
        qeldebug::dbgostream out = Log().dout("QelDebugTestCategory");
        EXPECT_FALSE(out.active());
        out.buffer() << "dropped";
        out << std::endl;
        logger::enable("QelDebugTestOther");
        EXPECT_FALSE(Log().dout("QelDebugTestCategory").active());
        logger::enable("QelDebugTestCategory");
        EXPECT_TRUE(Log().dout("QelDebugTestCategory").active());
        logger::disable("QelDebugTestCategory");
        logger::disable("QelDebugTestOther");
        EXPECT_FALSE(Log().dout("QelDebugTestCategory").active());
    }
    // While a capture lives, even a disabled category is recorded.
    logger::disable("Trace");
    capture cap;
    qeldebug::dbgostream out = Log().dout("Trace");
    out.buffer() << "traced";
    out << std::endl;
    ASSERT_EQ(cap.records().size(), 1u);
    EXPECT_EQ(cap.records()[0].kind, reportkind::dout);
    EXPECT_EQ(cap.records()[0].category, "Trace");
    EXPECT_EQ(cap.records()[0].text, "traced");
}

TEST(QelDebugChannelTest, CopiesShareOnePendingLine) {
    capture cap;
    {
        qeldebug::dbgostream first = Log().derr("");
        qeldebug::dbgostream second(first);
        qeldebug::dbgostream third;
        third = second;
        first.buffer() << "ab";
        second.buffer() << "cd";
        third << std::endl;
        first.buffer() << "never ended";
    }
    EXPECT_EQ(qeltest::Texts(cap, reportkind::derr), Lines{"abcd"});
}

TEST(QelDebugAllocationTrackerTest, CountsBlocksAndBytesUntilReturned) {
    using tracker = qeldebug::allocationtracker;
    std::size_t const bytes = tracker::bytes_in_use();
    std::size_t const blocks = tracker::blocks_in_use();
    void* a = tracker::allocate(24);
    void* b = tracker::allocate(3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8 + reinterpret_cast<std::uintptr_t>(b) % 8, 0u);
    EXPECT_EQ(tracker::bytes_in_use(), bytes + 27);
    EXPECT_EQ(tracker::blocks_in_use(), blocks + 2);
    EXPECT_EQ(tracker::deallocate(a), 24u);
    EXPECT_EQ(tracker::bytes_in_use(), bytes + 3);
    EXPECT_EQ(tracker::deallocate(b), 3u);
    EXPECT_EQ(tracker::deallocate(nullptr), 0u);
    EXPECT_EQ(tracker::bytes_in_use(), bytes);
    EXPECT_EQ(tracker::blocks_in_use(), blocks);
}
