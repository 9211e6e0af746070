// Node classes, minimal property and reference objects and a way to reach
// private table members, shared by the tests of dependency lists, tables and nodes.
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

// An explicit instantiation may name private members, so instantiating this
// with a member stores a pointer to it in the tag, where tests read it.
template <class Tag, typename Tag::Type Member>
struct PrivateMember {
    static inline bool const stored = (Tag::pointer = Member, true);
};
/// A tag for `PrivateMember`, holding a member pointer of type `T`.
template <class T>
struct MemberTag {
    using Type = T;
    static inline Type pointer = nullptr;
};

inline int UniqueIdOf(Ptr<Node> const& p_node) { return NodeAccess(p_node).UniqueId(); }
inline unsigned short TypeIdOf(Ptr<Node> const& p_node) { return NodeAccess(p_node).TypeId(); }

/// One `TouchThis` call as a `RecordingNode` received it; "-" for an empty or expired originator.
struct TouchRecord {
    std::string receiver;
    IModifiable::ModifiableType type;
    IModifiable::Change change;
    IModifiable::Relationship relationship;
    std::string originator;
    std::string name;
};
using TouchLog = std::vector<TouchRecord>;

/// One field of every record, in order.
template <class T>
std::vector<T> Column(TouchLog const& p_log, T TouchRecord::*p_field) {
    std::vector<T> result;
    for (TouchRecord const& r : p_log) {
        result.push_back(r.*p_field);
    }
    return result;
}
inline std::vector<std::string> Receivers(TouchLog const& p_log) { return Column(p_log, &TouchRecord::receiver); }

/// A node that logs every `TouchThis`, named by its label; a hook runs first
/// and returning false skips the node's own handling (the hook may have ended it).
class RecordingNode : public Node {
public:
    using Hook = std::function<bool(RecordingNode&, IModifiable::Relationship, IModifiable::Change)>;

    RecordingNode() = default;
    explicit RecordingNode(std::string p_label, TouchLog* p_log = nullptr) : _label(std::move(p_label)), _log(p_log) {}

    std::string const Name() const override { return _label; }
    void SetHook(Hook p_hook) { _hook = std::move(p_hook); }
    unsigned Stamp() const { return Time().Counter(); }

    void CallTouchThis(IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                       IModifiable::Relationship p_relationship, WeakPtr<Node> const& p_originator,
                       std::string const& p_name) {
        TouchThis(p_type, p_change, p_relationship, p_originator, p_name, boost::any());
    }

protected:
    void TouchThis(IModifiable::ModifiableType type, IModifiable::Change change, IModifiable::Relationship relationship,
                   WeakPtr<Node> const& p_originator, std::string const& name, boost::any const& value) override {
        if (_log != nullptr) {
            std::string const originator = p_originator.Expired() ? "-" : p_originator.Lock()->Name();
            _log->push_back(TouchRecord{_label, type, change, relationship, originator, name});
        }
        if (_hook) {
            Hook const hook = _hook;  // a copy outlives the node should the hook end it
            if (!hook(*this, relationship, change)) {
                return;
            }
        }
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }

private:
    std::string _label;
    TouchLog* _log = nullptr;
    Hook _hook;
};

/// A modifiable that is no dependency tracker, alive until `Expire()`; with
/// `p_nullAddress` its identifier names no object.
class TestModifiable : public IModifiable {
public:
    explicit TestModifiable(bool p_nullAddress = false)
        : _anchor(static_cast<IModifiable*>(this), [](IModifiable*) {}), _nullAddress(p_nullAddress) {}

    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {
        ++_touches;
    }
    Identifier Id() const override {
        return Identifier(_nullAddress ? nullptr : const_cast<TestModifiable*>(this), _anchor);
    }
    TimeStamp const Time() const override { return TimeStamp(); }
    void Expire() { _anchor.reset(); }
    int Touches() const { return _touches; }

private:
    boost::shared_ptr<IModifiable> _anchor;
    bool _nullAddress;
    int _touches = 0;
};

/// A property with a fixed text; registers itself when given an owner.
class TestProperty : public IProperty {
public:
    explicit TestProperty(std::string p_name, bool p_defined = true, std::string p_text = "text")
        : _name(std::move(p_name)), _defined(p_defined), _text(std::move(p_text)) {}
    TestProperty(Node& p_owner, std::string p_name, bool p_defined = true, std::string p_text = "text")
        : TestProperty(std::move(p_name), p_defined, std::move(p_text)) {
        RegisterOn(p_owner, *this);
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

/// A reference to nothing; its dump is one line with its name and verbosity.
class TestRef : public IExplicitRef {
public:
    explicit TestRef(std::string p_name, bool p_list = false) : _name(std::move(p_name)), _list(p_list) {}
    TestRef(Node& p_owner, std::string p_name, bool p_list = false) : TestRef(std::move(p_name), p_list) {
        RegisterOn(p_owner, *this);
    }

    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {}
    Identifier Id() const override { return Identifier(); }
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

private:
    std::string _name;
    bool _list;
};

/// The text of the `check_failed` that `p_action` throws; "<returned>" otherwise.
template <class F>
std::string CheckFailure(F&& p_action) {
    try {
        p_action();
    } catch (qeldebug::check_failed const& e) {
        return e.what();
    }
    return "<returned>";
}

/// Calls of operator new seen by `p_counter` (its `Allocations()` also counts its own reserve).
inline std::size_t NewCalls(qeltest::AllocationCounter const& p_counter) { return p_counter.Sizes().size(); }

/// The addresses named by a list's entries, in order.
inline std::vector<IModifiable const*> Entries(Dependencies const& p_list) {
    std::vector<IModifiable const*> result;
    for (IModifiable::Identifier const* e = p_list.Begin(); e != p_list.End(); ++e) {
        result.push_back(e->Address());
    }
    return result;
}

}  // namespace graphtest

#endif
