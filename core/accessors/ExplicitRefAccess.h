// Reflective access to one explicit reference of one node.
#ifndef QEL_CORE_ACCESSORS_EXPLICITREFACCESS_H
#define QEL_CORE_ACCESSORS_EXPLICITREFACCESS_H

#include "ExplicitRefMap.h"
#include "Node.h"
#include "Ptr.h"
#include "QelCoreExport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

/// A handle on one explicit reference, found by reference, name or position.
/// Every operation but `Touch` forwards to the reference. It holds its node
/// strongly. Copyable, not assignable.
class QELCORE_API ExplicitRefAccess {
public:
    ExplicitRefAccess(Ptr<Node> const& p_node, IExplicitRef& p_ref);
    /// The reference named `p_name`; a miss fails the check.
    ExplicitRefAccess(Ptr<Node> const& p_node, std::string const& p_name);
    /// The reference at `p_index`; past the end the check fails.
    ExplicitRefAccess(Ptr<Node> const& p_node, std::uint64_t p_index);
    ExplicitRefAccess(ExplicitRefAccess const& p_other);
    ExplicitRefAccess& operator=(ExplicitRefAccess const&) = delete;
    ~ExplicitRefAccess();

    std::string Name() const;
    /// Forwards to the reference; a `TypedRef<T>` or `TypedRefList<T>`
    /// refuses a node that is no `T` with `NullPtrException`.
    void Attach(Ptr<Node> const& p_node);
    void Detach(Ptr<Node> const& p_node);
    void Clear();
    bool IsRefList() const;
    /// Replaces the contents of `p_referencees`; left as it was if the reference throws.
    void GetReferencees(std::vector<Ptr<Node>>& p_referencees) const;
    /// Touches the reference as `Modifiable<2>::Touch()` does; the owner node
    /// hears of it only if the reference passes it on.
    void Touch();

    /// True when `p_node` has a reference named `p_name`; reports nothing.
    static bool Exists(Ptr<Node> const& p_node, std::string const& p_name);

private:
    Ptr<Node> _node;
    IExplicitRef& _ref;
};

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
