// Reflective access to one property of one node.
#ifndef QEL_CORE_ACCESSORS_PROPERTYACCESS_H
#define QEL_CORE_ACCESSORS_PROPERTYACCESS_H

#include "Node.h"
#include "PropertyMap.h"
#include "Ptr.h"
#include "QelCoreExport.h"

#include <boost/any.hpp>

#include <cstdint>
#include <string>
#include <typeinfo>

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

/// A handle on one property, found by reference, name or position. Every
/// operation forwards to the property; the accessor adds no checks, locks or
/// notifications. It holds its node strongly, so node and property stay
/// alive as long as the accessor. Copyable, not assignable.
class QELCORE_API PropertyAccess {
public:
    /// Uses `p_property` as given; nothing tests that it belongs to `p_node`.
    PropertyAccess(Ptr<Node> const& p_node, IProperty& p_property);
    /// The first property named `p_name`; a miss is reported (sentry) and throws.
    PropertyAccess(Ptr<Node> const& p_node, std::string const& p_name);
    /// The property at `p_index`; past the end the range check fails.
    PropertyAccess(Ptr<Node> const& p_node, std::uint64_t p_index);
    PropertyAccess(PropertyAccess const& p_other);
    PropertyAccess& operator=(PropertyAccess const&) = delete;
    ~PropertyAccess();

    std::string Name() const;
    void GetValue(boost::any& p_value) const;
    void SetValue(boost::any const& p_value);
    void ResetValue();
    void IsValueDefined(bool& p_defined) const;
    std::string GetValueAsStringDebug() const;
    std::type_info const& Type() const;
    void Touch();

    /// The value as a `T`. A value of another type, or an undefined one,
    /// throws `boost::bad_any_cast`.
    template <class T>
    T GetAs() const {
        return boost::any_cast<T>(_property.GetValue());
    }
    /// Sets the value from a `T`, as `SetValue` does. A property of another
    /// value type throws `boost::bad_any_cast`, before it is asked to change.
    template <class T>
    void SetAs(T const& p_value) {
        if (_property.Type() != typeid(T)) {
            throw boost::bad_any_cast();
        }
        _property.SetValue(boost::any(p_value));
    }

    /// True when `p_node` has a property named `p_name`; reports nothing.
    static bool Exists(Ptr<Node> const& p_node, std::string const& p_name);

private:
    Ptr<Node> _node;
    IProperty& _property;
};

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
