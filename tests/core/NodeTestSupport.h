// Nodes that log their touches, minimal property, reference and modifiable
// objects, and a way to reach private table members.
#ifndef QEL_TESTS_CORE_NODETESTSUPPORT_H
#define QEL_TESTS_CORE_NODETESTSUPPORT_H

#include <Node.h>
#include <NodeAccess.h>

#include "TestSupport.h"

#include <boost/shared_ptr.hpp>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
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

/// Each `TouchThis` a `RecordingNode` received as receiver, relationship (S, E,
/// I), originator ("-" if none) and change (ECARDF): "aS-:F xEa:F".
struct TouchLog {
    std::string trail;
    std::vector<std::pair<IModifiable::ModifiableType, std::string>> typesAndNames;
};

/// A node that logs every `TouchThis` under its label; a hook runs first and
/// returning false skips the node's own handling (the hook may have ended it).
class RecordingNode : public Node {
public:
    using Hook = std::function<bool(IModifiable::Relationship, IModifiable::Change)>;
    explicit RecordingNode(std::string p_label = "", TouchLog* p_log = nullptr)
        : _label(std::move(p_label)), _log(p_log) {}
    std::string const Name() const override { return _label; }
    void SetHook(Hook p_hook) { _hook = std::move(p_hook); }
    unsigned Stamp() const { return Time().Counter(); }
    void CallTouchThis(IModifiable::Change p_change, IModifiable::Relationship p_relationship,
                       WeakPtr<Node> const& p_originator) {
        TouchThis(IModifiable::TypeProperty, p_change, p_relationship, p_originator, "width", boost::any());
    }

protected:
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override {
        if (_log != nullptr) {
            _log->trail += (_log->trail.empty() ? "" : " ") + _label + "SEI"[relationship] +
                           (p_originator.Expired() ? "-" : p_originator.Lock()->Name()) + ":" + "ECARDF"[change];
            _log->typesAndNames.emplace_back(type, name);
        }
        Hook const hook = _hook;  // a copy outlives the node should the hook end it
        if (!hook || hook(relationship, change)) {
            Node::TouchThis(type, change, relationship, p_originator, name, value);
        }
    }

private:
    std::string _label;
    TouchLog* _log;
    Hook _hook;
};

/// A property with a fixed text, registered on `p_owner` when given.
class TestProperty : public IProperty {
public:
    TestProperty(Node* p_owner, std::string p_name, bool p_defined = true, std::string p_text = "")
        : _name(std::move(p_name)), _defined(p_defined), _text(std::move(p_text)) {
        if (p_owner != nullptr) {
            RegisterOn(*p_owner, *this);
        }
    }
    std::string const Name() const override { return _name; }
    bool IsValueDefined() const override { return _defined; }
    void ResetValue() override {}
    std::type_info const& Type() const override { return typeid(std::string); }
    void Touch() override {}
    boost::any GetValue() const override { return _text; }
    void SetValue(boost::any const&) override {}
    std::string GetValueAsStringDebug() const override { return _text; }

private:
    std::string _name;
    bool _defined;
    std::string _text;
};

/// A reference to nothing that dumps as one line with its name and verbosity; also
/// a modifiable that is no dependency tracker, alive until `Expire()`.
class TestRef : public IExplicitRef {
public:
    explicit TestRef(Node* p_owner = nullptr, std::string p_name = "", bool p_list = false)
        : _anchor(static_cast<IModifiable*>(this), [](IModifiable*) {}), _name(std::move(p_name)), _list(p_list) {
        if (p_owner != nullptr) {
            RegisterOn(*p_owner, *this);
        }
    }
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {
        ++touches;
    }
    Identifier Id() const override { return Identifier(nullAddress ? nullptr : const_cast<TestRef*>(this), _anchor); }
    TimeStamp const Time() const override { return TimeStamp(); }
    std::string const Name() const override { return _name; }
    void Attach(Ptr<Node> const&) override {}
    void Detach(Ptr<Node> const&) override {}
    void Clear() override {}
    bool IsRefList() const override { return _list; }
    std::vector<Ptr<Node>> GetReferencees() const override { return {}; }
    void Dump(std::ostream& p_stream, Verbosity p_verbosity, int p_indent) const override {
        p_stream << std::string(static_cast<std::size_t>(p_indent), '\t') << "[" << _name << " v"
                 << static_cast<int>(p_verbosity) << "]\n";
    }
    void Expire() { _anchor.reset(); }
    int touches = 0;
    bool nullAddress = false;  // when set its identifier names no object

private:
    boost::shared_ptr<IModifiable> _anchor;
    std::string _name;
    bool _list;
};
using TestModifiable = TestRef;

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
