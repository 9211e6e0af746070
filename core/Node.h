// The base class of every object of the chart model.
#ifndef QEL_CORE_NODE_H
#define QEL_CORE_NODE_H

#include "Dependencies.h"
#include "ExplicitRefMap.h"
#include "IModifiable.h"
#include "Propagation.h"
#include "PropertyMap.h"
#include "Ptr.h"
#include "QelCoreExport.h"
#include "Subscription.h"
#include "TimeStamp.h"
#include "Verbosity.h"

#include "ChartUtility.h"
#include "LightString.h"
#include "QelThreads.h"

#include <boost/function.hpp>
#include <boost/noncopyable.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace Qel {
namespace Chart {
namespace Core {

class PropertyCreator;
class CompositePropertyBase;
class Node;
namespace Accessors {
class NodeAccess;
class PropertyAccess;
class ExplicitRefAccess;
}  // namespace Accessors
namespace Private {
/// For objects of a node (properties, references, composites) that end while
/// the node is owned and not being deleted: reports `p_text` through
/// `ensure`. Never throws, whatever the failure policy.
QELCORE_API void ReportEndedEarly(Node const& p_node, char const* p_text) noexcept;
/// Holds `p_kept` until `p_node` is deleted, and releases it right after
/// that deletion: how the roots of a loaded model keep its other nodes.
QELCORE_API void KeepUntilDeleted(Node& p_node, std::shared_ptr<void> p_kept);
class BatchCommit;
class DependencyWalk;
class NodeInternals;
struct NodeDeleter;

class NodeCounts;

}  // namespace Private

/// A touch as a node's `OnTouched` subscribers see it: the arguments of the
/// `TouchThis` that the node received, valid during the call only.
struct TouchEvent {
    IModifiable::ModifiableType type;
    IModifiable::Change change;
    IModifiable::Relationship relationship;
    WeakPtr<Node> const& originator;
    std::string const& name;
    boost::any const& value;
};

/// The part of a node that gives it an identity: a do-nothing-deleter
/// anchor, made on the first `Id()`, whose release in the destructor expires
/// every identifier of the node. For a node made by `Node::Create` the
/// anchor's count is placed in the node's count block, so that handing out
/// identifiers allocates nothing.
class QELCORE_API ModifiableNode : public Modifiable<0> {
public:
    ModifiableNode() noexcept;
    ~ModifiableNode() override;
    IModifiable::Identifier Id() const override;

protected:
    // The node's stamp. Declared here, it fills the padding after the flags
    // of Modifiable<0>: a watcher's poll and a walk's touch find it in the
    // cache line of the vtable pointer that they read anyway.
    TimeStamp _time;

private:
    mutable Ptr<IModifiable> _idAnchor;
};

/// A node of the chart model. Client classes derive from it and are created
/// with `Node::Create<T>(...)`, which returns the owning `Ptr<T>`; a node ends
/// when its last `Ptr` goes. Nodes are never copied and never deleted by a
/// delete expression (that ends the process).
///
/// Touching a node stamps it and walks its dependents depth first (see
/// `TouchThis`). The walk does not recurse: it keeps its path on a per-thread
/// stack that is reused, so it allocates nothing once warmed up and handles
/// graphs of any depth. Cycles: a list that is already on the path of the
/// same walk is not walked a second time; its owner is still touched. A walk
/// started from inside another one (a `TouchThis` override that edits a
/// property, a node deleted by a handler) is a walk of its own and walks every
/// list it reaches, those the enclosing walks are on included. So on a graph
/// without cycles the rule never applies, and with one it makes every walk end.
///
/// A node whose last `Ptr` goes while another node is being deleted on the
/// same thread is deleted at once, inside that deletion; only beyond 64 nested
/// deletions are they queued, so that ownership chains of any length end.
///
/// Client code reacts to touches with `OnTouched` (no need to override
/// `TouchThis`) and links nodes with `DependOn`, which refuses cycles.
class QELCORE_API Node : public ModifiableNode, public IDependencyTracker, private boost::noncopyable {
public:
    /// Creates a `T` in memory from `Allocator`, owned by the returned `Ptr`
    /// whose deleter is `Deleter`. The first call for a class registers it
    /// (with a factory that calls `Create<T>()` when `T` is default-
    /// constructible). If `T`'s constructor throws, the memory goes back and
    /// every counter is as before.
    template <class T, class... A>
    static Ptr<T> Create(A&&... p_args);

