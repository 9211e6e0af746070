// Node classes and helpers shared by the tests of watchers, properties,
// composites, references and the accessors.
#ifndef QEL_TESTS_CORE_WATCHTESTSUPPORT_H
#define QEL_TESTS_CORE_WATCHTESTSUPPORT_H

#include "IModifiable.h"
#include "Node.h"
#include "Ptr.h"
#include "TestSupport.h"
#include "TimeStamp.h"

#include <gtest/gtest.h>

#include <boost/any.hpp>

#include <functional>
#include <string>
#include <vector>

namespace qelwatchtest {

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::TimeStamp;
using Qel::Chart::Core::WeakPtr;
using IM = IModifiable;  // short for the enumerations in touch checks

/// Both fail policies, for checks whose report may return.
constexpr qeldebug::failpolicy kPolicies[] = {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning};

/// One `TouchThis` as a recorder saw it. A `Ptr<Node>` payload is kept as a
/// raw `Node const*` so that records never keep a node alive.
struct TouchRecord {
    IModifiable::ModifiableType _type;
    IModifiable::Change _change;
    IModifiable::Relationship _relationship;
    Node const* _originator;  // null when the originator had expired or was empty
    std::string _name;
    boost::any _value;
};

inline TouchRecord MakeTouch(IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                             IModifiable::Relationship p_relationship, WeakPtr<Node> const& p_originator,
                             std::string const& p_name, boost::any const& p_value) {
    TouchRecord touch{p_type, p_change, p_relationship, p_originator.Weak().lock().get(), p_name, p_value};
    if (Ptr<Node> const* node = boost::any_cast<Ptr<Node>>(&p_value)) {
        touch._value = static_cast<Node const*>(node->Get());
    }
    return touch;
}

/// Whether `p_touch` is the touch described by the other arguments.
inline ::testing::AssertionResult IsTouch(TouchRecord const& p_touch, IModifiable::ModifiableType p_type,
                                          IModifiable::Change p_change, IModifiable::Relationship p_relationship,
                                          Node const* p_originator, std::string const& p_name) {
    if (p_touch._type == p_type && p_touch._change == p_change && p_touch._relationship == p_relationship &&
        p_touch._originator == p_originator && p_touch._name == p_name) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "received " << p_touch._type << " " << p_touch._change << " "
                                         << p_touch._relationship << " originator " << p_touch._originator << " name '"
                                         << p_touch._name << "'";
}

/// A node without anything of its own.
class PlainNode : public Node {};

/// A node that records every touch it receives, then reacts as a node does.
class RecordingNode : public Node {
public:
    void TouchThis(IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                   IModifiable::Relationship p_relationship, WeakPtr<Node> const& p_originator,
                   std::string const& p_name, boost::any const& p_value) override {
        _touches.push_back(MakeTouch(p_type, p_change, p_relationship, p_originator, p_name, p_value));
        if (_onTouch) {
            _onTouch();
        }
        Node::TouchThis(p_type, p_change, p_relationship, p_originator, p_name, p_value);
    }

    std::vector<TouchRecord> _touches;
    std::function<void()> _onTouch;  ///< runs inside each touch, before the node stamps itself
};

/// Makes `p_dependent` a dependent of `p_dependency`: changes of the latter reach the former.
inline void Link(Node& p_dependency, Node const& p_dependent) { p_dependency.Deps().Insert(p_dependent); }

/// `p_stamp` after `p_touches` more touches.
inline TimeStamp Advanced(TimeStamp p_stamp, int p_touches = 1) {
    for (int i = 0; i < p_touches; ++i) {
        p_stamp.Touch();
    }
    return p_stamp;
}

/// An owner of type `T` with one recording dependent.
template <class T>
struct Watched {
    Ptr<T> _owner = Node::Create<T>();
    Ptr<RecordingNode> _dependent = Node::Create<RecordingNode>();
    Watched() { Link(*_owner, *_dependent); }
};

/// A modifiable whose identity has expired, like an object whose node is gone.
class OrphanModifiable : public Qel::Chart::Core::Modifiable<1> {
public:
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {}
    Identifier Id() const override { return Identifier(const_cast<OrphanModifiable*>(this), {}); }
    TimeStamp const Time() const override { return TimeStamp(); }
    std::string const Name() const override { return "orphan"; }
};

/// What a handle reports when it is given an expired identity.
inline char const* const kExpiredText =
    "\"!p_id.Expired() && \"Cannot pass an expired pointer\"\" - __cdecl "
    "Qel::Chart::Core::ModifiablePtr::ModifiablePtr(class Qel::Chart::Core::IModifiable::Identifier)";

/// The raw pointers of `p_nodes`, for readable comparisons.
inline std::vector<Node*> Raw(std::vector<Ptr<Node>> const& p_nodes) {
    std::vector<Node*> raw;
    for (Ptr<Node> const& node : p_nodes) {
        raw.push_back(node.Get());
    }
    return raw;
}

}  // namespace qelwatchtest

#endif
