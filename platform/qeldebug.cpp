#include "qeldebug.h"

#include "TrackerCompanion.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <set>
#include <streambuf>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define QELDEBUG_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QELDEBUG_ASAN 1
#endif
#endif
#ifdef QELDEBUG_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace qeldebug {

namespace {

// One lock guards the capture chain, the enabled categories and std::cerr
// output, so that lines from several threads never interleave.
// Never destroyed: nodes may still report while the process exits, after
// the statics of this library would otherwise be gone.
template <class T>
T& Immortal() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* const object = ::new (static_cast<void*>(storage)) T();
    return *object;
}

std::recursive_mutex& StateMutex() { return Immortal<std::recursive_mutex>(); }

capture* g_innermost = nullptr;
std::atomic<failpolicy> g_policy{failpolicy::throwing};
std::atomic<int> g_captures{0};
// The number of enabled categories: while it is 0 and no capture lives, a
// trace channel is known to be off without taking the lock.
std::atomic<int> g_enabledCount{0};

std::set<std::string>& EnabledCategories() { return Immortal<std::set<std::string>>(); }

}  // namespace

namespace detail {

// The shared target of a dbgostream and its copies: collects characters and
// emits one line at every '\n'.
class channel : public std::streambuf {
public:
    channel(reportkind p_kind, std::string p_category)
        : _kind(p_kind), _category(std::move(p_category)), _stream(this) {}

    ~channel() override {
        // A partial line still reaches the console, but it was never ended,
        // so no capture records it.
        if (!_line.empty() && g_captures.load() == 0) {
            Emit(false);
        }
    }

    std::ostream& stream() { return _stream; }
    int _refs = 1;

    static void Send(reportkind p_kind, std::string const& p_category, std::string const& p_text,
                     std::string const& p_shown) {
        std::lock_guard<std::recursive_mutex> lock(StateMutex());
        if (g_innermost != nullptr) {
            g_innermost->append(record{p_kind, p_category, p_text});
            return;
        }
        if (p_kind == reportkind::dout && !logger::enabled(p_category)) {
            return;
        }
        std::cerr << p_shown << '\n';
        std::cerr.flush();
    }

protected:
    int_type overflow(int_type p_char) override {
        if (traits_type::eq_int_type(p_char, traits_type::eof())) {
            return traits_type::not_eof(p_char);
        }
        char const c = traits_type::to_char_type(p_char);
        if (c == '\n') {
            Emit(true);
        } else {
            _line.push_back(c);
        }
        return p_char;
    }

    std::streamsize xsputn(char const* p_text, std::streamsize p_count) override {
        for (std::streamsize i = 0; i < p_count; ++i) {
            if (p_text[i] == '\n') {
                Emit(true);
            } else {
                _line.push_back(p_text[i]);
            }
        }
        return p_count;
    }

private:
    void Emit(bool p_complete) {
        std::string shown;
        if (_kind == reportkind::dout) {
            shown = "[" + _category + "] " + _line;
        } else {
            shown = _line;
        }
        if (p_complete) {
            Send(_kind, _category, _line, shown);
        } else {
            std::lock_guard<std::recursive_mutex> lock(StateMutex());
            std::cerr << shown << '\n';
        }
        _line.clear();
    }

    reportkind _kind;
    std::string _category;
    std::string _line;
    std::ostream _stream;
};

}  // namespace detail

namespace {

std::ostream& NullStream() {
    // An ostream without a buffer is always bad and drops what it receives.
    static thread_local std::ostream stream(nullptr);
    stream.clear(std::ios::badbit);
    return stream;
}

}  // namespace

check_failed::check_failed(std::string const& text) : std::logic_error(text) {}
check_failed::~check_failed() = default;

// ---------------------------------------------------------------------------
// dbgostream

dbgostream::dbgostream() : _category(), _channel(nullptr) {}

dbgostream::dbgostream(reportkind kind, std::string const& category)
    : _category(category), _channel(new detail::channel(kind, category)) {}

dbgostream::dbgostream(dbgostream const& p_other) : _category(p_other._category), _channel(p_other._channel) {
    if (_channel != nullptr) {
        ++_channel->_refs;
    }
}

dbgostream& dbgostream::operator=(dbgostream const& p_other) {
    if (p_other._channel != nullptr) {
        ++p_other._channel->_refs;
    }
    if (_channel != nullptr && --_channel->_refs == 0) {
        delete _channel;
    }
    _category = p_other._category;
    _channel = p_other._channel;
    return *this;
}

