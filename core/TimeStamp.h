// The per-object modification counter.
#ifndef QEL_CORE_TIMESTAMP_H
#define QEL_CORE_TIMESTAMP_H

#include "QelCoreExport.h"

#include <cstdint>
#include <ostream>

namespace Qel {
namespace Chart {
namespace Core {

/// A modification counter, not a clock: a 14-bit count of touches modulo
/// 16,384 and a touched flag. Stamps of one object are compared for equality
/// only; stamps of different objects mean nothing to each other.
class QELCORE_API TimeStamp {
public:
    TimeStamp() noexcept : _counter(0), _touched(0) {}

    /// Counts one more touch (modulo 16,384) and sets the touched flag.
    void Touch() noexcept {
        _counter = static_cast<std::uint16_t>((_counter + 1u) & 0x3FFFu);
        _touched = 1;
    }
    /// Puts the stamp at (0, touched), a value no untouched stamp has.
    void ForceTouch() noexcept {
        _counter = 0;
        _touched = 1;
    }
    /// Returns to the constructed state (0, not touched).
    void Reset() noexcept {
        _counter = 0;
        _touched = 0;
    }

    bool operator==(TimeStamp const& p_other) const noexcept {
        return _counter == p_other._counter && _touched == p_other._touched;
    }
    bool operator!=(TimeStamp const& p_other) const noexcept { return !(*this == p_other); }

    unsigned Counter() const noexcept { return _counter; }
    bool Touched() const noexcept { return _touched != 0; }

private:
    // The zero-width field starts the flag in a fresh 8-bit unit, so the
    // counter's spare bits and the flag's spare bits never mix.
    std::uint16_t _counter : 14;
    std::uint8_t : 0;
    std::uint8_t _touched : 1;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

/// Writes the counter, "[", the flag (as bool), "]": 3[1], or 3[true] under std::boolalpha.
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::TimeStamp const& p_stamp);

#endif
