// Writing values to the diagnostics library's debug streams, and the checks
// that the core makes through its logger.
#ifndef QEL_CORE_DEBUGSTREAM_H
#define QEL_CORE_DEBUGSTREAM_H

#include "QelCoreExport.h"
#include "ReportTexts.h"

#include "ChartUtility.h"
#include "qeldebug.h"

#include <string>

namespace Qel {
namespace Chart {
namespace Core {

/// Writes `p_value` into the stream's buffer when the stream is active and
/// returns a copy, so that writes chain; an inactive stream costs no formatting.
template <class T>
qeldebug::dbgostream operator<<(
    qeldebug::dbgostream p_stream,  // NOLINT(performance-unnecessary-value-param): returned as a copy so writes chain
    T const& p_value) {
    if (p_stream.active()) {
        p_stream.buffer() << p_value;
    }
    return p_stream;
}

namespace Private {

/// Reports a failed assertion through `ensure`; returns if the policy lets it.
QELCORE_API void ReportEnsure(char const* p_text);

/// Reports a failed assertion and ends the operation: under the returning
/// policy it throws `qeldebug::check_failed` itself, so that the caller
/// never goes on to read outside a table.
[[noreturn]] QELCORE_API void FailEnsure(char const* p_text);

/// `ReportEnsure` with the text of `p_report`.
inline void ReportEnsure(Report p_report) { ReportEnsure(ReportText(p_report)); }

/// `FailEnsure` with the text of `p_report`.
[[noreturn]] inline void FailEnsure(Report p_report) { FailEnsure(ReportText(p_report)); }

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
