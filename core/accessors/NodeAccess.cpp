#include "NodeAccess.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

NodeAccess::NodeAccess(Ptr<Node> const& p_node) : _node(Private::NonEmpty(p_node)) {}
NodeAccess::NodeAccess(NodeAccess const& p_other) = default;
NodeAccess& NodeAccess::operator=(NodeAccess const& p_other) {
    _node = p_other._node;  // the new reference is taken before the old one goes
    return *this;
}
NodeAccess::~NodeAccess() = default;

int NodeAccess::UniqueId() const { return _node->_uniqueId; }
unsigned short NodeAccess::TypeId() const { return _node->_typeId; }
Utility::TypeInfo NodeAccess::Type() { return _node->Type(); }

void NodeAccess::GetName(std::string& p_name) const { p_name = _node->_name.ToString(); }

void NodeAccess::SetName(std::string const& p_name) {
    // Built aside first, so that a refused name leaves the old one intact.
    Utility::LightString_Base<char> fresh;
    fresh.CopyString(p_name);
    _node->_name = fresh;
}

void NodeAccess::GetUserTag(unsigned int& p_tag) const { p_tag = _node->_userTag; }
void NodeAccess::SetUserTag(unsigned int p_tag) { _node->_userTag = p_tag; }

void NodeAccess::Touch() { _node->Touch(); }

std::list<PropertyAccess> NodeAccess::GetProperties() {
    std::list<PropertyAccess> result;
    std::uint64_t const count = _node->_propertyMap.Size();
    for (std::uint64_t i = 0; i < count; ++i) {
        result.push_back(PropertyAccess(_node, _node->_propertyMap.Get(i)));
    }
    return result;
}

std::list<ExplicitRefAccess> NodeAccess::GetExplicitRefs() {
    std::list<ExplicitRefAccess> result;
    std::uint64_t const count = _node->_explicitRefMap.Size();
    for (std::uint64_t i = 0; i < count; ++i) {
        result.push_back(ExplicitRefAccess(_node, _node->_explicitRefMap.Get(i)));
    }
    return result;
}

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
