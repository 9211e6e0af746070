// Nodes that log their touches and a way to reach private table members.
#ifndef QEL_TESTS_CORE_NODETESTSUPPORT_H
#define QEL_TESTS_CORE_NODETESTSUPPORT_H

#include <ExplicitRef.h>
#include <Node.h>
#include <NodeAccess.h>
#include <Property.h>

#include "TestSupport.h"

#include <functional>
#include <string>
#include <vector>

namespace graphtest {

using namespace Qel::Chart::Core;
using Qel::Chart::Core::Accessors::NodeAccess;
using qeldebug::capture;
using qeldebug::failpolicy;
using qeldebug::reportkind;
using qeltest::CheckFailure;
using Names = std::vector<std::string>;
using Addresses = std::vector<IModifiable const*>;

// An explicit instantiation may name private members: this one stores the member pointer in the tag.
template <class Tag, typename Tag::Type Member>
struct PrivateMember {
    static inline bool const stored = (Tag::pointer = Member, true);
};
template <class T>
struct MemberTag {
    using Type = T;
    static inline Type pointer = nullptr;
};

inline int UniqueIdOf(Ptr<Node> const& p_node) { return NodeAccess(p_node).UniqueId(); }
inline unsigned short TypeIdOf(Ptr<Node> const& p_node) { return NodeAccess(p_node).TypeId(); }

/// A node that logs every `TouchThis` as its label, relationship (S, E, I),
/// originator ("-" if none), change (ECARDF), type and name: "aS-:F0a xEa:F0a".
class RecordingNode : public Node {
public:
    explicit RecordingNode(std::string p_label = "", std::string* p_log = nullptr)
        : label(std::move(p_label)), log(p_log) {}
    std::string const Name() const override { return label; }
    void CallTouchThis(Change p_change, Relationship p_relationship, WeakPtr<Node> const& p_originator) {
        TouchThis(TypeProperty, p_change, p_relationship, p_originator, "width", boost::any());
    }
    ~RecordingNode() override {
        if (touchWhenDestroyed) {
            Touch();
        }
    }
    std::function<void()> onForce;  // runs before the node handles a Force
    bool touchWhenDestroyed = false;
    std::string const label;
    std::string* const log;

protected:
    void TouchThis(ModifiableType type, Change change, Relationship relationship, WeakPtr<Node> const& p_originator,
                   std::string const& name, boost::any const& value) override {
        if (log != nullptr) {
            *log += (log->empty() ? "" : " ") + label + "SEI"[relationship] +
                    (p_originator.Expired() ? "-" : p_originator.Lock()->Name()) + ":" + "ECARDF"[change] +
                    std::to_string(type) + name;
        }
        if (change == Force && onForce) {
            onForce();
        }
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }
};

/// The nodes in `p_to` depend on `p_from`, in that order.
inline void Link(Ptr<RecordingNode> const& p_from, std::initializer_list<Ptr<RecordingNode>> p_to) {
    for (auto const& to : p_to) {
        p_from->Deps().Insert(*to);
    }
}

/// The addresses named by a list's entries, in order.
inline Addresses Entries(Dependencies const& p_list) {
    Addresses result;
    for (IModifiable::Identifier const* e = p_list.Begin(); e != p_list.End(); ++e) {
        result.push_back(e->Address());
    }
    return result;
}

}  // namespace graphtest

#endif
