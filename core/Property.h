// The ready-made typed property.
#ifndef QEL_CORE_PROPERTY_H
#define QEL_CORE_PROPERTY_H

#include "ChangeBatch.h"
#include "IModifiable.h"
#include "Node.h"
#include "PropertyCreator.h"
#include "PropertyMap.h"
#include "ReportTexts.h"
#include "Subscription.h"
#include "UndoStack.h"

#include <boost/any.hpp>
#include <boost/core/demangle.hpp>
#include <boost/optional.hpp>

#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace Qel {
namespace Chart {
namespace Core {

namespace Private {

template <class T, class = void>
struct IsPrintable : std::false_type {};
template <class T>
struct IsPrintable<T, std::void_t<decltype(std::declval<std::ostream&>() << std::declval<T const&>())>>
    : std::true_type {};

/// The debug text of a value: its `operator<<` where it has one, otherwise a
/// placeholder that names the type.
template <class T>
std::string DebugText(T const& p_value) {
    if constexpr (IsPrintable<T>::value) {
        std::ostringstream text;
        text << p_value;
        return text.str();
    } else {
        return "(unprintable " + boost::core::demangle(typeid(T).name()) + ")";
    }
}

}  // namespace Private

/// A typed property of a node, registered on its owner when constructed (so
/// it is usually a member of the owner's class; it must live as long as the
/// owner). Every change (`Set`, `SetValue`, `ResetValue`, `Touch`) stamps the
/// property and touches the owner as a change of kind `TypeProperty` with the
/// property's name and the new value as payload, so it propagates to the
/// owner's dependents. A `Property` is also a modifiable: watchers can watch
/// it and composites can take it as a part (a touch that arrives through
/// `TouchThis` only stamps it).
///
/// Client code reacts to changes of the value with `OnChanged`; `Update`
/// changes the value only when it differs.
namespace Private {
// IProperty's Name returns std::string and Modifiable's std::string const, so
// one function cannot override both: a class that is both implements each
// in a base of its own, from one name.
class PropertyNaming : public IProperty {
public:
    std::string Name() const override { return NameText(); }

protected:
    PropertyNaming() = default;
    PropertyNaming(PropertyNaming const&) = default;
    PropertyNaming& operator=(PropertyNaming const&) = default;
    ~PropertyNaming() = default;
    virtual std::string const& NameText() const = 0;
};
class ModifiablePropertyNaming : public Modifiable<1> {
public:
    std::string const Name() const override { return NameText(); }

protected:
    virtual std::string const& NameText() const = 0;
};
}  // namespace Private

template <class T>
class Property : public Private::PropertyNaming, public Private::ModifiablePropertyNaming {
public:
    /// An undefined property named `p_name` on `p_owner`.
    Property(Node& p_owner, std::string p_name) : _owner(&p_owner), _name(std::move(p_name)), _value(), _time() {
        IProperty::RegisterOn(p_owner, *this);
    }
    /// A property holding `p_initial`.
    Property(Node& p_owner, std::string p_name, T p_initial)
        : _owner(&p_owner), _name(std::move(p_name)), _value(std::move(p_initial)), _time() {
        IProperty::RegisterOn(p_owner, *this);
    }
    Property(Property const&) = delete;
    Property& operator=(Property const&) = delete;
    /// A property that ends before its node leaves the node's table (and
    /// reports that through `ensure`).
    ~Property() { IProperty::UnregisterFrom(*_owner, *this, Private::ReportText(Private::Report::PropertyEndedEarly)); }

    /// The value; throws `std::logic_error` while it is undefined.
    T const& Get() const {
        if (!_value) {
            throw std::logic_error("Property '" + _name + "' has no value");
        }
        return *_value;
    }
    /// Stores `p_value` and announces an `Edit`, whether the value differs or not.
    void Set(T const& p_value) {
        if (Private::UndoState* const recorder = Private::ActiveUndoRecorder()) {
            Private::RecordValue(*recorder, *this, Id().Lifetime(), GetValue(), boost::any(p_value));
        }
        _value = p_value;
        Changed(IModifiable::Edit, boost::any(p_value), true);
    }
    /// `Set(p_value)` when the property is undefined or holds a value that
    /// is not `== p_value`; otherwise nothing at all (no stamp, no walk, no
    /// callback). Returns whether it set. Needs `T` to have `==`.
    bool Update(T const& p_value) {
        if (_value && *_value == p_value) {
            return false;
        }
        Set(p_value);
        return true;
    }

    /// Registers `p_callback`, called as `void(Property<T> const&)` after
    /// every change of the value (`Set`, an `Update` that set, `SetValue`,
    /// `ResetValue`; not `Touch`), once the change has propagated to the
    /// owner's dependents; subscribers are called in the order they
    /// subscribed, and one added while a change is handled is first called
    /// for the next change. The call stops when the returned subscription is
    /// cancelled or destroyed, or when the property is destroyed. A callback
    /// may subscribe, cancel, set properties and touch nodes; an exception
    /// it throws skips the subscribers after it and reaches the caller of
    /// the change.
    template <class F>
    [[nodiscard]] Subscription OnChanged(F&& p_callback) {
        Subscription subscription =
            Private::SubscribeTyped<Property<T>>(Modifiable<1>::SubscriptionKey(), std::forward<F>(p_callback));
        Modifiable<1>::_subscribed = true;
        return subscription;
    }

