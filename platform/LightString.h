// A 16-byte string for names that exist in large numbers: up to 13
// characters are kept inline, longer ones in a heap block of exactly their
// length. No terminator is stored.
#ifndef QEL_PLATFORM_LIGHTSTRING_H
#define QEL_PLATFORM_LIGHTSTRING_H

#include "qeldebug.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace Qel {
namespace Chart {
namespace Utility {

template <class Char>
class LightString_Base;

/// The narrow light string. Layout: 13 bytes of characters or of a pointer,
/// one kind byte (0 empty, 1 inline, 2 unowned pointer, 3 owned heap block),
/// a 16-bit length.
template <>
class alignas(8) LightString_Base<char> {
public:
    enum Kind : unsigned char { KindEmpty = 0, KindInline = 1, KindUnowned = 2, KindHeap = 3 };

    /// The longest string that the assertion admits. The length field holds
    /// 16 bits, so 65,536 itself is refused too (see CopyString).
    static constexpr std::size_t max_string_length = 65536;
    static constexpr std::size_t inline_capacity = 13;

    /// The empty string (kind 0).
    LightString_Base() noexcept { std::memset(this, 0, sizeof *this); }

    /// A copy of `p_string`, as CopyString makes it.
    explicit LightString_Base(std::string const& p_string) : LightString_Base() { CopyString(p_string); }

    /// A string that points at characters it does not own; they must outlive
    /// it and all its copies (string literals do).
    static LightString_Base Unowned(char const* p_chars, std::size_t p_length) {
        LightString_Base result;
        if (p_length > max_string_length - 1) {
            Fail(TooLongText());
        }
        if (p_length != 0) {
            result._buffer.SetPointer(p_chars);
            result._kind = KindUnowned;
            result._length = static_cast<std::uint16_t>(p_length);
        }
        return result;
    }

    /// Copies all 16 bytes; an owned block is duplicated, so each copy owns its own.
    LightString_Base(LightString_Base const& p_other) : LightString_Base() {
        if (p_other._kind == KindHeap) {
            char* block = static_cast<char*>(::operator new(p_other._length));
            std::memcpy(block, p_other._buffer.GetPointer(), p_other._length);
            _buffer.SetPointer(block);
            _kind = KindHeap;
            _length = p_other._length;
        } else {
            std::memcpy(static_cast<void*>(this), &p_other, sizeof *this);
        }
    }

    LightString_Base& operator=(LightString_Base const& p_other) {
        if (this != &p_other) {
            LightString_Base copy(p_other);
            Release();
            std::memcpy(static_cast<void*>(this), &copy, sizeof *this);
            std::memset(static_cast<void*>(&copy), 0, sizeof copy);  // ownership moved
        }
        return *this;
    }

    /// Frees an owned block and leaves all 16 bytes zero.
    ~LightString_Base() {
        Release();
        // Keeps the optimiser from dropping the zeroing as a store to a dying object.
        __asm__ __volatile__("" : : "r"(this) : "memory");
    }

    /// Fills the string from `p_string` (taken by value). Strings of up to 13
    /// characters go inline; longer ones into an owned block of exactly their
    /// length. A string too long for the 16-bit length is refused and the
    /// target stays as it was.
    void CopyString(std::string p_string) {
        if (max_string_length < p_string.size()) {
            Fail(
                "\"max_string_length >= p_string.size()\" - void __cdecl "
                "Qel::Chart::Utility::LightString_Base<char>::CopyString(const class "
                "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >)");
        }
        if (p_string.size() > max_string_length - 1) {
            Fail(TooLongText());
        }
        if (p_string.size() <= inline_capacity) {
            Release();
            _length = static_cast<std::uint16_t>(p_string.size());
            _kind = KindInline;
            if (!p_string.empty()) {
                std::memcpy(_buffer.chars, p_string.data(), p_string.size());
            }
            return;
        }
        if (_kind == KindHeap) {
            qeldebug::logger::instance().ensure(
                false,
                "\"!_buffer.heap_pointer && \"CopyString - Expected a null pointer.\"\" - void __cdecl "
                "Qel::Chart::Utility::LightString_Base<char>::CopyString(const class "
                "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >)");
        }
        char* block = static_cast<char*>(::operator new(p_string.size()));
        std::memcpy(block, p_string.data(), p_string.size());
        Release();  // only reached when the policy lets the check return
        _buffer.SetPointer(block);
        _kind = KindHeap;
        _length = static_cast<std::uint16_t>(p_string.size());
    }

    /// The characters and their number; null for the empty string.
    static char const* GetPtr(LightString_Base const& p_string, std::size_t& p_length) {
        p_length = p_string._length;
        switch (p_string._kind) {
            case KindEmpty:
                return nullptr;
            case KindInline:
                return p_string._buffer.chars;
            case KindUnowned:
            case KindHeap:
                return p_string._buffer.GetPointer();
            default:
                break;
        }
        qeldebug::logger::instance().sentry(
            "const char *__cdecl Qel::Chart::Utility::LightString_Base<char>::GetPtr(const class "
            "Qel::Chart::Utility::LightString_Base<char> &,unsigned __int64 &) @line372");
        return nullptr;
    }

    std::size_t Length() const { return _length; }
    bool Empty() const { return _length == 0; }
    Kind GetKind() const { return static_cast<Kind>(_kind); }
    std::string ToString() const {
        std::size_t length = 0;
        char const* chars = GetPtr(*this, length);
        return chars == nullptr ? std::string() : std::string(chars, length);
    }

private:
    struct Buffer {
        char chars[inline_capacity];
        char const* GetPointer() const {
            char const* p = nullptr;
            std::memcpy(&p, chars, sizeof p);
            return p;
        }
        void SetPointer(char const* p_pointer) { std::memcpy(chars, &p_pointer, sizeof p_pointer); }
    };

    static char const* TooLongText() {
        return "\"p_string.size() < max_string_length && \"CopyString - the string does not fit its 16-bit "
               "length.\"\" - void __cdecl Qel::Chart::Utility::LightString_Base<char>::CopyString(const "
               "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >)";
    }

    // Reports the check and ends the operation even when the policy returns.
    [[noreturn]] static void Fail(char const* p_text) {
        qeldebug::logger::instance().ensure(false, p_text);
        throw qeldebug::check_failed(p_text);
    }

    void Release() noexcept {
        if (_kind == KindHeap) {
            ::operator delete(const_cast<char*>(_buffer.GetPointer()));
        }
        std::memset(static_cast<void*>(this), 0, sizeof *this);
    }

    Buffer _buffer;
    unsigned char _kind;
    std::uint16_t _length;
};

static_assert(sizeof(LightString_Base<char>) == 16, "a light string is 16 bytes");

}  // namespace Utility
}  // namespace Chart
}  // namespace Qel

#endif
