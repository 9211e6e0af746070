#include "PyNode.h"

#include <optional>
#include <utility>

namespace Qel {
namespace Chart {
namespace Python {

using Core::Node;
using Core::Ptr;

bool ClassInfo::IsA(ClassInfo const& p_other) const {
    for (ClassInfo const* ancestor : ancestry) {
        if (ancestor == &p_other) {
            return true;
        }
    }
    return false;
}

Ptr<PyNode> CheckedTarget(Ptr<Node> const& p_node, ClassInfo const* p_target) {
    if (!p_node) {
        throw Core::NullPtrException("null pointer passed to Core::Ptr");
    }
    Ptr<PyNode> node = Core::DynamicPtrCast<PyNode>(p_node);
    if (p_target != nullptr && !node->Info().IsA(*p_target)) {
        throw Core::NullPtrException("failed to cast Core::Ptr to type!");
    }
    return node;
}

PyRef::PyRef(Node& p_owner, SlotDecl const& p_decl)
    : Core::TypedRef<PyNode>(p_owner, p_decl.name, p_decl.dependent ? Core::RefLink::Dependent : Core::RefLink::None),
      _target(p_decl.target) {}

void PyRef::Attach(Ptr<Node> const& p_node) { Core::TypedRef<PyNode>::Attach(CheckedTarget(p_node, _target)); }

PyRefList::PyRefList(Node& p_owner, SlotDecl const& p_decl)
    : Core::TypedRefList<PyNode>(p_owner, p_decl.name,
                                 p_decl.dependent ? Core::RefLink::Dependent : Core::RefLink::None),
      _target(p_decl.target) {}

void PyRefList::Attach(Ptr<Node> const& p_node) { Core::TypedRefList<PyNode>::Attach(CheckedTarget(p_node, _target)); }

PyNode::Slot::~Slot() = default;

template <class T>
struct PyNode::PropertySlot final : Slot {
    // Made in place: a property never moves, its node's table points at it.
    std::optional<Core::Property<T>> property;
    PropertySlot(Node& p_owner, SlotDecl const& p_decl) {
        if (p_decl.initial.empty()) {
            property.emplace(p_owner, p_decl.name);
        } else {
            property.emplace(p_owner, p_decl.name, boost::any_cast<T const&>(p_decl.initial));
        }
    }
};

struct PyNode::RefSlot final : Slot {
    PyRef ref;
    RefSlot(Node& p_owner, SlotDecl const& p_decl) : ref(p_owner, p_decl) {}
};

struct PyNode::RefListSlot final : Slot {
    PyRefList refs;
    RefListSlot(Node& p_owner, SlotDecl const& p_decl) : refs(p_owner, p_decl) {}
};

PyNode::PyNode(ClassInfo const& p_info) : _info(&p_info) {
    _slots.reserve(p_info.slots.size());
    for (SlotDecl const& decl : p_info.slots) {
        switch (decl.kind) {
            case SlotDecl::Property:
                switch (decl.value) {
                    case ValueKind::Bool:
                        _slots.push_back(std::make_unique<PropertySlot<bool>>(*this, decl));
                        break;
                    case ValueKind::Int:
                        _slots.push_back(std::make_unique<PropertySlot<long long>>(*this, decl));
                        break;
                    case ValueKind::Float:
                        _slots.push_back(std::make_unique<PropertySlot<double>>(*this, decl));
                        break;
                    case ValueKind::Str:
                        _slots.push_back(std::make_unique<PropertySlot<std::string>>(*this, decl));
                        break;
                }
                break;
            case SlotDecl::Ref:
                _slots.push_back(std::make_unique<RefSlot>(*this, decl));
                break;
            case SlotDecl::RefList:
                _slots.push_back(std::make_unique<RefListSlot>(*this, decl));
                break;
        }
    }
}

// The slots go first, while the node's tables still list them; the node
// was told of its end before, so they leave quietly.
PyNode::~PyNode() = default;

Core::IProperty& PyNode::PropertyAt(std::size_t p_slot) const {
    Slot& slot = *_slots.at(p_slot);
    switch (_info->slots[p_slot].value) {
        case ValueKind::Bool:
            return *static_cast<PropertySlot<bool>&>(slot).property;
        case ValueKind::Int:
            return *static_cast<PropertySlot<long long>&>(slot).property;
        case ValueKind::Float:
            return *static_cast<PropertySlot<double>&>(slot).property;
        case ValueKind::Str:
            break;
    }
    return *static_cast<PropertySlot<std::string>&>(slot).property;
}

PyRef& PyNode::RefAt(std::size_t p_slot) const { return static_cast<RefSlot&>(*_slots.at(p_slot)).ref; }

PyRefList& PyNode::RefListAt(std::size_t p_slot) const { return static_cast<RefListSlot&>(*_slots.at(p_slot)).refs; }

}  // namespace Python
}  // namespace Chart
}  // namespace Qel
