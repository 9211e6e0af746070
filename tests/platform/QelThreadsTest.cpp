#include "QelThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <thread>

using Mutex = qelthreads::mutex_base<1>;

namespace {

// Whether `p_action` throws a bad_mutex reading "<file>:<line> : <p_what>".
template <class F>
::testing::AssertionResult FailsWith(F p_action, std::string const& p_what) {
    try {
        p_action();
    } catch (Mutex::bad_mutex const& e) {
        if (std::regex_match(e.what(), std::regex("^.*QelThreads\\.h:[0-9]+ : " + p_what + "$"))) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "\"" << e.what() << "\" is not <file>:<line> : " << p_what;
    }
    return ::testing::AssertionFailure() << "nothing was thrown";
}

}  // namespace

TEST(QelThreadsAtomicTest, IncrementsReturnTheNewValueAddTheOldAndNoneIsLost) {
    qelthreads::atomic<int> value(40);
    EXPECT_EQ(++value, 41);
    EXPECT_EQ(--value, 40);
    EXPECT_EQ(value.add(2), 40);
    EXPECT_EQ(value.add(0), 42);
    EXPECT_EQ(value.add(-50), 42);
    EXPECT_EQ(--value, -9);

    auto work = [&value] {
        for (int i = 0; i < 100000; ++i) {
            ++value;
            value.add(1);
            --value;
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(value.load(), 200000 - 9);
}

TEST(QelThreadsMutexTest, RelockAndStrayUnlockFailAndLeaveTheMutexUsable) {
    Mutex mutex;
    EXPECT_TRUE(FailsWith([&] { mutex.unlock(); }, "failed to unlock"));
    mutex.lock();
    EXPECT_TRUE(FailsWith([&] { mutex.lock(); }, "failed to lock"));
    mutex.unlock();
    EXPECT_TRUE(FailsWith([&] { mutex.unlock(); }, "failed to unlock"));
    // Had a refused call left the mutex held, the other thread would block.
    bool taken = false;
    std::thread other([&] {
        std::lock_guard<Mutex> guard(mutex);
        taken = true;
    });
    other.join();
    EXPECT_TRUE(taken);
}

TEST(QelThreadsMutexTest, ExcludesOtherThreads) {
    Mutex mutex;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            std::lock_guard<Mutex> guard(mutex);
            long const seen = counter;
            counter = seen + 1;
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 40000L);
}
