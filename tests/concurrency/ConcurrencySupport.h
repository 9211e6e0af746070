// Running one body on several threads that start together.
#ifndef QEL_TESTS_CONCURRENCYSUPPORT_H
#define QEL_TESTS_CONCURRENCYSUPPORT_H

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qeltest {

/// A one-shot barrier: every thread that arrives waits until the last of
/// `p_count` has arrived, so that the work after it overlaps as much as the
/// scheduler allows.
class StartLine {
public:
    explicit StartLine(std::size_t p_count) : _waiting(p_count) {}

    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(_mutex);
        if (--_waiting == 0) {
            _open.notify_all();
            return;
        }
        _open.wait(lock, [this] { return _waiting == 0; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _open;
    std::size_t _waiting;
};

/// Runs `p_body(index)` on `p_threads` threads, index 0 to p_threads - 1, all
/// released at once by a start line, and joins them. The first exception a
/// body throws is rethrown here after every thread has been joined, so a
/// failing body fails the test instead of ending the process.
template <class Body>
void RunTogether(std::size_t p_threads, Body p_body) {
    StartLine start(p_threads);
    std::mutex errorMutex;
    std::exception_ptr error;
    std::vector<std::thread> threads;
    threads.reserve(p_threads);
    for (std::size_t i = 0; i < p_threads; ++i) {
        threads.emplace_back([&, i] {
            start.ArriveAndWait();
            try {
                p_body(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) {
                    error = std::current_exception();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace qeltest

#endif
