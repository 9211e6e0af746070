// Explicit references that hold nodes of one class, and may make their
// owner a dependent of what they reference.
#ifndef QEL_CORE_TYPEDREF_H
#define QEL_CORE_TYPEDREF_H

#include "ExplicitRef.h"
#include "Node.h"
#include "Ptr.h"

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

/// What a typed reference does to the dependents lists of its targets.
enum class RefLink {
    /// Nothing: the reference only points.
    None,
    /// The owner is kept in every target's dependents list, so that it hears
    /// of every change of what it references: one entry per link, inserted
    /// by `Attach` and removed by `Detach`, `Clear` and replacement. An
    /// `Attach` that would close a cycle throws `CyclicDependencyFoundExcept`
    /// and changes nothing. A target's end takes its list, and the link,
    /// with it; the owner's end leaves expired entries that the next walk
    /// squeezes out.
    Dependent
};

namespace Private {

/// The link bookkeeping of the typed references.
template <class T>
struct TypedTargets {
    static_assert(std::is_base_of<Node, T>::value, "typed references hold nodes");
    static_assert(!std::is_same<Node, T>::value, "for nodes of every class use ExplicitRef or ExplicitRefList");

    /// `p_node` as a `T`; an empty `Ptr` throws "null pointer passed to
    /// Core::Ptr", a node of another class "failed to cast Core::Ptr to type!".
    static Ptr<T> Cast(Ptr<Node> const& p_node) {
        if (!p_node) {
            throw NullPtrException("null pointer passed to Core::Ptr");
        }
        return DynamicPtrCast<T>(p_node);
    }

    static std::vector<Ptr<T>> CastAll(std::vector<Ptr<Node>> const& p_nodes) {
        std::vector<Ptr<T>> result;
        result.reserve(p_nodes.size());
        for (Ptr<Node> const& node : p_nodes) {
            result.push_back(DynamicPtrCast<T>(node));
        }
        return result;
    }

    // A reference destroyed while its owner lives takes its links back where
    // it can; one destroyed with its owner leaves them to expire.
    static void UnlinkAll(Node& p_owner, IExplicitRef const& p_ref) noexcept {
        if (p_owner.IsDeallocated()) {
            return;
        }
        try {
            for (Ptr<Node> const& target : p_ref.GetReferencees()) {
                if (!target->Deps().IsBeingWalked()) {
                    p_owner.StopDependingOn(*target);
                }
            }
        } catch (...) {
            // Nothing may leave a destructor; the entries expire with the owner.
        }
    }
};

}  // namespace Private

/// An `ExplicitRef` to at most one node of class `T` (a class derived from
/// `Node`, not `Node` itself). Generic `Attach` through `IExplicitRef` or
/// `Accessors::ExplicitRefAccess` of a node that is no `T` throws
/// `NullPtrException` "failed to cast Core::Ptr to type!" and changes
/// nothing. With `RefLink::Dependent`, see there.
template <class T>
class TypedRef : public ExplicitRef {
    using Targets = Private::TypedTargets<T>;

public:
    TypedRef(Node& p_owner, std::string p_name, RefLink p_link = RefLink::None)
        : ExplicitRef(p_owner, std::move(p_name)), _link(p_link) {}
    ~TypedRef() override {
        if (_link == RefLink::Dependent) {
            Targets::UnlinkAll(Owner(), *this);
        }
    }

    /// Points the reference at `p_node`, replacing what it held.
    void Attach(Ptr<T> const& p_node) {
        Ptr<Node> const node = Targets::Cast(p_node);
        if (_link == RefLink::Dependent) {
            Relink(*node);
        }
        ExplicitRef::Attach(node);
    }
    /// A node of a class derived from `T`.
    template <class U, class = std::enable_if_t<std::is_base_of<T, U>::value && !std::is_same<T, U>::value>>
    void Attach(Ptr<U> const& p_node) {
        Attach(Ptr<T>(p_node));
    }
    void Attach(Ptr<Node> const& p_node) override { Attach(Targets::Cast(p_node)); }

