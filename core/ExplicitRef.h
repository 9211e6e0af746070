// The ready-made explicit references: one node, or an ordered list of nodes.
#ifndef QEL_CORE_EXPLICITREF_H
#define QEL_CORE_EXPLICITREF_H

#include "ExplicitRefMap.h"
#include "Node.h"
#include "QelCoreExport.h"

#include <string>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

/// The common part of the two ready-made references: owner, name, stamp,
/// identity. A reference registers itself on its owner when constructed and
/// must live as long as the owner (it is usually a member of the owner's
/// class). It holds weak pointers only, so it keeps no referenced node alive.
///
/// Attaching, detaching and clearing stamp the reference and touch the owner
/// (as `TypeExplicitRef` changes `Add`, `Remove`, `Clear`, with the node as
/// payload), so the owner's dependents hear of it. A touch that arrives with
/// relationship `Self` is passed on to the owner the same way.
class QELCORE_API ExplicitRefBase : public IExplicitRef {
public:
    ExplicitRefBase(ExplicitRefBase const&) = delete;
    ExplicitRefBase& operator=(ExplicitRefBase const&) = delete;

    std::string const Name() const override;
    IModifiable::Identifier Id() const override;
    TimeStamp const Time() const override;
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override;
    /// One line per referenced live node: `p_indent` tabs, "-> ", the node line.
    void Dump(std::ostream& p_stream, Verbosity p_verbosity, int p_indent) const override;

protected:
    ExplicitRefBase(Node& p_owner, std::string p_name);
    ~ExplicitRefBase() override;

    Node& Owner() const { return *_owner; }

private:
    Node* _owner;
    std::string _name;
    TimeStamp _time;
};

/// A reference to at most one node.
class QELCORE_API ExplicitRef : public ExplicitRefBase {
public:
    ExplicitRef(Node& p_owner, std::string p_name);
    ~ExplicitRef() override;

    /// Points the reference at `p_node` (replacing what it held).
    void Attach(Ptr<Node> const& p_node) override;
    /// Lets go of `p_node` if it is the one referenced; otherwise does nothing.
    void Detach(Ptr<Node> const& p_node) override;
    void Clear() override;
    bool IsRefList() const override { return false; }
    /// The referenced node while it lives; otherwise empty.
    std::vector<Ptr<Node>> GetReferencees() const override;

    /// True while a live node is referenced.
    bool IsSet() const { return !_target.Expired(); }
    /// The referenced node; throws `NullPtrException` when there is none,
    /// naming the reference, its node and the node's class.
    Ptr<Node> Get() const {
        if (_target.Expired()) {
            ThrowEmpty();
        }
        return _target.Lock();
    }

private:
    [[noreturn]] void ThrowEmpty() const;

    WeakPtr<Node> _target;
};

/// An ordered list of referenced nodes; a node is listed at most once.
class QELCORE_API ExplicitRefList : public ExplicitRefBase {
public:
    ExplicitRefList(Node& p_owner, std::string p_name);
    ~ExplicitRefList() override;

    /// Appends `p_node` unless it is listed already.
    void Attach(Ptr<Node> const& p_node) override;
    /// Removes `p_node`; a node that is not listed is ignored.
    void Detach(Ptr<Node> const& p_node) override;
    void Clear() override;
    bool IsRefList() const override { return true; }
    /// The listed nodes that still live, in order.
    std::vector<Ptr<Node>> GetReferencees() const override;

private:
    // Drops the entries of ended nodes; every operation that meets them does.
    void DropEnded() const noexcept;

    mutable std::vector<WeakPtr<Node>> _targets;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
