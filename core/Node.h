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
#include "TimeStamp.h"
#include "Verbosity.h"

#include "ChartUtility.h"
#include "LightString.h"
#include "QelThreads.h"

#include <boost/function.hpp>
#include <boost/noncopyable.hpp>

#include <cstddef>
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
class DependencyWalk;
class NodeInternals;
struct NodeDeleter;

/// Where the blocks come from that own nodes (the control blocks of the
/// owning `Ptr`s): a small per-thread cache of freed blocks in front of
/// `operator new`, so that creating and deleting nodes in a loop does not go
/// to the heap for them every time. At most 16 blocks per thread are kept.
struct QELCORE_API OwnerBlocks {
    static void* Allocate(std::size_t p_size);
    static void Release(void* p_block, std::size_t p_size) noexcept;
};

template <class U>
struct OwnerBlockAllocator {
    using value_type = U;
    OwnerBlockAllocator() noexcept = default;
    template <class V>
    OwnerBlockAllocator(OwnerBlockAllocator<V> const&) noexcept {}  // NOLINT: allocators convert implicitly
    // The standard allocator requirements name these two.
    U* allocate(std::size_t p_count) {  // NOLINT(readability-identifier-naming)
        return static_cast<U*>(OwnerBlocks::Allocate(p_count * sizeof(U)));
    }
    void deallocate(U* p_block, std::size_t p_count) noexcept {  // NOLINT(readability-identifier-naming)
        OwnerBlocks::Release(p_block, p_count * sizeof(U));
    }
    template <class V>
    bool operator==(OwnerBlockAllocator<V> const&) const noexcept {
        return true;
    }
    template <class V>
    bool operator!=(OwnerBlockAllocator<V> const&) const noexcept {
        return false;
    }
};
}  // namespace Private

/// The part of a node that gives it an identity: a do-nothing-deleter
/// anchor, made on the first `Id()`, whose release in the destructor expires
/// every identifier of the node.
class QELCORE_API ModifiableNode : public Modifiable<0> {
public:
    ModifiableNode() noexcept;
    ~ModifiableNode() override;
    IModifiable::Identifier Id() const override;

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
class QELCORE_API Node : public ModifiableNode, public IDependencyTracker, private boost::noncopyable {
public:
    /// Creates a `T` in memory from `Allocator`, owned by the returned `Ptr`
    /// whose deleter is `Deleter`. The first call for a class registers it
    /// (with a factory that calls `Create<T>()` when `T` is default-
    /// constructible). If `T`'s constructor throws, the memory goes back and
    /// every counter is as before.
    template <class T, class... A>
    static Ptr<T> Create(A&&... p_args);

    TimeStamp const Time() const override;
    std::string const Name() const override;
    Dependencies& Deps() override;
    Dependencies const& Deps() const override;

    /// A fresh node of the same class as `p_node`'s, made by the factory
    /// registered for its type id; nothing is copied from it.
    static Ptr<Node> CreateTypeOf(Ptr<Node> const& p_node);
    /// The node's most derived class.
    Utility::TypeInfo Type() const;

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

    /// Stamps the node; with `Self` it then walks the dependents, depth first
    /// and in list order, with `Explicit` for direct dependents, `Implicit`
    /// below, and this node as originator. Expired entries are skipped and
    /// their lists squeezed afterwards.
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
    friend class Private::DependencyWalk;
    friend class Private::NodeInternals;
    friend struct Private::NodeDeleter;
    friend void Private::ReportEndedEarly(Node const&, char const*) noexcept;

    static void* Allocator(std::size_t p_size);
    static void Deleter(Node* p_node);
    static unsigned short RegisterNodeType(std::type_info const& p_type, boost::function<Ptr<Node>()> const& p_factory);

    // The Self part of TouchThis: the originator check and the walk.
    __attribute__((noinline)) void StartWalk(IModifiable::ModifiableType type, IModifiable::Change change,
                                             WeakPtr<Node> const& p_originator, std::string const& name,
                                             boost::any const& value);

    // Announces the node's end to itself and its dependents (TouchSelf is
    // reachable from Node only).
    void SendDeallocate() { TouchSelf(IModifiable::Deallocate, boost::any()); }

    // Returns the memory of a node whose constructor threw.
    static void ReleaseFailedConstruction(void* p_memory) noexcept;

    template <class T>
    static unsigned short TypeIdOf();

    WeakPtr<Node> _self;
    Utility::LightString_Base<char> _name;
    PropertyMap _propertyMap;
    ExplicitRefMap _explicitRefMap;
    int _uniqueId;
    unsigned int _userTag;
    unsigned short _typeId;
    TimeStamp _time;
    Dependencies _deps;
};

namespace Private {
/// The deleter of every owning `Ptr`: `Node::Deleter`.
struct NodeDeleter {
    void operator()(Node* p_node) const noexcept { Node::Deleter(p_node); }
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
    void* memory = Allocator(sizeof(T));
    T* object = nullptr;
    try {
        object = ::new (memory) T(std::forward<A>(p_args)...);
    } catch (...) {
        ReleaseFailedConstruction(memory);
        throw;
    }
    // Should the control block fail to allocate, boost calls Deleter itself.
    Ptr<T> result(boost::shared_ptr<T>(object, Private::NodeDeleter(), Private::OwnerBlockAllocator<T>()));
    Node& node = *object;
    node._self = result;
    node._typeId = typeId;
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
