// Everything whose changes the library tracks, and the vocabulary of changes.
#ifndef QEL_CORE_IMODIFIABLE_H
#define QEL_CORE_IMODIFIABLE_H

#include "DebugStream.h"
#include "Ptr.h"
#include "QelCoreExport.h"
#include "Subscription.h"
#include "TimeStamp.h"

#include "LightArray.h"

#include <boost/any.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <ostream>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {

class Node;
class ExplicitRefBase;
class ExplicitRef;
class ExplicitRefList;
template <class T>
class Property;

/// An object that can be told it changed (`TouchThis`), names itself by a
/// weak identity (`Id`) and shows a stamp that moves on every change (`Time`).
class QELCORE_API IModifiable {
public:
    // The three enumerations are held as 32-bit ints: every int is a value of
    // them (values outside the tables print as empty parentheses).

    /// What happened.
    enum Change : std::int32_t { Edit = 0, Clear = 1, Add = 2, Remove = 3, Deallocate = 4, Force = 5 };
    /// The kind of object in which the change arose; client kinds from `TypeUser` on.
    enum ModifiableType : std::int32_t { TypeNode = 0, TypeProperty = 1, TypeExplicitRef = 2, TypeUser = 1000 };
    /// How the receiver of a `TouchThis` stands to the change.
    enum Relationship : std::int32_t { Self = 0, Explicit = 1, Implicit = 2 };

    /// Names a modifiable object without owning it, and tells whether the
    /// node that owns the object still lives. Compared by object address only.
    class QELCORE_API Identifier {
    public:
        /// Empty: expired, no identity.
        Identifier() noexcept : _modifiable(nullptr), _lifetime() {}
        /// The object at `p_modifiable`, alive while `p_lifetime` has owners.
        Identifier(IModifiable* p_modifiable, boost::weak_ptr<IModifiable> const& p_lifetime) noexcept
            : _modifiable(p_modifiable), _lifetime(p_lifetime) {}

        /// True when the lifetime is empty or its owners are gone.
        bool Expired() const noexcept { return _lifetime.expired(); }
        /// The object while it lives, otherwise null. Takes no strong reference.
        IModifiable* Get() const noexcept { return Expired() ? nullptr : _modifiable; }
        /// The address this identifier was made for, expired or not.
        IModifiable* Address() const noexcept { return _modifiable; }
        boost::weak_ptr<IModifiable> const& Lifetime() const noexcept { return _lifetime; }

        bool operator<(Identifier const& p_other) const noexcept {
            return reinterpret_cast<std::uintptr_t>(_modifiable) <
                   reinterpret_cast<std::uintptr_t>(p_other._modifiable);
        }
        bool operator==(Identifier const& p_other) const noexcept { return !(*this < p_other) && !(p_other < *this); }
        bool operator!=(Identifier const& p_other) const noexcept { return !(*this == p_other); }

    private:
        IModifiable* _modifiable;
        boost::weak_ptr<IModifiable> _lifetime;
    };

    virtual ~IModifiable();

    /// The object is told about a change. `p_originator` is the node from
    /// which a propagated change started (empty for `Self`), `name` the name
    /// of the object in which it arose, `value` an optional payload.
    virtual void TouchThis(ModifiableType type, Change change, Relationship relationship,
                           WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) = 0;
    virtual Identifier Id() const = 0;
    virtual TimeStamp const Time() const = 0;
};

/// The common base of the library's modifiables. `N` is the `ModifiableType`
/// that the object reports in the changes it sends.
template <int N>
class QELCORE_API Modifiable : public IModifiable {
public:
    Modifiable() noexcept
        : _deallocated(false),
          _subscribed(false),
          _keepsNodeTouch(false),
          _keepsNodeName(false),
          _keepsNodeTime(false),
          _keepsNodeDeps(false),
          _holdsKept(false) {}
    /// Copies the deallocated flag; subscriptions stay with the original.
    Modifiable(Modifiable const& p_other) noexcept
        : IModifiable(p_other),
          _deallocated(p_other._deallocated),
          _subscribed(false),
          _keepsNodeTouch(false),
          _keepsNodeName(false),
          _keepsNodeTime(false),
          _keepsNodeDeps(false),
          _holdsKept(false) {}
    Modifiable& operator=(Modifiable const& p_other) noexcept {
        _deallocated = p_other._deallocated;
        return *this;
    }
    /// Ends the object's subscriptions, if it ever had any.
    ~Modifiable() override {
        if (_subscribed) {
            Private::EndSubscriptions(SubscriptionKey());
        }
    }

    /// The object's name in change notifications.
    virtual std::string const Name() const = 0;

    /// A change without further detail: `TouchSelf(Force, <empty payload>)`.
    void Touch() { TouchSelf(Force, boost::any()); }

    /// True once the object has announced its own deallocation.
    bool IsDeallocated() const noexcept { return _deallocated; }

private:
    friend class Node;
    friend class ExplicitRefBase;
    friend class ExplicitRef;
    friend class ExplicitRefList;
    template <class T>
    friend class Property;

    // The key of the object's subscribers in the side table that holds them.
    void const* SubscriptionKey() const noexcept { return this; }

    // Turns a change of this object into a `TouchThis` on itself, unless the
    // object already announced its deallocation: then only a warning is written.
    void TouchSelf(Change p_change, boost::any const& p_value) {
        if (_deallocated) {
            Utility::GetLogger().derr("") << "WARNING : Event propagation after node is deallocated!" << std::endl;
        } else {
            std::string const name = Name();
            TouchThis(static_cast<ModifiableType>(N), p_change, Self, WeakPtr<Node>(), name, p_value);
        }
        if (p_change == Deallocate) {
            _deallocated = true;
        }
    }

    bool _deallocated : 1;
    // Set by the first subscription and cleared by the first dispatch that
    // finds none: it shares the byte of `_deallocated`, so objects keep their
    // size, and without it a touch never looks at the subscriber table.
    bool _subscribed : 1;
    // Set by Node::Create for a class that takes Node's TouchThis, and its
    // Name, as they are: the walk and the deleter then do their steps
    // without the calls. In this byte, a walk reads them with the flags it
    // reads anyway.
    bool _keepsNodeTouch : 1;
    bool _keepsNodeName : 1;
    // Likewise for Node's Time and both of its Deps: a watcher then reads the
    // stamp, and a walk the list, in place.
    bool _keepsNodeTime : 1;
    bool _keepsNodeDeps : 1;
    // Set on a node that holds something until its deletion (a loaded
    // model's other nodes): the deleter then looks in the table that holds it.
    bool _holdsKept : 1;
};

}  // namespace Core

namespace Utility {
// An address and a weak count: nothing points into an identifier, so lists of
// them may move byte for byte.
template <>
struct IsTriviallyRelocatable<Core::IModifiable::Identifier> : std::true_type {};
}  // namespace Utility

}  // namespace Chart
}  // namespace Qel

/// "change(edit)" and so on; a value outside the table prints "change()".
QELCORE_API std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::IModifiable::Change const& p_change);
/// "type(node)", "type(user=1002)"; an invalid value prints "type()".
QELCORE_API std::ostream& operator<<(std::ostream& p_stream,
                                     Qel::Chart::Core::IModifiable::ModifiableType const& p_type);
/// "relationship(self)" and so on; a value outside the table prints "relationship()".
QELCORE_API std::ostream& operator<<(std::ostream& p_stream,
                                     Qel::Chart::Core::IModifiable::Relationship const& p_relationship);

#endif