    /// The node's stamp. A watcher of a node whose class keeps this function
    /// reads the stamp in place; an override is asked.
    TimeStamp const Time() const override;
    std::string const Name() const override;
    /// The node's dependents list. A walk reads the list of a node whose
    /// class keeps both of these in place; an override is called.
    Dependencies& Deps() override;
    Dependencies const& Deps() const override;

    /// A fresh node of the same class as `p_node`'s, made by the factory
    /// registered for its type id; nothing is copied from it.
    static Ptr<Node> CreateTypeOf(Ptr<Node> const& p_node);
    /// The node's most derived class.
    Utility::TypeInfo Type() const;

    /// An owning `Ptr` to this node. Throws `NullPtrException` "null pointer
    /// passed to Core::Ptr" once the last owner is gone (while the node is
    /// being deleted) and during the constructors.
    Ptr<Node> SelfPtr() const;

    /// Makes this node a dependent of `p_source` (appends it to
    /// `p_source.Deps()`), so that it hears of every change of `p_source`.
    /// Returns false and changes nothing when it already is one (a live
    /// entry names it). Throws `CyclicDependencyFoundExcept` and changes
    /// nothing when the link would close a cycle: when `p_source` is this
    /// node or depends on it, directly or through others. A list that a
    /// walk is walking refuses the change as `Dependencies::Insert` does.
    bool DependOn(Node& p_source);
    /// Removes the first live entry naming this node from `p_source.Deps()`;
    /// returns false, reporting nothing, when there is none. A list that a
    /// walk is walking refuses the change as `Dependencies::Remove` does.
    bool StopDependingOn(Node& p_source);

    /// Registers `p_callback`, called as `void(TouchEvent const&)` for every
    /// touch that reaches the node (its own changes, those of its properties
    /// and references, and those it hears of as a dependent, `Deallocate`
    /// included), after the node's stamp advanced and before the walk goes
    /// on to the node's own dependents. Subscribers are called in the order
    /// they subscribed; one added while a touch is handled is first called
    /// for the next touch. The calls stop when the returned subscription is
    /// cancelled or destroyed, or when the node is destroyed. A callback may
    /// subscribe, cancel, set properties and touch nodes (such walks are
    /// walks of their own) and even drop the node's last `Ptr`: the walk
    /// then does not go on from it. An exception it throws skips the
    /// subscribers after it and leaves the walk as a throwing `TouchThis`
    /// does, to reach the caller.
    template <class F>
    [[nodiscard]] Subscription OnTouched(F&& p_callback) {
        Subscription subscription =
            Private::SubscribeTyped<TouchEvent>(Modifiable<0>::SubscriptionKey(), std::forward<F>(p_callback));
        Modifiable<0>::_subscribed = true;
        return subscription;
    }

    /// Writes a dump: the rule and node lines, and by verbosity the
    /// properties, references and dependents. Indents above 80 give an empty rule.
    virtual void Dump(std::ostream& p_stream, Verbosity p_verbosity, std::size_t p_indent) const;
    /// The same dump, sent to a debug stream line by line.
    void DumpDebug(qeldebug::dbgostream const& p_stream, Verbosity p_verbosity, std::size_t p_indent) const;

    /// Nodes constructed and not yet deleted.
    static qelthreads::atomic<int> _debugNodeCount;
    /// Bytes handed out by `Allocator` minus bytes returned by deleted nodes.
    static qelthreads::atomic<int> _debugNodeMemUsage;

protected:
    Node();
    ~Node() override;

