#include "CompositePropertyBase.h"

#include "ModificationWatcher.h"
#include "Property.h"
#include "WatchTestSupport.h"

using namespace Qel::Chart::Core;
using namespace qelwatchtest;

namespace {

class Composite : public CompositePropertyBase {
public:
    Composite(Node& p_node, std::string const& p_name) : CompositePropertyBase(p_node, p_name) {}
    Composite(CompositePropertyBase& p_enclosing, std::string const& p_name)
        : CompositePropertyBase(p_enclosing, p_name) {}
    using CompositePropertyBase::AddPart;
    using CompositePropertyBase::BaseName;
    using CompositePropertyBase::Parent;
};

// Name() is private in the composite; the public slot is its base's.
std::string FullName(Modifiable<1> const& p_modifiable) { return p_modifiable.Name(); }

// A part that records its touches, in a log shared with its node.
class ProbePart : public Modifiable<1> {
public:
    ProbePart(Node const& p_owner, std::string p_name, std::vector<std::string>& p_log)
        : _owner(p_owner), _name(std::move(p_name)), _log(p_log) {}
    void TouchThis(ModifiableType p_type, Change p_change, Relationship p_relationship,
                   WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value) override {
        _log.push_back(_name);
        _touches.push_back(MakeTouch(p_type, p_change, p_relationship, p_originator, p_name, p_value));
        _time.Touch();
    }
    Identifier Id() const override {
        return Identifier(const_cast<ProbePart*>(this), static_cast<IModifiable const&>(_owner).Id().Lifetime());
    }
    TimeStamp const Time() const override { return _time; }
    std::string const Name() const override { return _name; }

    std::vector<TouchRecord> _touches;

private:
    Node const& _owner;
    std::string _name;
    std::vector<std::string>& _log;
    TimeStamp _time;
};

class ShapeNode : public RecordingNode {
public:
    ShapeNode() : _x(*this, "pos.x", 0), _y(*this, "pos.y", 0), _pos(*this, "pos"), _inner(_pos, "x") {
        _pos.AddPart(_x);
        _pos.AddPart(_y);
        _onTouch = [this] { _log.push_back("node"); };
    }
    std::vector<std::string> _log;
    Property<int> _x;
    Property<int> _y;
    Composite _pos;
    Composite _inner;
    ProbePart _first{*this, "first", _log};
    ProbePart _second{*this, "second", _log};
};

}  // namespace

TEST(CompositePropertyTest, NamesAndIdentity) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    EXPECT_EQ(node->_pos.BaseName(), "pos.");
    EXPECT_EQ(FullName(node->_pos), "pos.");
    EXPECT_EQ(node->_inner.BaseName(), "pos.x.");
    EXPECT_EQ(FullName(node->_inner), "pos.x.");
    EXPECT_EQ(Composite(node->_inner, "z").BaseName(), "pos.x.z.");
    EXPECT_EQ(&node->_inner.Parent(), node.Get()) << "nested composites point at the node";

    IModifiable::Identifier const composite = node->_pos.Id(), owner = static_cast<IModifiable const&>(*node).Id();
    EXPECT_NE(composite, owner);
    EXPECT_EQ(composite.Get(), static_cast<IModifiable*>(&node->_pos));
    node = Ptr<ShapeNode>();
    EXPECT_TRUE(composite.Expired() && owner.Expired()) << "it expires with the node";
}

TEST(CompositePropertyTest, PartChangesAdvanceTheStampOncePerRead) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Composite bare(*node, "bare");
    TimeStamp const nodeBefore = node->Time();
    bare.Touch();
    EXPECT_EQ(bare.Time(), Advanced(TimeStamp())) << "without parts, only a touch moves the stamp";
    EXPECT_EQ(node->Time(), Advanced(nodeBefore)) << "the node received the touch";

    ModificationWatcher watcher{node->_pos};
    EXPECT_EQ(node->_pos.Time(), TimeStamp());
    node->Touch();
    EXPECT_EQ(node->_pos.Time(), TimeStamp()) << "a node touch is no part change";
    node->_x.Set(1);
    node->_y.Set(2);
    TimeStamp const after = node->_pos.Time();
    EXPECT_EQ(after, Advanced(TimeStamp(), 1)) << "two part changes, one advance";
    EXPECT_EQ(node->_pos.Time(), after) << "a second read sees no new change";
    EXPECT_TRUE(watcher.Modified());

    // A composite is a part like any other; its parts' changes show through it.
    Composite outer(*node, "outer");
    outer.AddPart(node->_pos);
    node->_y.Set(3);
    EXPECT_EQ(outer.Time(), Advanced(TimeStamp()));
    EXPECT_EQ(node->_pos.Time(), Advanced(after));
}

TEST(CompositePropertyTest, TouchGoesToThePartsThenTheCompositeThenTheNode) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    Link(*node, *dependent);
    Composite pair(*node, "pair");
    pair.AddPart(node->_first);
    pair.AddPart(node->_second);
    TimeStamp pairAtNode;
    struct DropHook {  // the hook reads locals that go before the node
        ShapeNode& _node;
        ~DropHook() { _node._onTouch = nullptr; }
    } dropHook{*node};
    node->_onTouch = [&] {
        node->_log.push_back("node");
        pairAtNode = pair.Time();
    };

    pair.Touch();
    EXPECT_EQ(node->_log, (std::vector<std::string>{"first", "second", "node"}));
    EXPECT_EQ(pairAtNode, Advanced(TimeStamp())) << "the composite stamped itself before the node heard";
    EXPECT_EQ(pair.Time(), pairAtNode) << "the parts' own advances were recorded";
    for (TouchRecord const& t : {node->_first._touches.at(0), node->_second._touches.at(0), node->_touches.at(0)}) {
        // The base name arrives, trailing dot included.
        EXPECT_TRUE(IsTouch(t, IM::TypeProperty, IM::Force, IM::Self, nullptr, "pair."));
        EXPECT_TRUE(t._value.empty());
    }
    ASSERT_EQ(dependent->_touches.size(), 1u) << "the node propagates as for any change";
    EXPECT_TRUE(IsTouch(dependent->_touches[0], IM::TypeProperty, IM::Force, IM::Explicit, node.Get(), "pair."));
}

TEST(CompositePropertyTest, TouchThisForwardsItsArgumentsUnchanged) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Composite twice(*node, "twice");
    twice.AddPart(node->_first);
    twice.AddPart(node->_first);
    static_cast<IModifiable&>(twice).TouchThis(IM::TypeUser, IM::Edit, IM::Self, WeakPtr<Node>(), "someone.else",
                                               boost::any(42));
    EXPECT_EQ(node->_log, (std::vector<std::string>{"first", "first", "node"})) << "a part watched twice";
    for (TouchRecord const& t : {node->_first._touches.at(1), node->_touches.at(0)}) {
        EXPECT_EQ(t._type, IM::TypeUser);
        EXPECT_EQ(t._change, IM::Edit);
        EXPECT_EQ(t._name, "someone.else") << "the composite does not put its own name in";
        EXPECT_EQ(boost::any_cast<int>(t._value), 42);
    }
}

TEST(CompositePropertyTest, APartWithAnExpiredIdentityIsRefused) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Composite pair(*node, "pair");
    OrphanModifiable orphan;
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(pair.AddPart(orphan), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kExpiredText});
    }
    pair.Touch();
    EXPECT_EQ(node->_touches.size(), 1u) << "the composite works on without it";
    EXPECT_EQ(pair.Time(), Advanced(TimeStamp())) << "and without a dead handle";
}