dbgostream::~dbgostream() {
    if (_channel != nullptr && --_channel->_refs == 0) {
        delete _channel;
    }
}

std::ostream& dbgostream::buffer() const {
    if (_channel == nullptr) {
        return NullStream();
    }
    return _channel->stream();
}

dbgostream operator<<(dbgostream p_stream, std::ostream& (*p_manip)(std::ostream&)) {
    if (p_stream.active()) {
        p_manip(p_stream.buffer());
    }
    return p_stream;
}

// ---------------------------------------------------------------------------
// logger

logger& logger::instance() {
    // Never destroyed, like the state above.
    alignas(logger) static unsigned char storage[sizeof(logger)];
    static logger* const theLogger = ::new (static_cast<void*>(storage)) logger();
    return *theLogger;
}

void logger::failed(reportkind p_kind, std::string const& p_text, std::string const& p_shown) {
    detail::channel::Send(p_kind, "", p_text, p_shown);
    if (g_policy.load() == failpolicy::throwing) {
        throw check_failed(p_text);
    }
}

void logger::ensure(bool p_condition, std::string const& p_text) {
    if (!p_condition) {
        failed(reportkind::ensure, p_text, "ASSERTION FAILED: " + p_text);
    }
}

void logger::sentry(std::string const& p_where) {
    detail::channel::Send(reportkind::sentry, "", p_where, "UNREACHABLE CODE REACHED: " + p_where);
}

void logger::chkptr(void const* p_pointer, std::string const& p_text) {
    if (p_pointer == nullptr) {
        failed(reportkind::chkptr, p_text, "NULL POINTER: " + p_text);
    }
}

void logger::chkrng(int p_low, int p_size, int p_index, std::string const& p_text) {
    if (p_index < p_low || p_index >= p_size) {
        failed(reportkind::chkrng, p_text,
               "OUT OF RANGE: index " + std::to_string(p_index) + " not in [" + std::to_string(p_low) + ", " +
                   std::to_string(p_size) + "): " + p_text);
    }
}

dbgostream logger::derr(std::string const& p_category) { return dbgostream(reportkind::derr, p_category); }

dbgostream logger::dout(std::string const& p_category) {
    if (g_captures.load() == 0 && (g_enabledCount.load() == 0 || !enabled(p_category))) {
        return dbgostream();
    }
    return dbgostream(reportkind::dout, p_category);
}

void logger::enable(std::string const& p_category) {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    if (EnabledCategories().insert(p_category).second) {
        g_enabledCount.fetch_add(1);
    }
}

void logger::disable(std::string const& p_category) {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    if (EnabledCategories().erase(p_category) != 0) {
        g_enabledCount.fetch_sub(1);
    }
}

bool logger::enabled(std::string const& p_category) {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    return EnabledCategories().count(p_category) != 0;
}

bool logger::quiet() { return g_captures.load() == 0 && g_enabledCount.load() == 0; }

void logger::setfailpolicy(qeldebug::failpolicy p_policy) { g_policy.store(p_policy); }

failpolicy logger::failpolicy() { return g_policy.load(); }

// ---------------------------------------------------------------------------
// handleexcept

void handleexcept(std::string const& p_where, logger& /*p_logger*/, bool p_rethrow) {
    std::string what = "unknown exception";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (std::exception const& e) {
            what = e.what();
        } catch (...) {
        }
    } else {
        what = "no exception";
    }
    detail::channel::Send(reportkind::handleexcept, "", p_where, "EXCEPTION CAUGHT: " + p_where + ": " + what);
    if (p_rethrow && std::current_exception()) {
        throw;
    }
}

// ---------------------------------------------------------------------------
// allocationtracker

