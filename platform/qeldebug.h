// The diagnostics library: checks, report channels, exception reports and the
// allocation tracker that every node's memory comes from.
//
// Reports go to std::cerr unless a `capture` is alive, in which case the
// innermost capture receives them instead. A failed check either throws
// `check_failed` (the default `failpolicy::throwing`) or returns
// (`failpolicy::returning`); `sentry` always returns.
#ifndef QEL_PLATFORM_QELDEBUG_H
#define QEL_PLATFORM_QELDEBUG_H

#include "QelDebugExport.h"

#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qeldebug {

/// What a failed `ensure`, `chkptr` or `chkrng` does after it is recorded.
enum class failpolicy { throwing, returning };

/// The kind of a recorded report.
enum class reportkind { ensure, sentry, chkptr, chkrng, derr, dout, handleexcept };

/// One report or channel line as a `capture` saw it.
struct record {
    reportkind kind;
    std::string category;  ///< the channel's category; "" for derr and checks
    std::string text;      ///< the check's text, or the line without its end
};

/// Thrown by a failed check under `failpolicy::throwing`; `what()` is the text.
class QELDEBUG_API check_failed : public std::logic_error {
public:
    explicit check_failed(std::string const& text);
    check_failed(check_failed const&) = default;
    check_failed& operator=(check_failed const&) = default;
    ~check_failed() override;
};

namespace detail {
class channel;
}

/// A debug output stream: copies share one pending line, which is emitted
/// when a '\n' (std::endl) reaches it. An inactive stream (its channel is
/// null) swallows everything, and callers skip formatting for it.
class QELDEBUG_API dbgostream {
public:
    /// An inactive stream.
    dbgostream();
    dbgostream(reportkind kind, std::string const& category);
    dbgostream(dbgostream const& p_other);
    dbgostream& operator=(dbgostream const& p_other);
    ~dbgostream();

    /// The stream that receives text; a null sink when inactive.
    std::ostream& buffer() const;
    /// True when text written to `buffer()` goes anywhere.
    bool active() const { return _channel != nullptr; }
    std::string const& category() const { return _category; }

private:
    std::string _category;
    detail::channel* _channel;  // second member: null while inactive
};

/// Applies a manipulator such as std::endl to the stream's buffer.
QELDEBUG_API dbgostream operator<<(dbgostream p_stream, std::ostream& (*p_manip)(std::ostream&));

/// The process-wide logger; the utility library's GetLogger() hands it out.
class QELDEBUG_API logger {
public:
    static logger& instance();

    /// Records a failed assertion when `p_condition` is false.
    void ensure(bool p_condition, std::string const& p_text);
    /// Records that an unreachable point was reached; always returns.
    void sentry(std::string const& p_where);
    /// Records a failed check when `p_pointer` is null.
    void chkptr(void const* p_pointer, std::string const& p_text);
    /// Records a failed check when `p_index` lies outside [p_low, p_size).
    void chkrng(int p_low, int p_size, int p_index, std::string const& p_text);

    /// The error channel; always active.
    dbgostream derr(std::string const& p_category);
    /// A trace channel; active when its category is enabled or a capture lives.
    dbgostream dout(std::string const& p_category);

    static void enable(std::string const& p_category);
    static void disable(std::string const& p_category);
    static bool enabled(std::string const& p_category);
    /// True when no trace category is enabled and no capture lives: every
    /// `dout` channel is then inactive. Lets hot paths skip building one.
    static bool quiet();

    static void setfailpolicy(qeldebug::failpolicy p_policy);
    static qeldebug::failpolicy failpolicy();

private:
    logger() = default;
    void failed(reportkind p_kind, std::string const& p_text, std::string const& p_shown);
};

/// Reports an exception caught by a catch-all handler. Call it inside the
/// handler: the current exception's message, if any, is shown with `p_where`.
QELDEBUG_API void handleexcept(std::string const& p_where, logger& p_logger, bool p_rethrow);

/// Tracks raw blocks: sizes asked for and blocks not yet returned.
class QELDEBUG_API allocationtracker {
public:
    /// Raw memory of `p_bytes` bytes, aligned to 8; throws std::bad_alloc.
    static void* allocate(std::size_t p_bytes);
    /// Frees a block from `allocate` and returns the size that was asked for;
    /// a null pointer returns 0.
    static std::size_t deallocate(void* p_block);
    /// Bytes and blocks in use, summed over all threads. Each thread counts
    /// its own blocks without a locked instruction; these two take a lock.
    static std::size_t bytes_in_use();
    static std::size_t blocks_in_use();
};

/// Observes reports while it lives: every report and every channel line is
/// appended to `records()` instead of going to std::cerr. Captures nest; the
/// innermost receives. The destructor restores the previous policy.
class QELDEBUG_API capture {
public:
    explicit capture(qeldebug::failpolicy p_policy = qeldebug::failpolicy::throwing);
    ~capture();
    capture(capture const&) = delete;
    capture& operator=(capture const&) = delete;

    std::vector<record> const& records() const { return _records; }
    void clear();

private:
    friend class detail::channel;
    friend class logger;
    friend void handleexcept(std::string const&, logger&, bool);
    void append(record p_record);

    std::vector<record> _records;
    capture* _previous;
    qeldebug::failpolicy _previousPolicy;
};

}  // namespace qeldebug

#endif
