// Shared ownership and weak observation of library objects.
#ifndef QEL_CORE_PTR_H
#define QEL_CORE_PTR_H

#include "QelCoreExport.h"

#include "ChartUtility.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <functional>
#include <type_traits>
#include <utility>

namespace Qel {
namespace Chart {
namespace Core {

/// What a `Ptr` throws instead of holding null.
struct QELCORE_API NullPtrException : public Utility::Exception {
    NullPtrException(char const* p_text);
    NullPtrException(NullPtrException const& p_other);
    NullPtrException& operator=(NullPtrException const& p_other);
    ~NullPtrException() override;
};

template <class T>
class WeakPtr;

namespace Private {
/// `p_handle` itself; an empty one throws `NullPtrException` "null pointer
/// passed to Core::Ptr", before anything was changed.
template <class P>
P const& NonEmpty(P const& p_handle) {
    if (!p_handle) {
        throw NullPtrException("null pointer passed to Core::Ptr");
    }
    return p_handle;
}
}  // namespace Private

/// Shared ownership of a `T` that is never null: every way of building one
/// from a pointer throws `NullPtrException` instead. The default-constructed
/// (empty) state exists only for members that are filled later.
template <class T>
class Ptr {
public:
    using element_type = T;

    Ptr() noexcept = default;

    /// Shares ownership with `p_pointer`; throws when it is null.
    explicit Ptr(boost::shared_ptr<T> const& p_pointer) : _pointer(p_pointer) {
        if (!_pointer) {
            throw NullPtrException("null pointer passed to Core::Ptr");
        }
    }

    /// Takes over `p_pointer`'s ownership; throws when it is null.
    explicit Ptr(boost::shared_ptr<T>&& p_pointer) : _pointer(std::move(p_pointer)) {
        if (!_pointer) {
            throw NullPtrException("null pointer passed to Core::Ptr");
        }
    }

    /// Converting cast from a shared pointer of another element type.
    template <class U, class = std::enable_if_t<!std::is_same<U, T>::value>>
    explicit Ptr(boost::shared_ptr<U> const& p_pointer) : _pointer(Convert(p_pointer)) {
        if (!_pointer) {
            throw NullPtrException("failed to cast Core::Ptr to type!");
        }
    }

    /// `Ptr<Derived>` converts implicitly to `Ptr<Base>`.
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value && !std::is_same<U, T>::value>>
    Ptr(Ptr<U> const& p_other) noexcept : _pointer(p_other.Shared()) {}  // NOLINT: implicit by design

    T* operator->() const noexcept { return _pointer.get(); }
    T& operator*() const noexcept { return *_pointer; }
    T* Get() const noexcept { return _pointer.get(); }
    boost::shared_ptr<T> const& Shared() const noexcept { return _pointer; }
    /// False only for the empty, default-constructed state.
    explicit operator bool() const noexcept { return static_cast<bool>(_pointer); }

private:
    // Upcasts convert statically; anything else is a run-time cast.
    template <class U>
    static boost::shared_ptr<T> Convert(boost::shared_ptr<U> const& p_pointer) {
        if constexpr (std::is_convertible<U*, T*>::value) {
            return boost::shared_ptr<T>(p_pointer);
        } else {
            return boost::dynamic_pointer_cast<T>(p_pointer);
        }
    }

    boost::shared_ptr<T> _pointer;
};

// Comparisons convert both pointers to their common type first, so that one
// object seen through different bases compares equal.
template <class T, class U>
bool operator==(Ptr<T> const& p_left, Ptr<U> const& p_right) noexcept {
    return p_left.Get() == p_right.Get();
}
template <class T, class U>
bool operator!=(Ptr<T> const& p_left, Ptr<U> const& p_right) noexcept {
    return !(p_left == p_right);
}
/// Orders by object address.
template <class T, class U>
bool operator<(Ptr<T> const& p_left, Ptr<U> const& p_right) noexcept {
    using Common = std::common_type_t<T*, U*>;
    return std::less<Common>()(p_left.Get(), p_right.Get());
}

/// A `Ptr<U>` to the same object when it is a `U`; otherwise throws
/// `NullPtrException` "failed to cast Core::Ptr to type!".
template <class U, class T>
Ptr<U> DynamicPtrCast(Ptr<T> const& p_pointer) {
    return Ptr<U>(p_pointer.Shared());
}

/// Observes an object owned by `Ptr`s without keeping it alive. A default
/// one is empty, and an empty one counts as expired.
template <class T>
class WeakPtr {
public:
    WeakPtr() noexcept = default;
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    WeakPtr(Ptr<U> const& p_pointer) noexcept : _pointer(p_pointer.Shared()) {}  // NOLINT: implicit by design
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    WeakPtr& operator=(Ptr<U> const& p_pointer) noexcept {
        _pointer = p_pointer.Shared();
        return *this;
    }

    /// True when empty or when no `Ptr` owns the object any more.
    bool Expired() const noexcept { return _pointer.expired(); }

    /// A `Ptr` to the object; throws `NullPtrException` when expired.
    Ptr<T> Lock() const { return Ptr<T>(_pointer.lock()); }

    boost::weak_ptr<T> const& Weak() const noexcept { return _pointer; }

private:
    boost::weak_ptr<T> _pointer;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
