// The one door through which a property enters its node's table.
#ifndef QEL_CORE_PROPERTYCREATOR_H
#define QEL_CORE_PROPERTYCREATOR_H

#include "IModifiable.h"
#include "QelCoreExport.h"

namespace Qel {
namespace Chart {
namespace Core {

class IProperty;
class Node;
class CompositePropertyBase;
template <class T>
class Property;

/// Static members only. The classes that may register properties are its
/// friends: `IProperty` (which hands registration on to its implementations
/// through `IProperty::RegisterOn`), `Property<T>` and `CompositePropertyBase`.
class QELCORE_API PropertyCreator {
public:
    PropertyCreator& operator=(PropertyCreator const&) { return *this; }

private:
    friend class IProperty;
    friend class CompositePropertyBase;
    template <class T>
    friend class Property;

    /// Registers `p_property` on `p_node` and does nothing else: no touch,
    /// no stamp, no notification.
    static void CreatePropertyEntry(Node& p_node, IProperty& p_property);
    /// Removes the entry of a property that ends before its node (and
    /// reports it with `p_text` when the node is owned and not deallocating).
    static void RemovePropertyEntry(Node& p_node, IProperty const& p_property, char const* p_text) noexcept;
    /// The owner has been sent `Deallocate`: a change must not propagate.
    static bool IsDeallocated(Node const& p_node) noexcept;
    /// `p_node` as its `IModifiable` base.
    static IModifiable& ToModifiable(Node& p_node);
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
