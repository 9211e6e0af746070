#include "PropertyCreator.h"

#include "Node.h"

namespace Qel {
namespace Chart {
namespace Core {

void PropertyCreator::CreatePropertyEntry(Node& p_node, IProperty& p_property) {
    p_node._propertyMap.Create(p_property);
}

void PropertyCreator::RemovePropertyEntry(Node& p_node, IProperty const& p_property, char const* p_text) noexcept {
    if (p_node.IsDeallocated()) {
        return;  // the node is being deleted: its table goes with it
    }
    // One that was refused a place (a duplicate name) has nothing to report.
    bool removed = false;
    try {
        removed = p_node._propertyMap.Remove(p_property);
    } catch (...) {
        // Erasing a pointer from within the table does not throw.
    }
    if (removed) {
        Private::ReportEndedEarly(p_node, p_text);
    }
}

bool PropertyCreator::IsDeallocated(Node const& p_node) noexcept { return p_node.IsDeallocated(); }

IModifiable& PropertyCreator::ToModifiable(Node& p_node) { return p_node; }

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