    /// Stamps the node and calls its `OnTouched` subscribers; with `Self` it
    /// then walks the dependents, depth first and in list order, with
    /// `Explicit` for direct dependents, `Implicit` below, and this node as
    /// originator. Expired entries are skipped and their lists squeezed
    /// afterwards. A walk touches a node whose class keeps this function
    /// without a virtual call; an override is called through the vtable.
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override;

    // A delete expression on a node is a bug: it writes a message and aborts.
    static void operator delete(void* p_block);
    static void operator delete[](void* p_block);

private:
    friend class PropertyCreator;
    friend class IExplicitRef;
    friend class CompositePropertyBase;
    friend class Accessors::NodeAccess;
    friend class Accessors::PropertyAccess;
    friend class Accessors::ExplicitRefAccess;
    friend class Private::BatchCommit;
    friend class Private::DependencyWalk;
    friend class Private::NodeInternals;
    friend struct Private::NodeDeleter;
    friend class Private::NodeCounts;
    friend class ModificationWatcher;
    friend void Private::ReportEndedEarly(Node const&, char const*) noexcept;
    friend void Private::KeepUntilDeleted(Node&, std::shared_ptr<void>);

    static void* Allocator(std::size_t p_size);
    static void Deleter(Node* p_node);
    static unsigned short RegisterNodeType(std::type_info const& p_type, boost::function<Ptr<Node>()> const& p_factory);

    // The Self part of TouchThis: the originator check and the walk.
    __attribute__((noinline)) void StartWalk(IModifiable::ModifiableType type, IModifiable::Change change,
                                             WeakPtr<Node> const& p_originator, std::string const& name,
                                             boost::any const& value);

    // The rest of TouchThis for a node with subscribers: calls them, then
    // walks unless one of them ended the node.
    __attribute__((noinline)) void TouchSubscribed(IModifiable::ModifiableType type, IModifiable::Change change,
                                                   IModifiable::Relationship relationship,
                                                   WeakPtr<Node> const& p_originator, std::string const& name,
                                                   boost::any const& value);

    // Announces the node's end to itself and its dependents (TouchSelf is
    // reachable from Node only).
    void SendDeallocate() { TouchSelf(IModifiable::Deallocate, boost::any()); }

    // Returns the memory of a node whose constructor threw.
    static void ReleaseFailedConstruction(void* p_memory) noexcept;

    template <class T>
    static unsigned short TypeIdOf();

    // True when T takes Node's TouchThis (Name) as it is: a walk then
    // touches such a dependent without the virtual call, and the end of a
    // node that keeps both tells nobody but the node itself while it has no
    // dependents and no subscribers. Anything else (an override anywhere
    // below Node, an ambiguous name) gives false and the calls.
    template <class T, class = void>
    struct KeepsNodeTouch : std::false_type {};
    template <class T>
    struct KeepsNodeTouch<T, std::enable_if_t<std::is_same<decltype(&T::TouchThis), decltype(&Node::TouchThis)>::value>>
        : std::true_type {};
    template <class T, class = void>
    struct KeepsNodeTime : std::false_type {};
    template <class T>
    struct KeepsNodeTime<T, std::enable_if_t<std::is_same<decltype(&T::Time), decltype(&Node::Time)>::value>>
        : std::true_type {};
    // Deps is overloaded: deduction picks, from the set that T's name finds,
    // the one overload of the given form, and tells whose member it is.
    template <class C>
    static C* ClassOfDeps(Dependencies& (C::*)());
    template <class C>
    static C* ClassOfConstDeps(Dependencies const& (C::*)() const);
    template <class T, class = void>
    struct KeepsNodeDeps : std::false_type {};
    template <class T>
    struct KeepsNodeDeps<T, std::enable_if_t<std::is_same<decltype(ClassOfDeps(&T::Deps)), Node*>::value &&
                                             std::is_same<decltype(ClassOfConstDeps(&T::Deps)), Node*>::value>>
        : std::true_type {};
    template <class T, class = void>
    struct KeepsNodeName : std::false_type {};
    template <class T>
    struct KeepsNodeName<T, std::enable_if_t<std::is_same<decltype(&T::Name), decltype(&Node::Name)>::value>>
        : std::true_type {};

