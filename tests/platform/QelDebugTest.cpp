#include "qeldebug.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using qeldebug::capture;
using qeldebug::failpolicy;
using qeldebug::reportkind;
using qeltest::CheckFailure;
using Lines = std::vector<std::string>;

namespace {
qeldebug::logger& Log() { return qeldebug::logger::instance(); }
}  // namespace

TEST(QelDebugCheckTest, FailedChecksFollowThePolicyOtherReportsReturn) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        auto outcome = [policy](char const* p_text) { return policy == failpolicy::throwing ? p_text : "<returned>"; };
        EXPECT_EQ(CheckFailure([] { Log().ensure(false, "\"a\" - f()"); }), outcome("\"a\" - f()"));
        EXPECT_EQ(CheckFailure([] { Log().chkptr(nullptr, "no pointer"); }), outcome("no pointer"));
        EXPECT_EQ(CheckFailure([] { Log().chkrng(0, 3, 3, "too high"); }), outcome("too high"));
        Log().sentry("f() @line12");
        try {
            throw std::runtime_error("boom");
        } catch (...) {
            qeldebug::handleexcept("Node::Deleter", Log(), false);
        }
        std::vector<reportkind> kinds;
        for (qeldebug::record const& each : cap.records()) {
            kinds.push_back(each.kind);
        }
        EXPECT_EQ(kinds, (std::vector<reportkind>{reportkind::ensure, reportkind::chkptr, reportkind::chkrng,
                                                  reportkind::sentry, reportkind::handleexcept}));
        EXPECT_EQ(qeltest::Texts(cap, reportkind::chkrng), Lines{"too high"}) << "the message alone, no numbers";
        EXPECT_EQ(qeltest::Texts(cap, reportkind::handleexcept), Lines{"Node::Deleter"});
    }
}

// Each thread counts its own blocks; the totals must hold whichever thread
// frees a block and whether the thread that made it has ended.
TEST(QelDebugAllocationTrackerTest, TotalsHoldAcrossThreadsThatMakeFreeAndEnd) {
    using qeldebug::allocationtracker;
    std::size_t const bytes = allocationtracker::bytes_in_use();
    std::size_t const blocks = allocationtracker::blocks_in_use();
    void* madeThere = nullptr;
    std::thread([&] { madeThere = allocationtracker::allocate(40); }).join();
    EXPECT_EQ(allocationtracker::bytes_in_use(), bytes + 40) << "the ended thread's block still counts";
    EXPECT_EQ(allocationtracker::blocks_in_use(), blocks + 1);
    void* const madeHere = allocationtracker::allocate(24);
    std::size_t freedThere = 0;
    std::thread worker([&] { freedThere = allocationtracker::deallocate(madeHere); });
    worker.join();
    EXPECT_EQ(freedThere, 24u);
    EXPECT_EQ(allocationtracker::deallocate(madeThere), 40u);
    EXPECT_EQ(allocationtracker::deallocate(nullptr), 0u);
    EXPECT_EQ(allocationtracker::bytes_in_use(), bytes);
    EXPECT_EQ(allocationtracker::blocks_in_use(), blocks);
}
