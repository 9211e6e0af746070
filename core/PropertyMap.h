// A node's table of named properties, and the interface properties implement.
#ifndef QEL_CORE_PROPERTYMAP_H
#define QEL_CORE_PROPERTYMAP_H

#include "QelCoreExport.h"

#include "LightArray.h"

#include <boost/any.hpp>

#include <cstdint>
#include <string>
#include <typeinfo>

namespace Qel {
namespace Chart {
namespace Core {

class Node;
class PropertyCreator;
namespace Accessors {
class NodeAccess;
class PropertyAccess;
}  // namespace Accessors

/// A property as the library calls it; client code implements it (or uses
/// the ready-made `Property<T>`). The library never deletes a property
/// through this interface, so the destructor is protected and not virtual.
class QELCORE_API IProperty {
public:
    /// The name, the same text on every call; the key of lookups by name.
    virtual std::string Name() const = 0;
    virtual bool IsValueDefined() const = 0;
    virtual void ResetValue() = 0;
    virtual std::type_info const& Type() const = 0;
    virtual void Touch() = 0;
    virtual boost::any GetValue() const = 0;
    virtual void SetValue(boost::any const& p_value) = 0;
    virtual std::string GetValueAsStringDebug() const = 0;

protected:
    IProperty() = default;
    IProperty(IProperty const&) = default;
    IProperty& operator=(IProperty const&) = default;
    ~IProperty() = default;

    /// Enters `p_property` in `p_owner`'s property table (through
    /// `PropertyCreator`); for the constructors of implementations.
    static void RegisterOn(Node& p_owner, IProperty& p_property);
    /// For the destructors of implementations: a property that ends while its
    /// node lives leaves the table, and, once the node is owned, that is
    /// reported through `ensure` with `p_text` (the report never throws out of
    /// here). Costs nothing while the node itself is being deleted.
    static void UnregisterFrom(Node& p_owner, IProperty const& p_property, char const* p_text) noexcept;
};

/// The registered properties of one node, in registration order. The table
/// points at its properties and never owns them: each must stay alive, at
/// the same address, as long as the node.
class QELCORE_API PropertyMap {
public:
    PropertyMap() noexcept : _properties() {}
    ~PropertyMap() = default;
    PropertyMap(PropertyMap const&) = delete;
    PropertyMap& operator=(PropertyMap const&) = delete;

    /// The number of registered properties.
    std::uint64_t Size() const;

private:
    friend class PropertyCreator;
    friend class Node;
    friend class Accessors::NodeAccess;
    friend class Accessors::PropertyAccess;

    /// Registers `p_property`; a name already present fails the check and nothing is added.
    void Create(IProperty& p_property);
    /// Drops the entry of `p_property`; false when it has none.
    bool Remove(IProperty const& p_property);
    /// The position of the first property named `p_name`, or -1.
    int Find(std::string const& p_name) const;
    /// The first property named `p_name`; a miss is reported through
    /// `sentry` and then raises `qeldebug::check_failed`.
    IProperty& Get(std::string const& p_name) const;
    /// The property at `p_index`; outside the table the range check fails.
    IProperty& Get(std::uint64_t p_index) const;

    Utility::LightArray<IProperty*> _properties;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
