#include "ExplicitRefAccess.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Accessors {

ExplicitRefAccess::ExplicitRefAccess(Ptr<Node> const& p_node, IExplicitRef& p_ref)
    : _node(Private::NonEmpty(p_node)), _ref(p_ref) {}
ExplicitRefAccess::ExplicitRefAccess(Ptr<Node> const& p_node, std::string const& p_name)
    : _node(Private::NonEmpty(p_node)), _ref(_node->_explicitRefMap.Get(p_name)) {}
ExplicitRefAccess::ExplicitRefAccess(Ptr<Node> const& p_node, std::uint64_t p_index)
    : _node(Private::NonEmpty(p_node)), _ref(_node->_explicitRefMap.Get(p_index)) {}
ExplicitRefAccess::ExplicitRefAccess(ExplicitRefAccess const& p_other) = default;
ExplicitRefAccess::~ExplicitRefAccess() = default;

std::string ExplicitRefAccess::Name() const { return _ref.Name(); }
void ExplicitRefAccess::Attach(Ptr<Node> const& p_node) { _ref.Attach(p_node); }
void ExplicitRefAccess::Detach(Ptr<Node> const& p_node) { _ref.Detach(p_node); }
void ExplicitRefAccess::Clear() { _ref.Clear(); }
bool ExplicitRefAccess::IsRefList() const { return _ref.IsRefList(); }

void ExplicitRefAccess::GetReferencees(std::vector<Ptr<Node>>& p_referencees) const {
    p_referencees = _ref.GetReferencees();
}

void ExplicitRefAccess::Touch() { _ref.Touch(); }

bool ExplicitRefAccess::Exists(Ptr<Node> const& p_node, std::string const& p_name) {
    return Private::NonEmpty(p_node)->_explicitRefMap.Find(p_name) != -1;
}

}  // namespace Accessors
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
