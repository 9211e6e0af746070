// Byte-wise conversion between narrow and wide strings, and wide strings on
// narrow streams. No code page or locale is involved.
#ifndef QEL_CORE_STRINGIFIERS_H
#define QEL_CORE_STRINGIFIERS_H

#include "QelCoreExport.h"

#include <istream>
#include <ostream>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {

struct QELCORE_API Stringifiers {
    /// Each byte, read as a signed 8-bit number, becomes one wide character:
    /// 0x00-0x7F map to U+0000-U+007F, 0x80-0xFF to values with every bit
    /// above the low seven set.
    static std::wstring StringToWString(std::string const& p_string);
    /// Each wide character becomes its low byte; higher bits are dropped.
    static std::string WStringToString(std::wstring const& p_string);
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

/// Extracts one word as `std::string` extraction does and converts it; the
/// target is assigned even when nothing could be read.
QELCORE_API std::istream& operator>>(std::istream& p_stream, std::wstring& p_string);
/// Converts and writes through the `std::string` inserter (width and fill apply).
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, std::wstring const& p_string);

#endif
