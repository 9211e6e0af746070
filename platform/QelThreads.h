// The framework's threads primitives that the core compiles in: a
// sequentially consistent atomic integer and a non-reentrant mutex.
#ifndef QEL_PLATFORM_QELTHREADS_H
#define QEL_PLATFORM_QELTHREADS_H

#include <pthread.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>

namespace qelthreads {

template <class T>
class atomic;

/// A 32-bit signed atomic integer; every operation is sequentially consistent.
template <>
class atomic<int> {
public:
    atomic() noexcept : _value(0) {}
    explicit atomic(int p_value) noexcept : _value(p_value) {}
    atomic(atomic const&) = delete;
    atomic& operator=(atomic const&) = delete;

    /// Pre-increment: returns the new value.
    int operator++() noexcept { return _value.fetch_add(1) + 1; }
    /// Pre-decrement: returns the new value.
    int operator--() noexcept { return _value.fetch_sub(1) - 1; }
    /// Adds `p_delta` and returns the old value (an add of 0 reads atomically).
    int add(int p_delta) noexcept { return _value.fetch_add(p_delta); }
    int load() const noexcept { return _value.load(); }

private:
    std::atomic<int> _value;
};

template <int Mode>
class mutex_base;

/// The framework mutex in mode 1: not re-entrant. A second lock by the thread
/// that holds it fails with `bad_mutex` instead of deadlocking. Built on a
/// recursive POSIX mutex plus a held flag, so that the re-entry can be seen.
/// BasicLockable, so std::lock_guard works.
template <>
class mutex_base<1> {
public:
    /// Every failure of the mutex: "<file>:<line> : failed to <what>".
    class bad_mutex : public std::runtime_error {
    public:
        explicit bad_mutex(std::string const& p_text) : std::runtime_error(p_text) {}
    };

    mutex_base() : _block(new Block()) {
        pthread_mutexattr_t attributes;
        bool ok = pthread_mutexattr_init(&attributes) == 0;
        ok = ok && pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0;
        ok = ok && pthread_mutex_init(&_block->section, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
        if (!ok) {
            delete _block;
            _block = nullptr;
            Raise(__LINE__, "failed to initialize");
        }
    }

    mutex_base(mutex_base const&) = delete;
    mutex_base& operator=(mutex_base const&) = delete;

    // Destruction cannot throw from a destructor; a mutex that is still held
    // is destroyed anyway, as the critical section it stands for would be.
    ~mutex_base() {
        if (_block != nullptr) {
            pthread_mutex_destroy(&_block->section);
            delete _block;
        }
    }

    void lock() {
        if (pthread_mutex_lock(&_block->section) != 0) {
            Raise(__LINE__, "failed to lock");
        }
        if (_block->held) {
            // The owning thread came back: leave the section and refuse.
            pthread_mutex_unlock(&_block->section);
            Raise(__LINE__, "failed to lock");
        }
        _block->held = true;
    }

    void unlock() {
        if (!_block->held) {
            Raise(__LINE__, "failed to unlock");
        }
        _block->held = false;
        if (pthread_mutex_unlock(&_block->section) != 0) {
            _block->held = true;
            Raise(__LINE__, "failed to unlock");
        }
    }

    /// Destroys the underlying mutex now; fails with "failed to destroy"
    /// while it is held. The object is unusable afterwards.
    void destroy() {
        if (_block == nullptr) {
            return;
        }
        if (_block->held || pthread_mutex_destroy(&_block->section) != 0) {
            Raise(__LINE__, "failed to destroy");
        }
        delete _block;
        _block = nullptr;
    }

private:
    struct Block {
        pthread_mutex_t section;
        bool held = false;
        unsigned char mode = 1;
    };

    [[noreturn]] static void Raise(int p_line, char const* p_what) {
        throw bad_mutex(std::string(__FILE__) + ":" + std::to_string(p_line) + " : " + p_what);
    }

    Block* _block;
};

}  // namespace qelthreads

#endif
