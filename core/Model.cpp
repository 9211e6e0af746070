#include "Model.h"

#include "NodeInternals.h"

namespace Qel {
namespace Chart {
namespace Core {

Model::Model(Model&& p_other) noexcept : _nodes(std::move(p_other._nodes)), _members(std::move(p_other._members)) {
    p_other._nodes.clear();
    p_other._members.clear();
}

Model& Model::operator=(Model const& p_other) {
    if (this != &p_other) {
        Model copy(p_other);
        *this = std::move(copy);
    }
    return *this;
}

Model& Model::operator=(Model&& p_other) noexcept {
    if (this != &p_other) {
        Clear();
        _nodes = std::move(p_other._nodes);
        _members = std::move(p_other._members);
        p_other._nodes.clear();
        p_other._members.clear();
    }
    return *this;
}

Model::~Model() { Clear(); }

void Model::Add(Ptr<Node> const& p_node) {
    Node const& node = *Private::NonEmpty(p_node);
    if (_members.count(&node) != 0) {
        return;
    }
    _nodes.reserve(_nodes.size() + 1);
    _members.insert(&node);
    _nodes.push_back(p_node);
}

bool Model::Remove(Node& p_node) {
    if (_members.erase(&p_node) == 0) {
        return false;
    }
    for (auto it = _nodes.begin(); it != _nodes.end(); ++it) {
        if (it->Get() == &p_node) {
            Ptr<Node> const held = std::move(*it);  // ends after the list is consistent again
            _nodes.erase(it);
            return true;
        }
    }
    return true;
}

void Model::Clear() noexcept {
    _members.clear();
    // One at a time from the back: a node's end may run client code, which
    // then sees a model without it.
    while (!_nodes.empty()) {
        Ptr<Node> const last = std::move(_nodes.back());
        _nodes.pop_back();
    }
}

bool Model::HasName(Node const& p_node, std::string_view p_name) {
    return Private::NodeInternals::StoredName(p_node) == p_name;
}

Ptr<Node> Model::Find(std::string_view p_name) const {
    for (Ptr<Node> const& node : _nodes) {
        if (HasName(*node, p_name)) {
            return node;
        }
    }
    return Ptr<Node>();
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
