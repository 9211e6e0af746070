// An array that costs one pointer while empty and holds no spare capacity
// unless asked to (`Reserve`): every other growth reallocates to the exact
// new count.
#ifndef QEL_PLATFORM_LIGHTARRAY_H
#define QEL_PLATFORM_LIGHTARRAY_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Qel {
namespace Chart {
namespace Utility {

/// Whether a `T` may move to another address byte for byte (its old bytes
/// then simply forgotten). True for trivially copyable types; a type that is
/// safe to relocate so although it is not trivially copyable (a smart
/// pointer, say) may specialise this to `std::true_type`.
template <class T>
struct IsTriviallyRelocatable : std::is_trivially_copyable<T> {};

/// One pointer to the elements, which follow an eight-byte header (32-bit
/// count, 32-bit capacity) in one heap block; null while no storage is held.
/// When the block moves, elements are relocated byte for byte where
/// `IsTriviallyRelocatable<T>` allows it and moved one by one otherwise.
template <class T>
class LightArray {
    static_assert(alignof(T) <= 8, "LightArray elements follow an 8-byte header");
    static_assert(IsTriviallyRelocatable<T>::value || std::is_nothrow_move_constructible<T>::value,
                  "LightArray moves its elements when it reallocates: they must not throw doing so");

public:
    LightArray() noexcept : _elements(nullptr) {}

    LightArray(LightArray const& p_other) : _elements(nullptr) { CopyFrom(p_other); }

    LightArray& operator=(LightArray const& p_other) {
        if (this != &p_other) {
            LightArray copy(p_other);
            Swap(copy);
        }
        return *this;
    }

    ~LightArray() { Clear(); }

    void Swap(LightArray& p_other) noexcept {
        T* elements = _elements;
        _elements = p_other._elements;
        p_other._elements = elements;
    }

    bool Empty() const { return _elements == nullptr; }
    std::size_t Size() const { return _elements == nullptr ? 0 : Head()->count; }
    std::size_t Capacity() const { return _elements == nullptr ? 0 : (Head()->capacity & kCapacityMask); }

    T* Begin() { return _elements; }
    T const* Begin() const { return _elements; }
    T* End() { return _elements == nullptr ? nullptr : _elements + Head()->count; }
    T const* End() const { return _elements == nullptr ? nullptr : _elements + Head()->count; }

    /// Range-for: `Begin()` and `End()`.
    T* begin() { return Begin(); }
    T* end() { return End(); }
    T const* begin() const { return Begin(); }
    T const* end() const { return End(); }

    T& operator[](std::size_t p_index) { return _elements[p_index]; }
    T const& operator[](std::size_t p_index) const { return _elements[p_index]; }

    /// Changes the count to `p_count`: new elements are value-initialised,
    /// elements past the new count are destroyed. Resizing to 0 frees the block.
    void Resize(std::size_t p_count) {
        std::size_t const count = Size();
        if (p_count == count) {
            return;
        }
        if (p_count == 0) {
            Clear();
            return;
        }
        if (p_count < count) {
            for (std::size_t i = p_count; i < count; ++i) {
                _elements[i].~T();
            }
            Head()->count = static_cast<std::uint32_t>(p_count);
            Relocate(p_count);
            return;
        }
        T* fresh = Allocate(p_count);
        std::size_t constructed = count;
        try {
            for (; constructed < p_count; ++constructed) {
                new (fresh + constructed) T();
            }
        } catch (...) {
            for (std::size_t i = count; i < constructed; ++i) {
                fresh[i].~T();
            }
            Free(fresh);
            throw;
        }
        Adopt(fresh, count, p_count);
    }

    /// Makes room for `p_count` elements, so that appends up to that count
    /// do not reallocate (storage is exact-size otherwise). A smaller count
    /// than the room held changes nothing.
    void Reserve(std::size_t p_count) {
        std::size_t const count = Size();
        if (p_count <= Capacity()) {
            return;
        }
        T* fresh = Allocate(p_count);
        std::uint32_t const bits = UserBits();
        Adopt(fresh, count, count);
        if (bits != 0) {
            SetUserBitsOf(_elements, bits);
        }
    }

    /// Adds a copy of `p_value` at the end: in place while reserved room is
    /// left, otherwise into a new block of exactly the new count.
    void Append(T const& p_value) {
        std::size_t const count = Size();
        if (count < Capacity()) {
            new (_elements + count) T(p_value);
            Head()->count = static_cast<std::uint32_t>(count + 1);
            return;
        }
        T* fresh = Allocate(count + 1);
        try {
            // Constructed before the old block goes, so that `p_value` may be
            // one of this array's own elements.
            new (fresh + count) T(p_value);
        } catch (...) {
            Free(fresh);
            throw;
        }
        Adopt(fresh, count, count + 1);
    }

