// A node's table of named explicit references, and the interface references implement.
#ifndef QEL_CORE_EXPLICITREFMAP_H
#define QEL_CORE_EXPLICITREFMAP_H

#include "IModifiable.h"
#include "Ptr.h"
#include "QelCoreExport.h"
#include "Verbosity.h"

#include "LightArray.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

class Node;
class ExplicitRef;
class ExplicitRefList;
namespace Accessors {
class NodeAccess;
class ExplicitRefAccess;
}  // namespace Accessors

/// A named reference from a node to other nodes, as the library calls it;
/// client code implements it (or uses `ExplicitRef` / `ExplicitRefList`).
class QELCORE_API IExplicitRef : public Modifiable<2> {
public:
    virtual void Attach(Ptr<Node> const& p_node) = 0;
    virtual void Detach(Ptr<Node> const& p_node) = 0;
    /// Detaches everything.
    virtual void Clear() = 0;
    /// True for a reference that holds a list of nodes.
    virtual bool IsRefList() const = 0;
    /// The referenced nodes, in the reference's own order.
    virtual std::vector<Ptr<Node>> GetReferencees() const = 0;
    /// Writes the reference's details; `p_indent` tabs start each line.
    virtual void Dump(std::ostream& p_stream, Verbosity p_verbosity, int p_indent) const = 0;

protected:
    /// Enters `p_ref` in `p_owner`'s reference table; for the constructors of
    /// implementations.
    static void RegisterOn(Node& p_owner, IExplicitRef& p_ref);
    /// For the destructors of implementations: a reference that ends while
    /// its node lives leaves the table, and, once the node is owned, that is
    /// reported through `ensure` with `p_text` (never throwing out of here).
    /// Costs nothing while the node itself is being deleted.
    static void UnregisterFrom(Node& p_owner, IExplicitRef const& p_ref, char const* p_text) noexcept;
};

/// The registered references of one node, in registration order. The table
/// points at its references and never owns them. Copies share the reference
/// objects but have storage of their own.
class QELCORE_API ExplicitRefMap {
public:
    ExplicitRefMap() noexcept : _refs() {}
    ExplicitRefMap(ExplicitRefMap const& p_other);
    ExplicitRefMap& operator=(ExplicitRefMap const& p_other);
    ~ExplicitRefMap() = default;

    /// The number of registered references.
    std::uint64_t Size() const;

private:
    friend class Node;
    friend class IExplicitRef;
    friend class ExplicitRef;
    friend class ExplicitRefList;
    friend class Accessors::NodeAccess;
    friend class Accessors::ExplicitRefAccess;

    /// Registers `p_ref`; a name already present fails the check and nothing is added.
    void Register(IExplicitRef& p_ref);
    /// Drops the entry of `p_ref`; false when it has none.
    bool Unregister(IExplicitRef const& p_ref);
    int Find(std::string const& p_name) const;
    /// The reference named `p_name`; a miss fails the check.
    IExplicitRef& Get(std::string const& p_name) const;
    /// The reference at `p_index`; outside the table the check fails.
    IExplicitRef& Get(std::uint64_t p_index) const;

    Utility::LightArray<IExplicitRef*> _refs;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
