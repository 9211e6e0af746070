// Callbacks on the changes of nodes and properties, and the handles that
// keep them registered.
#ifndef QEL_CORE_SUBSCRIPTION_H
#define QEL_CORE_SUBSCRIPTION_H

#include "QelCoreExport.h"

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace Qel {
namespace Chart {
namespace Core {

class Subscription;

namespace Private {

struct SubscriptionState;
struct SubscriberList;

/// One subscriber's callable, called with what its object hands out (a
/// `TouchEvent`, a property) as an untyped pointer.
class QELCORE_API SubscriberCall {
public:
    virtual ~SubscriberCall();
    virtual void Call(void const* p_argument) = 0;
};

/// Calls `F` with the argument cast back to `A`.
template <class A, class F>
class TypedSubscriberCall final : public SubscriberCall {
public:
    explicit TypedSubscriberCall(F p_function) : _function(std::move(p_function)) {}
    void Call(void const* p_argument) override { _function(*static_cast<A const*>(p_argument)); }

private:
    F _function;
};

/// Adds a subscriber to the object whose key is `p_key` (the address of its
/// `Modifiable` base). The caller then sets the object's subscribed flag.
QELCORE_API Subscription Subscribe(void const* p_key, std::unique_ptr<SubscriberCall> p_call);

template <class A, class F>
Subscription SubscribeTyped(void const* p_key, F&& p_function);

/// Ends every subscription of the object: they become inactive and their
/// callables are released. Called as the object is destroyed.
QELCORE_API void EndSubscriptions(void const* p_key) noexcept;

/// One round of calls to an object's subscribers. Construction finds the
/// object's subscribers and pins them, so that what the calls do (cancel,
/// subscribe, end the object) cannot free what the round still reads; the
/// subscribers a round calls are those active when it was constructed and
/// still active when their turn comes. Allocates nothing.
class QELCORE_API Dispatch {
public:
    explicit Dispatch(void const* p_key) noexcept;
    ~Dispatch();
    Dispatch(Dispatch const&) = delete;
    Dispatch& operator=(Dispatch const&) = delete;

    /// False when the object has no subscribers: its flag may be cleared.
    bool Found() const noexcept { return _list != nullptr; }
    /// Calls the subscribers in the order they subscribed; stops when one
    /// throws (the exception passes on) or when the object ends.
    void Call(void const* p_argument);
    /// True once the object was destroyed, before or during the calls.
    bool ObjectEnded() const noexcept;
    /// Ends the round now (the destructor does it otherwise): unpins the
    /// subscribers and releases the callables of the cancelled ones. Returns
    /// true when the object was destroyed, the releases included: a callable
    /// may hold the object's last owner.
    bool Close() noexcept;

private:
    SubscriberList* _list;
    std::size_t _count;
};

}  // namespace Private

/// A registered callback, as `Property<T>::OnChanged` and `Node::OnTouched`
/// return it. Move-only; destroying an active subscription cancels it.
///
/// A subscription may outlive its object: when the object is destroyed the
/// subscription becomes inactive and its callable is released, and
/// cancelling it then does nothing. Cancelling during a round of calls (from
/// a callback, the subscriber's own included) takes effect at once: a
/// cancelled subscriber is not called again, and its callable is released
/// when the round ends. Like the object it belongs to, a subscription is used
/// by one thread at a time: the thread that uses the object.
class QELCORE_API Subscription {
public:
    /// Inactive: subscribed to nothing.
    Subscription() noexcept;
    Subscription(Subscription&& p_other) noexcept;
    /// Cancels what this subscription held, then takes over `p_other`'s.
    Subscription& operator=(Subscription&& p_other) noexcept;
    Subscription(Subscription const&) = delete;
    Subscription& operator=(Subscription const&) = delete;
    ~Subscription();

    /// Stops the calls; afterwards `Active()` is false. Safe in every state.
    void Cancel() noexcept;
    /// True until cancelled or until the object is destroyed.
    bool Active() const noexcept;

private:
    friend Subscription Private::Subscribe(void const* p_key, std::unique_ptr<Private::SubscriberCall> p_call);
    explicit Subscription(std::shared_ptr<Private::SubscriptionState> p_state) noexcept;

    std::shared_ptr<Private::SubscriptionState> _state;
};

template <class A, class F>
Subscription Private::SubscribeTyped(void const* p_key, F&& p_function) {
    using Function = std::decay_t<F>;
    static_assert(std::is_invocable<Function&, A const&>::value, "the callback must be callable with the argument");
    return Subscribe(p_key, std::make_unique<TypedSubscriberCall<A, Function>>(std::forward<F>(p_function)));
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