    /// Removes the element at `p_index`: the tail moves one slot forward and
    /// both count and capacity drop by one, without reallocating. Removing
    /// the last element frees the block.
    void Erase(std::size_t p_index) {
        std::size_t const count = Size();
        if (p_index >= count) {
            throw std::out_of_range("LightArray::Erase: index past the end");
        }
        if (count == 1) {
            Clear();
            return;
        }
        if constexpr (IsTriviallyRelocatable<T>::value) {
            _elements[p_index].~T();
            std::memmove(static_cast<void*>(_elements + p_index), static_cast<void const*>(_elements + p_index + 1),
                         (count - p_index - 1) * sizeof(T));
        } else {
            for (std::size_t i = p_index; i + 1 < count; ++i) {
                _elements[i] = std::move(_elements[i + 1]);
            }
            _elements[count - 1].~T();
        }
        Head()->count = static_cast<std::uint32_t>(count - 1);
        Head()->capacity =
            static_cast<std::uint32_t>((Head()->capacity & ~kCapacityMask) | ((Head()->capacity & kCapacityMask) - 1));
    }

    /// Destroys the elements in order, frees the block, holds none.
    void Clear() noexcept {
        if (_elements == nullptr) {
            return;
        }
        std::size_t const count = Head()->count;
        for (std::size_t i = 0; i < count; ++i) {
            _elements[i].~T();
        }
        Free(_elements);
        _elements = nullptr;
    }

    /// Two spare header bits (mask 0xC0000000) that owners may use to flag
    /// their storage; the dependency walk marks the lists it is walking. They
    /// are only kept while storage is held, and a new block starts with none.
    static constexpr std::uint32_t kUserBits = 0xC0000000u;
    std::uint32_t UserBits() const { return _elements == nullptr ? 0u : UserBitsOf(_elements); }
    static std::uint32_t UserBitsOf(T const* p_elements) { return HeadOf(p_elements)->capacity & kUserBits; }
    static void SetUserBitsOf(T* p_elements, std::uint32_t p_bits) {
        Header* head = HeadOf(p_elements);
        head->capacity = (head->capacity & kCapacityMask) | (p_bits & kUserBits);
    }
    static std::size_t SizeOf(T const* p_elements) { return HeadOf(p_elements)->count; }

    /// Gives up the block without destroying anything: the caller owns it
    /// and must end it with `DestroyDetached`.
    T* Detach() noexcept {
        T* elements = _elements;
        _elements = nullptr;
        return elements;
    }
    /// Destroys the elements of a detached block in order and frees it.
    static void DestroyDetached(T* p_elements) noexcept {
        LightArray owner;
        owner._elements = p_elements;
    }

private:
    struct Header {
        std::uint32_t count;
        std::uint32_t capacity;
    };
    static constexpr std::uint32_t kCapacityMask = 0x3FFFFFFFu;

    static Header* HeadOf(T const* p_elements) {
        return reinterpret_cast<Header*>(reinterpret_cast<char*>(const_cast<T*>(p_elements)) - sizeof(Header));
    }
    Header* Head() const { return HeadOf(_elements); }

    // A zero-filled block for the header and exactly `p_count` elements.
    static T* Allocate(std::size_t p_count) {
        if (p_count > kCapacityMask || p_count > (static_cast<std::size_t>(-1) - sizeof(Header)) / sizeof(T)) {
            throw std::length_error("LightArray: too many elements");
        }
        std::size_t const bytes = sizeof(Header) + p_count * sizeof(T);
        void* block = ::operator new(bytes);
        std::memset(block, 0, bytes);
        Header* head = static_cast<Header*>(block);
        head->capacity = static_cast<std::uint32_t>(p_count);
        return reinterpret_cast<T*>(static_cast<char*>(block) + sizeof(Header));
    }

    static void Free(T* p_elements) noexcept {
        ::operator delete(reinterpret_cast<char*>(p_elements) - sizeof(Header));
    }

    // Moves the first `p_moved` elements byte for byte into `p_fresh`, frees
    // the old block and takes the new one with count `p_count`.
    void Adopt(T* p_fresh, std::size_t p_moved, std::size_t p_count) noexcept {
        if (_elements != nullptr) {
            if constexpr (IsTriviallyRelocatable<T>::value) {
                std::memcpy(static_cast<void*>(p_fresh), static_cast<void const*>(_elements), p_moved * sizeof(T));
            } else {
                for (std::size_t i = 0; i < p_moved; ++i) {
                    new (p_fresh + i) T(std::move(_elements[i]));
                    _elements[i].~T();
                }
            }
            Free(_elements);
        }
        _elements = p_fresh;
        Head()->count = static_cast<std::uint32_t>(p_count);
    }

    // Shrinks the block to exactly the current count (after destruction of the tail).
    void Relocate(std::size_t p_count) {
        T* fresh = Allocate(p_count);
        Adopt(fresh, p_count, p_count);
    }

    void CopyFrom(LightArray const& p_other) {
        std::size_t const count = p_other.Size();
        if (count == 0) {
            return;
        }
        T* fresh = Allocate(count);
        std::size_t done = 0;
        try {
            for (; done < count; ++done) {
                new (fresh + done) T(p_other._elements[done]);
            }
        } catch (...) {
            for (std::size_t i = 0; i < done; ++i) {
                fresh[i].~T();
            }
            Free(fresh);
            throw;
        }
        _elements = fresh;
        Head()->count = static_cast<std::uint32_t>(count);
    }

    T* _elements;
};

}  // namespace Utility
}  // namespace Chart
}  // namespace Qel

#endif
