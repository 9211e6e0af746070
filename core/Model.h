// The owner of a set of nodes, as an application's document is.
#ifndef QEL_CORE_MODEL_H
#define QEL_CORE_MODEL_H

#include "Node.h"
#include "NodeAccess.h"
#include "Ptr.h"
#include "QelCoreExport.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

/// Holds nodes strongly, in the order they were added, so that nodes linked
/// only by references (which hold their targets weakly) live as long as the
/// model does. A model never changes a node's lists; a node may belong to
/// several models. Copies share the nodes. Dropping the model (or `Clear`)
/// lets go of the nodes last added first, so that a node usually ends after
/// its dependents and its end has no one left to tell.
class QELCORE_API Model {
public:
    using const_iterator = std::vector<Ptr<Node>>::const_iterator;

    Model() = default;
    Model(Model const& p_other) = default;
    Model(Model&& p_other) noexcept;
    Model& operator=(Model const& p_other);
    Model& operator=(Model&& p_other) noexcept;
    ~Model();

    /// Makes a `T` with `Node::Create<T>(p_args...)`, stores `p_name` as its
    /// name and holds it. A name too long to store throws and holds nothing.
    template <class T, class... A>
    Ptr<T> Create(std::string p_name, A&&... p_args) {
        Ptr<T> node = Node::Create<T>(std::forward<A>(p_args)...);
        Accessors::NodeAccess(node).SetName(p_name);
        Add(node);
        return node;
    }

    /// Holds `p_node`, at the end; a node held already is not added twice.
    /// An empty `Ptr` throws `NullPtrException` and changes nothing.
    void Add(Ptr<Node> const& p_node);
    /// Drops the model's hold on `p_node`; false when the model does not hold it.
    bool Remove(Node& p_node);
    /// Drops every node, the last added first.
    void Clear() noexcept;
    /// True when the model holds `p_node`.
    bool Contains(Node const& p_node) const { return _members.count(&p_node) != 0; }

    std::size_t Size() const noexcept { return _nodes.size(); }
    bool Empty() const noexcept { return _nodes.empty(); }
    const_iterator begin() const noexcept { return _nodes.begin(); }
    const_iterator end() const noexcept { return _nodes.end(); }
    /// The nodes, in the order they were added.
    std::vector<Ptr<Node>> const& Nodes() const noexcept { return _nodes; }

    /// The first node whose stored name is `p_name`; empty when there is none.
    Ptr<Node> Find(std::string_view p_name) const;
    /// The first node whose stored name is `p_name` and which is a `T`.
    template <class T>
    Ptr<T> Find(std::string_view p_name) const {
        for (Ptr<Node> const& node : _nodes) {
            if (HasName(*node, p_name) && dynamic_cast<T*>(node.Get()) != nullptr) {
                return DynamicPtrCast<T>(node);
            }
        }
        return Ptr<T>();
    }

private:
    static bool HasName(Node const& p_node, std::string_view p_name);

    std::vector<Ptr<Node>> _nodes;
    std::unordered_set<Node const*> _members;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