    void Detach(Ptr<Node> const& p_node) override {
        std::vector<Ptr<Node>> const current = GetReferencees();
        if (_link == RefLink::Dependent && !current.empty() && p_node && current.front() == p_node) {
            Owner().StopDependingOn(*current.front());
        }
        ExplicitRef::Detach(p_node);
    }
    void Clear() override {
        std::vector<Ptr<Node>> const current = GetReferencees();
        if (_link == RefLink::Dependent && !current.empty()) {
            Owner().StopDependingOn(*current.front());
        }
        ExplicitRef::Clear();
    }

    /// The referenced node; throws `NullPtrException` when there is none
    /// (`IsSet()` tells).
    Ptr<T> Get() const { return DynamicPtrCast<T>(ExplicitRef::Get()); }
    /// The referenced node while it lives; otherwise empty.
    std::vector<Ptr<T>> GetAll() const { return Targets::CastAll(GetReferencees()); }
    RefLink Link() const { return _link; }

private:
    // Moves the owner's link from the current target to `p_node`. The link
    // is made first: its cycle check and a walked list's refusal come
    // before anything changed; should the old list refuse to let go, the
    // new link is taken back (the owner's entries keep their number).
    void Relink(Node& p_node) {
        std::vector<Ptr<Node>> const current = GetReferencees();
        Node* const old = current.empty() ? nullptr : current.front().Get();
        if (old == &p_node) {
            return;
        }
        Private::LinkDependent(Owner(), p_node);
        if (old != nullptr) {
            try {
                Owner().StopDependingOn(*old);
            } catch (...) {
                Owner().StopDependingOn(p_node);
                throw;
            }
        }
    }

    RefLink _link;
};

/// An `ExplicitRefList` of nodes of class `T`, each listed at most once;
/// the type check and `RefLink` as for `TypedRef`.
template <class T>
class TypedRefList : public ExplicitRefList {
    using Targets = Private::TypedTargets<T>;

public:
    TypedRefList(Node& p_owner, std::string p_name, RefLink p_link = RefLink::None)
        : ExplicitRefList(p_owner, std::move(p_name)), _link(p_link) {}
    ~TypedRefList() override {
        if (_link == RefLink::Dependent) {
            Targets::UnlinkAll(Owner(), *this);
        }
    }

    /// Appends `p_node` unless it is listed already.
    void Attach(Ptr<T> const& p_node) {
        Ptr<Node> const node = Targets::Cast(p_node);
        if (_link == RefLink::Dependent && !Lists(node)) {
            Private::LinkDependent(Owner(), *node);
        }
        ExplicitRefList::Attach(node);
    }
    /// A node of a class derived from `T`.
    template <class U, class = std::enable_if_t<std::is_base_of<T, U>::value && !std::is_same<T, U>::value>>
    void Attach(Ptr<U> const& p_node) {
        Attach(Ptr<T>(p_node));
    }
    void Attach(Ptr<Node> const& p_node) override { Attach(Targets::Cast(p_node)); }

    void Detach(Ptr<Node> const& p_node) override {
        if (_link == RefLink::Dependent && p_node && Lists(p_node)) {
            Owner().StopDependingOn(*p_node);
        }
        ExplicitRefList::Detach(p_node);
    }
    void Clear() override {
        if (_link == RefLink::Dependent) {
            std::vector<Ptr<Node>> const current = GetReferencees();
            // A walked list refuses before any link is taken back.
            for (Ptr<Node> const& target : current) {
                if (target->Deps().IsBeingWalked()) {
                    Owner().StopDependingOn(*target);
                }
            }
            for (Ptr<Node> const& target : current) {
                Owner().StopDependingOn(*target);
            }
        }
        ExplicitRefList::Clear();
    }

    /// The listed nodes that still live, in order.
    std::vector<Ptr<T>> GetAll() const { return Targets::CastAll(GetReferencees()); }
    RefLink Link() const { return _link; }

private:
    bool Lists(Ptr<Node> const& p_node) const {
        for (Ptr<Node> const& target : GetReferencees()) {
            if (target == p_node) {
                return true;
            }
        }
        return false;
    }

    RefLink _link;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