namespace {
// In front of each block: a word with the size asked for and three state
// bits, then the companion area. Every raw block has 8 spare bytes, so that
// the block can move up by 8 where the end of the companion and the start
// of the block would otherwise fall on two cache lines: a node's identity
// count ends the companion and its stamp is in its first 16 bytes, and a
// watcher's check reads both. The spare bytes cost nothing with glibc,
// whose chunks are 16-byte multiples with an 8-byte head.
constexpr std::size_t kSizeWord = 8;
constexpr std::size_t kHeader = kSizeWord + internal::companion_bytes;
constexpr std::size_t kShift = 8;
constexpr std::size_t kLine = 64;
constexpr std::uint64_t kHeld = std::uint64_t(1) << 63;         // the companion is in use
constexpr std::uint64_t kDeallocated = std::uint64_t(1) << 62;  // deallocate ran while it was
constexpr std::uint64_t kShifted = std::uint64_t(1) << 61;      // the block sits kShift further up
constexpr std::uint64_t kStateBits = kHeld | kDeallocated | kShifted;

// The size word of a block.
char* WordOf(void* p_block) noexcept { return static_cast<char*>(p_block) - kHeader; }

std::uint64_t ReadWord(char const* p_word) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, p_word, sizeof word);
    return word;
}

void WriteWord(char* p_word, std::uint64_t p_value) noexcept { std::memcpy(p_word, &p_value, sizeof p_value); }

// The raw block that a size word at p_word with value p_value is in.
char* RawOf(char* p_word, std::uint64_t p_value) noexcept {
    return (p_value & kShifted) != 0 ? p_word - kShift : p_word;
}

// Whether the block in p_raw moves up: it does when the companion's last 8
// bytes and the block's first 16 would not share a cache line (on a heap
// that aligns to 16, when the block would start a line).
bool ShiftFor(char const* p_raw) noexcept {
    std::uintptr_t const block = reinterpret_cast<std::uintptr_t>(p_raw) + kHeader;
    return (block - 8) / kLine != (block + 15) / kLine;
}

// Raw blocks freed on a thread are kept there for its next allocations of
// the same size class, linked through their first word: a model that makes
// and drops nodes a batch at a time then takes them from here, not from the
// general heap (whose fast lists stop below the size of a node with its
// counts). At most kCacheBytes per thread: enough for a model of 100,000
// nodes dropped whole, which the heap would otherwise give back to the
// system at once and fault in again, page by page, for the next one (glibc
// keeps its own small blocks the same way, and never trims them).
// Initial-exec TLS, since the library is linked at start-up and the
// general model costs a call.
constexpr std::size_t kClassBytes = 8;
constexpr std::size_t kCachedClasses = 64;  // raw blocks of up to 512 bytes
constexpr std::size_t kCacheBytes = std::size_t(32) * 1024 * 1024;

struct BlockCache {
    void* heads[kCachedClasses];
    std::size_t bytes;
    bool cleanerRegistered;
    bool ended;  // the thread's cleaner ran: blocks go straight back to the heap
};
__attribute__((tls_model("initial-exec"))) thread_local BlockCache t_blocks = {{}, 0, false, false};

std::size_t RawBytes(std::uint64_t p_size) noexcept {
    return ((static_cast<std::size_t>(p_size) + kClassBytes - 1) & ~(kClassBytes - 1)) + kHeader + kShift;
}

// Kept when below kCachedClasses.
std::size_t SizeClass(std::size_t p_rawBytes) noexcept { return p_rawBytes / kClassBytes - 1; }

// Under AddressSanitizer a kept block, and the node part of a block whose
// companion is still held, are poisoned as freed heap would be: a use after
// the end is reported, not hidden by the reuse.
void Poison(void const* p_memory, std::size_t p_bytes) noexcept {
#ifdef QELDEBUG_ASAN
    ASAN_POISON_MEMORY_REGION(p_memory, p_bytes);
#else
    (void)p_memory;
    (void)p_bytes;
#endif
}
void Unpoison(void const* p_memory, std::size_t p_bytes) noexcept {
#ifdef QELDEBUG_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p_memory, p_bytes);
#else
    (void)p_memory;
    (void)p_bytes;
#endif
}

void* PopRaw(BlockCache& p_cache, std::size_t p_class) noexcept {
    void* const raw = p_cache.heads[p_class];
    std::size_t const rawBytes = (p_class + 1) * kClassBytes;
    std::memcpy(&p_cache.heads[p_class], raw, sizeof(void*));
    Unpoison(raw, rawBytes);
    p_cache.bytes -= rawBytes;
    return raw;
}

void FreeCached(BlockCache& p_cache) noexcept {
    for (std::size_t each = 0; each < kCachedClasses; ++each) {
        while (p_cache.heads[each] != nullptr) {
            std::free(PopRaw(p_cache, each));
        }
    }
}

struct BlockCacheCleaner {
    ~BlockCacheCleaner() {
        FreeCached(t_blocks);
        t_blocks.ended = true;
    }
};