    // The node's own part of the Deallocate announcement, where
    // the two flags say that is all of it; otherwise SendDeallocate.
    void EndQuietlyOrSendDeallocate();

    // Whether something waits in the deleter's table to be released with the node.
    bool HoldsKept() const noexcept { return Modifiable<0>::_holdsKept; }
    bool TakesNodeTime() const noexcept { return Modifiable<0>::_keepsNodeTime; }
    void SetHoldsKept() noexcept { Modifiable<0>::_holdsKept = true; }

    // Whether Create found that the node's class keeps Node's TouchThis.
    bool TakesNodeTouch() const noexcept { return Modifiable<0>::_keepsNodeTouch; }
    // The list the design's walk asks Deps() for: the member itself when the
    // class keeps Node's Deps, the override's answer otherwise.
    Dependencies& WalkedDeps() {
        return Modifiable<0>::_keepsNodeDeps ? _deps : static_cast<IDependencyTracker&>(*this).Deps();
    }

    // A node whose touch as a dependent is its stamp, and whose list a walk
    // reads in place: its class keeps Node's TouchThis and Deps, and it has
    // no subscribers.
    bool IsPlain() const noexcept {
        return Modifiable<0>::_keepsNodeTouch && Modifiable<0>::_keepsNodeDeps && !Modifiable<0>::_subscribed;
    }

    // TouchThis of a class that keeps Node's, as a walk calls it for a
    // dependent (never with Self), without the virtual call. False when
    // subscribers ran: they may have ended the node.
    bool TouchAsDependent(IModifiable::ModifiableType type, IModifiable::Change change,
                          IModifiable::Relationship relationship, WeakPtr<Node> const& p_originator,
                          std::string const& name, boost::any const& value);

    WeakPtr<Node> _self;
    Utility::LightString_Base<char> _name;
    PropertyMap _propertyMap;
    ExplicitRefMap _explicitRefMap;
    int _uniqueId;
    unsigned int _userTag;
    unsigned short _typeId;
    Dependencies _deps;
};

namespace Private {
/// Appends `p_dependent` to `p_source.Deps()` even when it is listed there
/// already: each link of a reference made with `RefLink::Dependent` is an
/// entry of its own. Throws `CyclicDependencyFoundExcept` and changes
/// nothing when the link would close a cycle; a walked list refuses it.
QELCORE_API void LinkDependent(Node& p_dependent, Node& p_source);

/// While one lives on a thread, `LinkDependent` (and so `Node::DependOn`
/// and the linking references) changes no list and checks no cycle: for a
/// loader that fills every dependents list afterwards exactly as saved.
class QELCORE_API LinkingSuspended {
public:
    LinkingSuspended() noexcept;
    ~LinkingSuspended();
    LinkingSuspended(LinkingSuspended const&) = delete;
    LinkingSuspended& operator=(LinkingSuspended const&) = delete;
    /// True while one lives on this thread.
    static bool Active() noexcept;
};

/// The deleter of every owning `Ptr`: `Node::Deleter`.
struct NodeDeleter {
    void operator()(Node* p_node) const noexcept { Node::Deleter(p_node); }
};

/// The counts of a node made by `Node::Create`, 40 bytes in the companion
/// area that the allocation tracker keeps in front of the node's memory: the
/// count of the `Ptr`s that own the node (whose last release calls
/// `Node::Deleter`) and room for the count of the node's identity anchor,
/// placed there by the first `Id()`. The two counts stay separate, as they
/// would in two blocks: the anchor never keeps the node alive. A check of an
/// identifier and a look at the node's stamp thus read neighbouring bytes.
/// The node's memory is returned to the tracker when the node is deleted; the
/// heap block goes back when no `WeakPtr` or identifier observes either count
/// any more, as with `make_shared`.
class QELCORE_API NodeCounts {
public:
    /// The owner count; its deleter is a `NodeDeleter`.
    class QELCORE_API Owner final : public boost::detail::sp_counted_base, public NodeDeleter {
    public:
        explicit Owner(Node* p_node) noexcept : _node(reinterpret_cast<std::uintptr_t>(p_node)) {}
        void dispose() noexcept override;
        void destroy() noexcept override;
        void* get_deleter(boost::detail::sp_typeinfo_ const& p_type) noexcept override;
        void* get_local_deleter(boost::detail::sp_typeinfo_ const& p_type) noexcept override;
        void* get_untyped_deleter() noexcept override;

