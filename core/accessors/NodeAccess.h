// Reflective access to a node: identity, name, tag, type, properties, references.
#ifndef QEL_CORE_ACCESSORS_NODEACCESS_H
#define QEL_CORE_ACCESSORS_NODEACCESS_H

#include "ExplicitRefAccess.h"
#include "Node.h"
#include "PropertyAccess.h"
#include "Ptr.h"
#include "QelCoreExport.h"

#include "ChartUtility.h"

#include <list>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

/// A uniform handle on any node for generic code. It holds the node
/// strongly and reads the node's own fields and tables directly.
class QELCORE_API NodeAccess {
public:
    NodeAccess(Ptr<Node> const& p_node);
    NodeAccess(NodeAccess const& p_other);
    NodeAccess& operator=(NodeAccess const& p_other);
    ~NodeAccess();

    int UniqueId() const;
    unsigned short TypeId() const;
    Utility::TypeInfo Type();
    /// The stored name (not the virtual `Name()`), into `p_name`.
    void GetName(std::string& p_name) const;
    /// Stores a new name; touches nothing. A name too long for a light
    /// string is refused and the old name stays.
    void SetName(std::string const& p_name);
    void GetUserTag(unsigned int& p_tag) const;
    /// Stores a new tag; touches nothing.
    void SetUserTag(unsigned int p_tag);
    /// Touches the node as `Modifiable<0>::Touch()` does, so it propagates.
    void Touch();
    /// One accessor per property, in registration order.
    std::list<PropertyAccess> GetProperties();
    /// One accessor per explicit reference, in registration order.
    std::list<ExplicitRefAccess> GetExplicitRefs();

private:
    Ptr<Node> _node;
};

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