    /// The name, the text of both `IProperty::Name` and `Modifiable::Name`.
    std::string const& NameText() const override { return _name; }

    // IProperty
    bool IsValueDefined() const override { return static_cast<bool>(_value); }
    /// Makes the value undefined and announces a `Clear`.
    void ResetValue() override {
        if (Private::UndoState* const recorder = Private::ActiveUndoRecorder()) {
            Private::RecordValue(*recorder, *this, Id().Lifetime(), GetValue(), boost::any());
        }
        _value = boost::none;
        Changed(IModifiable::Clear, boost::any(), true);
    }
    std::type_info const& Type() const override { return typeid(T); }
    /// Announces a `Force` change without altering the value.
    void Touch() override { Changed(IModifiable::Force, boost::any(), false); }
    /// The value wrapped; empty while undefined.
    boost::any GetValue() const override { return _value ? boost::any(*_value) : boost::any(); }
    /// Stores a wrapped `T`; any other type throws `boost::bad_any_cast` and changes nothing.
    void SetValue(boost::any const& p_value) override { Set(boost::any_cast<T const&>(p_value)); }
    /// The value through `operator<<` of `T` (or a placeholder); "undefined" while undefined.
    std::string GetValueAsStringDebug() const override {
        return _value ? Private::DebugText(*_value) : std::string("undefined");
    }

    // IModifiable
    IModifiable::Identifier Id() const override {
        return IModifiable::Identifier(const_cast<Property*>(this),
                                       PropertyCreator::ToModifiable(*_owner).Id().Lifetime());
    }
    TimeStamp const Time() const override { return _time; }
    /// Stamps the property. Its own touch (`Modifiable<1>::Touch()` and the
    /// like: `Self`, its own name) also reaches the owner, as `Touch()` does;
    /// a touch handed down by a composite only stamps it.
    void TouchThis(IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                   IModifiable::Relationship p_relationship, WeakPtr<Node> const& p_originator,
                   std::string const& p_name, boost::any const& p_value) override {
        if (p_relationship == IModifiable::Self && p_type == IModifiable::TypeProperty && p_originator.Expired() &&
            p_name == _name) {
            Changed(p_change, p_value, false);  // a touch, not a new value
            return;
        }
        _time.Touch();
    }

private:
    void Changed(IModifiable::Change p_change, boost::any const& p_payload, bool p_valueChanged) {
        if (PropertyCreator::IsDeallocated(*_owner)) {
            // The same warning as a touch of the deallocated node itself.
            Utility::GetLogger().derr("") << "WARNING : Event propagation after node is deallocated!" << std::endl;
            return;
        }
        _time.Touch();
        if (p_valueChanged && Modifiable<1>::_subscribed) {
            ChangedWithSubscribers(p_change, p_payload);
            return;
        }
        // A copy: the owner, and this property with it, may end during the
        // walk (a dependent may drop the last Ptr), while the walk still
        // hands the name to every dependent.
        std::string const name = _name;
        PropertyCreator::ToModifiable(*_owner).TouchThis(IModifiable::TypeProperty, p_change, IModifiable::Self,
                                                         WeakPtr<Node>(), name, p_payload);
    }

    // Out of line, so that a change without subscribers is what it was.
    __attribute__((noinline)) void ChangedWithSubscribers(IModifiable::Change p_change, boost::any const& p_payload) {
        std::string const name = _name;
        // Pinned before the walk, which may end this property.
        Private::Dispatch dispatch(Modifiable<1>::SubscriptionKey());
        if (!dispatch.Found()) {
            Modifiable<1>::_subscribed = false;  // the last one was cancelled
        }
        PropertyCreator::ToModifiable(*_owner).TouchThis(IModifiable::TypeProperty, p_change, IModifiable::Self,
                                                         WeakPtr<Node>(), name, p_payload);
        if (dispatch.Found() && !dispatch.ObjectEnded() && !Private::DeferChanged(Id(), &CallSubscribers)) {
            dispatch.Call(static_cast<Property const*>(this));
        }
    }

    // A batch's commit: the subscribers hear of the final value.
    static void CallSubscribers(IModifiable& p_property) {
        Property& property = static_cast<Property&>(p_property);
        Private::Dispatch dispatch(property.Modifiable<1>::SubscriptionKey());
        if (dispatch.Found()) {
            dispatch.Call(static_cast<Property const*>(&property));
        }
    }

    Node* _owner;
    std::string _name;
    boost::optional<T> _value;
    TimeStamp _time;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