char* NewRaw(std::size_t p_rawBytes) {
    std::size_t const sizeClass = SizeClass(p_rawBytes);
    BlockCache& cache = t_blocks;
    if (sizeClass < kCachedClasses && cache.heads[sizeClass] != nullptr) {
        return static_cast<char*>(PopRaw(cache, sizeClass));
    }
    return static_cast<char*>(std::malloc(p_rawBytes));
}

void FreeRaw(char* p_raw, std::uint64_t p_size) noexcept {
    std::size_t const rawBytes = RawBytes(p_size);
    std::size_t const sizeClass = SizeClass(rawBytes);
    BlockCache& cache = t_blocks;
    if (sizeClass >= kCachedClasses || cache.ended || cache.bytes + rawBytes > kCacheBytes) {
        Unpoison(p_raw, rawBytes);
        std::free(p_raw);
        return;
    }
    if (!cache.cleanerRegistered) {
        try {
            static thread_local BlockCacheCleaner cleaner;
            (void)cleaner;
            cache.cleanerRegistered = true;
        } catch (...) {
            Unpoison(p_raw, rawBytes);
            std::free(p_raw);
            return;
        }
    }
    Unpoison(p_raw, rawBytes);  // a block freed while held had its node part poisoned
    std::memcpy(p_raw, &cache.heads[sizeClass], sizeof(void*));
    Poison(p_raw + sizeof(void*), rawBytes - sizeof(void*));
    cache.heads[sizeClass] = p_raw;
    cache.bytes += rawBytes;
}

// The counts are kept per thread, so that a block costs no locked
// instruction: each thread adds to counters of its own (relaxed loads and
// stores, plain moves), and a reader sums them under the registry's lock.
// A block freed on another thread than the one that made it makes one
// count go below zero; the sum is what counts. When a thread ends, its
// counts move to the totals of ended threads; blocks after that (a node
// released at thread exit) count there directly.
struct TrackerCounts {
    std::atomic<std::int64_t> bytes{0};
    std::atomic<std::int64_t> blocks{0};
    TrackerCounts* next = nullptr;
    TrackerCounts* previous = nullptr;

    void Add(std::int64_t p_bytes, std::int64_t p_blocks) noexcept {
        bytes.store(bytes.load(std::memory_order_relaxed) + p_bytes, std::memory_order_relaxed);
        blocks.store(blocks.load(std::memory_order_relaxed) + p_blocks, std::memory_order_relaxed);
    }
};

struct TrackerRegistry {
    std::mutex mutex;
    TrackerCounts* live = nullptr;
    std::atomic<std::int64_t> endedBytes{0};
    std::atomic<std::int64_t> endedBlocks{0};
};

// Never destroyed: threads and static destructors may free blocks after
// the statics of this file would be gone.
TrackerRegistry& Registry() {
    static TrackerRegistry* const registry = new TrackerRegistry();
    return *registry;
}

struct TrackerThread {
    TrackerCounts* counts;
    bool ended;
};
__attribute__((tls_model("initial-exec"))) thread_local TrackerThread t_tracker = {nullptr, false};

struct TrackerCleaner {
    ~TrackerCleaner() {
        TrackerCounts* const counts = t_tracker.counts;
        t_tracker.counts = nullptr;
        t_tracker.ended = true;
        if (counts == nullptr) {
            return;
        }
        TrackerRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.endedBytes.fetch_add(counts->bytes.load(std::memory_order_relaxed));
        registry.endedBlocks.fetch_add(counts->blocks.load(std::memory_order_relaxed));
        (counts->previous != nullptr ? counts->previous->next : registry.live) = counts->next;
        if (counts->next != nullptr) {
            counts->next->previous = counts->previous;
        }
        delete counts;
    }
};

// A thread's first block, and blocks after its end.
__attribute__((noinline)) void CountFirstOrLate(std::int64_t p_bytes, std::int64_t p_blocks) noexcept {
    TrackerThread& thread = t_tracker;
    if (!thread.ended) {
        try {
            static thread_local TrackerCleaner cleaner;
            (void)cleaner;
            auto* const counts = new TrackerCounts();
            TrackerRegistry& registry = Registry();
            std::lock_guard<std::mutex> lock(registry.mutex);
            counts->next = registry.live;
            if (registry.live != nullptr) {
                registry.live->previous = counts;
            }
            registry.live = counts;
            thread.counts = counts;
            counts->Add(p_bytes, p_blocks);
            return;
        } catch (...) {
            // No counts of its own: the thread counts with the ended ones.
        }
    }
    Registry().endedBytes.fetch_add(p_bytes);
    Registry().endedBlocks.fetch_add(p_blocks);
}

