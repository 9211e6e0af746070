// Properties made of parts.
#ifndef QEL_CORE_COMPOSITEPROPERTYBASE_H
#define QEL_CORE_COMPOSITEPROPERTYBASE_H

#include "IModifiable.h"
#include "ModifiablePtr.h"
#include "QelCoreExport.h"
#include "TimeStamp.h"

#include <boost/noncopyable.hpp>

#include <string>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

class Node;

/// The base of composite properties: a name prefix for the parts (the
/// composite's name and "."), a stamp that advances at the first read after
/// any part changed, and a touch that goes down to every part, then to the
/// composite itself, then up to the owning node. A composite must not
/// outlive its node, and its parts must outlive the composite.
class QELCORE_API CompositePropertyBase : public Modifiable<1>, private boost::noncopyable {
public:
    /// A composite of `p_node` named `p_name`; its base name is `p_name` + ".".
    CompositePropertyBase(Node& p_node, std::string const& p_name);
    /// A composite nested in `p_enclosing`: same node, base name
    /// `p_enclosing`'s base name + `p_name` + ".".
    CompositePropertyBase(CompositePropertyBase& p_enclosing, std::string const& p_name);
    ~CompositePropertyBase() override;

    /// This composite's address with its node's lifetime.
    IModifiable::Identifier Id() const override;
    /// The composite's own stamp, advanced once if any part changed since the last look.
    TimeStamp const Time() const override;
    /// Touches every part (in order), then the composite, then the owning node.
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override;

protected:
    std::string const& BaseName() const { return _baseName; }
    Node& Parent() { return *_parent; }
    /// Registers a part; for derived classes (calls `Watch`).
    void AddPart(IModifiable const& p_part) { Watch(p_part); }

private:
    /// The base name, trailing "." included.
    std::string const Name() const override;
    IModifiable& Modifiable() const;
    void Watch(IModifiable const& p_part);

    Node* _parent;
    std::string _baseName;
    mutable TimeStamp _time;
    std::vector<ModifiablePtr> _subjects;
    mutable std::vector<TimeStamp> _times;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
