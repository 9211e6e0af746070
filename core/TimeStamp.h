// The per-object modification counter.
#ifndef QEL_CORE_TIMESTAMP_H
#define QEL_CORE_TIMESTAMP_H

#include "QelCoreExport.h"

#include <cstdint>
#include <cstring>
#include <ostream>

namespace Qel {
namespace Chart {
namespace Core {

/// A modification counter, not a clock: a 14-bit count of touches modulo
/// 16,384 and a touched flag. Stamps of one object are compared for equality
/// only; stamps of different objects mean nothing to each other.
class QELCORE_API TimeStamp {
public:
    // Every byte starts at zero, the padding included: equality compares
    // the stamp as one word (masked), so no byte of it may be left unset.
    TimeStamp() noexcept { std::memset(static_cast<void*>(this), 0, sizeof(TimeStamp)); }

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
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // One masked word compare: a watcher's check runs it per subject, and
        // the two field compares cost two more branches. The mask keeps the
        // counter's 14 bits and the flag bit, so the spare bits stay free.
        std::uint32_t mine = 0;
        std::uint32_t theirs = 0;
        std::memcpy(&mine, this, sizeof(TimeStamp));
        std::memcpy(&theirs, &p_other, sizeof(TimeStamp));
        return ((mine ^ theirs) & kValueBits) == 0;
#else
        return _counter == p_other._counter && _touched == p_other._touched;
#endif
    }
    bool operator!=(TimeStamp const& p_other) const noexcept { return !(*this == p_other); }

    unsigned Counter() const noexcept { return _counter; }
    bool Touched() const noexcept { return _touched != 0; }

private:
    // The bits of the stamp's 32 that hold its value on a little-endian
    // machine: the counter's 14, then the flag at bit 16.
    static constexpr std::uint32_t kValueBits = 0x00013FFFu;

    // The zero-width field starts the flag in a fresh 8-bit unit, so the
    // counter's spare bits and the flag's spare bits never mix.
    std::uint16_t _counter : 14;
    std::uint8_t : 0;
    std::uint8_t _touched : 1;
};
static_assert(sizeof(TimeStamp) == sizeof(std::uint32_t), "a stamp is compared as one 32-bit word");

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

/// Writes the counter, "[", the flag (as bool), "]": 3[1], or 3[true] under std::boolalpha.
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::TimeStamp const& p_stamp);

#endif