    private:
        friend class NodeCounts;
        // The node; bit 0 is set once the anchor's count is in the block.
        std::uintptr_t _node;
    };

    /// The (not yet started) counts of node memory from `Node::Allocator`;
    /// from now on that memory stays until the counts are done too.
    static NodeCounts* For(void* p_nodeMemory) noexcept;
    /// Called when both counts are done.
    void Free() noexcept;

    /// Starts the owner count for `p_object` and returns its first owner.
    template <class T>
    boost::shared_ptr<T> Own(T* p_object) noexcept {
        // As the base: shared_count would take an Owner* as an object to own.
        boost::detail::sp_counted_base* const owner = ::new (static_cast<void*>(_storage)) Owner(p_object);
        return boost::shared_ptr<T>(boost::detail::sp_internal_constructor_tag(), p_object,
                                    boost::detail::shared_count(owner));
    }

    /// The anchor count of `p_node`'s block, started now with one strong
    /// reference for the caller to adopt; null when the node has no block
    /// (it was not made by `Create`) or no owner (while it is made or
    /// deleted), or when its anchor count was started before.
    static boost::detail::sp_counted_base* StartAnchor(Node const& p_node) noexcept;

private:
    static constexpr std::size_t kOwnerSize = 24;
    static constexpr std::size_t kAnchorSize = 16;

    alignas(8) unsigned char _storage[kOwnerSize + kAnchorSize];
};
}  // namespace Private

template <class T>
unsigned short Node::TypeIdOf() {
    static unsigned short const id = [] {
        boost::function<Ptr<Node>()> factory;
        if constexpr (std::is_default_constructible<T>::value) {
            factory = [] { return Ptr<Node>(Node::Create<T>()); };
        }
        return RegisterNodeType(typeid(T), factory);
    }();
    return id;
}

template <class T, class... A>
Ptr<T> Node::Create(A&&... p_args) {
    static_assert(std::is_base_of<Node, T>::value, "Node::Create makes classes derived from Node");
    static_assert(alignof(T) <= 8, "node memory is 8-byte aligned");
    unsigned short const typeId = TypeIdOf<T>();
    void* const memory = Allocator(sizeof(T));
    T* object = nullptr;
    try {
        if constexpr (sizeof...(A) == 0 && sizeof(T) == sizeof(Node)) {
            // T adds no data (Node has no tail padding that could hold
            // any), so T() would only zero bytes that Node's constructor
            // writes anyway.
            object = ::new (memory) T;
        } else {
            object = ::new (memory) T(std::forward<A>(p_args)...);
        }
    } catch (...) {
        ReleaseFailedConstruction(memory);
        throw;
    }
    Private::NodeCounts* const counts = Private::NodeCounts::For(memory);
    Ptr<T> result(counts->Own(object));
    Node& node = *object;
    node._self = result;
    node._typeId = typeId;
    node.Modifiable<0>::_keepsNodeTouch = KeepsNodeTouch<T>::value;
    node.Modifiable<0>::_keepsNodeName = KeepsNodeName<T>::value;
    node.Modifiable<0>::_keepsNodeTime = KeepsNodeTime<T>::value;
    node.Modifiable<0>::_keepsNodeDeps = KeepsNodeDeps<T>::value;
    return result;
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

/// The node line: "id(..) name(..) type.id(..) type(..) ", without a line end.
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::Node const& p_node);
QELCORE_API std::ostream& operator<<(std::ostream& p_stream,
                                     Qel::Chart::Core::Ptr<Qel::Chart::Core::Node> const& p_node);

#endif
