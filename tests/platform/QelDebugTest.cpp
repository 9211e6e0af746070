#include "qeldebug.h"

#include "TrackerCompanion.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

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
// frees a block and whether the thread that made it has ended. A held
// companion keeps the memory past deallocate (the counts of a node outlive
// it), whichever of the two comes first; the totals drop at deallocate. The
// sanitizer builds catch an early or a missing free.
TEST(QelDebugAllocationTrackerTest, TotalsHoldAcrossThreadsAndAHeldCompanionKeepsTheMemoryUntilBothAreReleased) {
    using qeldebug::allocationtracker;
    namespace internal = qeldebug::internal;
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
    EXPECT_EQ(allocationtracker::blocks_in_use(), blocks);
    EXPECT_EQ(allocationtracker::bytes_in_use(), bytes);
    for (bool companionFirst : {false, true}) {
        void* const block = allocationtracker::allocate(100);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
        auto* const extra = static_cast<unsigned char*>(internal::hold_companion(block));
        EXPECT_EQ(extra + internal::companion_bytes, block) << "directly in front of the block";
        std::memset(extra, 0xA5, internal::companion_bytes);
        std::memset(block, 0x5A, 100);
        if (companionFirst) {
            internal::release_companion(extra);
            EXPECT_EQ(static_cast<unsigned char*>(block)[99], 0x5A) << "the block is still the caller's";
            EXPECT_EQ(allocationtracker::deallocate(block), 100u);
        } else {
            EXPECT_EQ(allocationtracker::deallocate(block), 100u);
            EXPECT_EQ(allocationtracker::bytes_in_use(), bytes) << "counted as returned at deallocate";
            EXPECT_EQ(extra[internal::companion_bytes - 1], 0xA5) << "the companion stays";
            internal::release_companion(extra);
        }
        EXPECT_EQ(allocationtracker::bytes_in_use(), bytes);
    }
    // A freed block serves the thread's next one of its size.
    void* const first = allocationtracker::allocate(100);
    EXPECT_EQ(allocationtracker::deallocate(first), 100u);
    void* const again = allocationtracker::allocate(100);
    EXPECT_EQ(again, first);
    EXPECT_EQ(allocationtracker::deallocate(again), 100u);
    internal::release_cached();
    EXPECT_EQ(allocationtracker::bytes_in_use(), bytes);
    void* const unheld = allocationtracker::allocate(8);
    EXPECT_EQ(allocationtracker::deallocate(unheld), 8u) << "a companion never held goes with its block";
    EXPECT_THROW(allocationtracker::allocate(static_cast<std::size_t>(-1) - 16), std::bad_alloc);
}

// A node's identity count ends its companion and its stamp starts it: the
// two must share a cache line wherever the heap puts the block, moved or
// not, for every size and through the thread's cache of freed blocks.
TEST(QelDebugAllocationTrackerTest, TheCompanionsEndAndTheBlocksStartShareACacheLine) {
    using qeldebug::allocationtracker;
    std::size_t const bytes = allocationtracker::bytes_in_use();
    std::vector<std::pair<void*, std::size_t>> blocks;
    for (int round = 0; round < 2; ++round) {
        for (std::size_t size = 1; size <= 600; size += 7) {
            for (int each = 0; each < 4; ++each) {
                blocks.emplace_back(allocationtracker::allocate(size), size);
            }
        }
        for (auto const& block : blocks) {
            auto const start = reinterpret_cast<std::uintptr_t>(block.first);
            EXPECT_EQ((start - 8) / 64, (start + 15) / 64) << "a block of " << block.second << " bytes at " << start;
            std::memset(block.first, 0x33, block.second);
        }
        for (auto const& block : blocks) {
            EXPECT_EQ(allocationtracker::deallocate(block.first), block.second);
        }
        blocks.clear();
    }
    qeldebug::internal::release_cached();
    EXPECT_EQ(allocationtracker::bytes_in_use(), bytes);
}

// A model dropped whole and made again takes no block from the heap the
// second time, and what the thread keeps goes back to the heap when it ends.
TEST(QelDebugAllocationTrackerTest, AThreadKeepsTheBlocksOfAModelDroppedWholeUntilItEnds) {
    using qeldebug::allocationtracker;
    constexpr std::size_t kBlocks = 100000;
    constexpr std::size_t kSize = 112;  // an empty node
    std::size_t const heapBefore = mallinfo2().uordblks;
    std::size_t reused = 0;
    std::size_t heapKept = 0;
    std::thread([&] {
        std::vector<void*> blocks(kBlocks);
        for (void*& block : blocks) {
            block = allocationtracker::allocate(kSize);
        }
        std::unordered_set<void*> const first(blocks.begin(), blocks.end());
        for (void* block : blocks) {
            allocationtracker::deallocate(block);
        }
        heapKept = mallinfo2().uordblks;
        for (void*& block : blocks) {
            block = allocationtracker::allocate(kSize);
            reused += first.count(block);
        }
        for (void* block : blocks) {
            allocationtracker::deallocate(block);
        }
    }).join();
    EXPECT_EQ(reused, kBlocks) << "every block of the second model was one of the first";
    if (heapBefore == 0) {
        return;  // a sanitizer's heap reports nothing here; its leak check covers the thread's end
    }
    EXPECT_GE(heapKept, heapBefore + kBlocks * kSize) << "kept, not returned, between the two";
    EXPECT_LT(mallinfo2().uordblks, heapBefore + 64 * 1024) << "given back when the thread ended";
}
