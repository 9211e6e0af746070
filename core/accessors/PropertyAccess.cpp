#include "PropertyAccess.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

PropertyAccess::PropertyAccess(Ptr<Node> const& p_node, IProperty& p_property)
    : _node(Private::NonEmpty(p_node)), _property(p_property) {}
PropertyAccess::PropertyAccess(Ptr<Node> const& p_node, std::string const& p_name)
    : _node(Private::NonEmpty(p_node)), _property(_node->_propertyMap.Get(p_name)) {}
PropertyAccess::PropertyAccess(Ptr<Node> const& p_node, std::uint64_t p_index)
    : _node(Private::NonEmpty(p_node)), _property(_node->_propertyMap.Get(p_index)) {}
PropertyAccess::PropertyAccess(PropertyAccess const& p_other) = default;
PropertyAccess::~PropertyAccess() = default;

std::string PropertyAccess::Name() const { return _property.Name(); }
void PropertyAccess::GetValue(boost::any& p_value) const { p_value = _property.GetValue(); }
void PropertyAccess::SetValue(boost::any const& p_value) { _property.SetValue(p_value); }
void PropertyAccess::ResetValue() { _property.ResetValue(); }
void PropertyAccess::IsValueDefined(bool& p_defined) const { p_defined = _property.IsValueDefined(); }
std::string PropertyAccess::GetValueAsStringDebug() const { return _property.GetValueAsStringDebug(); }
std::type_info const& PropertyAccess::Type() const { return _property.Type(); }
void PropertyAccess::Touch() { _property.Touch(); }

bool PropertyAccess::Exists(Ptr<Node> const& p_node, std::string const& p_name) {
    return Private::NonEmpty(p_node)->_propertyMap.Find(p_name) != -1;
}

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