inline void Count(std::int64_t p_bytes, std::int64_t p_blocks) noexcept {
    TrackerCounts* const counts = t_tracker.counts;
    if (__builtin_expect(counts != nullptr, 1)) {
        counts->Add(p_bytes, p_blocks);
        return;
    }
    CountFirstOrLate(p_bytes, p_blocks);
}

// Bytes and blocks in use over all threads.
std::pair<std::int64_t, std::int64_t> Totals() {
    TrackerRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::int64_t bytes = registry.endedBytes.load();
    std::int64_t blocks = registry.endedBlocks.load();
    for (TrackerCounts const* counts = registry.live; counts != nullptr; counts = counts->next) {
        bytes += counts->bytes.load(std::memory_order_relaxed);
        blocks += counts->blocks.load(std::memory_order_relaxed);
    }
    return {bytes, blocks};
}
}  // namespace

void* allocationtracker::allocate(std::size_t p_bytes) {
    if (p_bytes > (std::numeric_limits<std::size_t>::max() - kHeader - kShift - kClassBytes) ||
        (p_bytes & kStateBits) != 0) {
        throw std::bad_alloc();
    }
    char* const raw = NewRaw(RawBytes(p_bytes));
    if (raw == nullptr) {
        throw std::bad_alloc();
    }
    bool const shift = ShiftFor(raw);
    char* const word = shift ? raw + kShift : raw;
    WriteWord(word, shift ? p_bytes | kShifted : p_bytes);
    Count(static_cast<std::int64_t>(p_bytes), 1);
    return word + kHeader;
}

std::size_t allocationtracker::deallocate(void* p_block) {
    if (p_block == nullptr) {
        return 0;
    }
    char* const word = WordOf(p_block);
    std::uint64_t const value = ReadWord(word);
    std::uint64_t const size = value & ~kStateBits;
    if ((value & kHeld) != 0) {
        WriteWord(word, value | kDeallocated);
        Poison(p_block, static_cast<std::size_t>(size));
    } else {
        FreeRaw(RawOf(word, value), size);
    }
    Count(-static_cast<std::int64_t>(size), -1);
    return static_cast<std::size_t>(size);
}

void* internal::hold_companion(void* p_block) noexcept {
    char* const word = WordOf(p_block);
    WriteWord(word, ReadWord(word) | kHeld);
    return word + kSizeWord;
}

void internal::release_companion(void* p_companion) noexcept {
    char* const word = static_cast<char*>(p_companion) - kSizeWord;
    std::uint64_t const value = ReadWord(word);
    if ((value & kDeallocated) != 0) {
        FreeRaw(RawOf(word, value), value & ~kStateBits);
    } else {
        WriteWord(word, value & ~kHeld);
    }
}

void internal::release_cached() noexcept { FreeCached(t_blocks); }

std::size_t allocationtracker::bytes_in_use() { return static_cast<std::size_t>(Totals().first); }
std::size_t allocationtracker::blocks_in_use() { return static_cast<std::size_t>(Totals().second); }

// ---------------------------------------------------------------------------
// capture

capture::capture(qeldebug::failpolicy p_policy) : _records(), _previous(nullptr), _previousPolicy() {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    _previous = g_innermost;
    _previousPolicy = g_policy.load();
    g_innermost = this;
    g_policy.store(p_policy);
    g_captures.fetch_add(1);
}

capture::~capture() {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    // Captures are expected to end in reverse order; unlink this one wherever
    // it stands so that a misordered end cannot leave a dangling pointer.
    if (g_innermost == this) {
        g_innermost = _previous;
    } else {
        for (capture* c = g_innermost; c != nullptr; c = c->_previous) {
            if (c->_previous == this) {
                c->_previous = _previous;
                break;
            }
        }
    }
    g_policy.store(_previousPolicy);
    g_captures.fetch_sub(1);
}

void capture::clear() {
    std::lock_guard<std::recursive_mutex> lock(StateMutex());
    _records.clear();
}

void capture::append(record p_record) { _records.push_back(std::move(p_record)); }

}  // namespace qeldebug
