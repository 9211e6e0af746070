#include "PropertyCreator.h"

#include "Node.h"

namespace Qel {
namespace Chart {
namespace Core {

void PropertyCreator::CreatePropertyEntry(Node& p_node, IProperty& p_property) {
    p_node._propertyMap.Create(p_property);
}

IModifiable& PropertyCreator::ToModifiable(Node& p_node) { return p_node; }

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
