#include "CompositePropertyBase.h"

#include "ExpectedReports.h"
#include "Property.h"
#include "WatchTestSupport.h"

using namespace qelwatchtest;

namespace {
class Composite : public CompositePropertyBase {
public:
    using CompositePropertyBase::AddPart;
    using CompositePropertyBase::BaseName;
    using CompositePropertyBase::CompositePropertyBase;
};

// A part that logs its touches with the name they carry; without an owner its identity is expired.
class ProbePart : public Modifiable<1> {
public:
    ProbePart(IModifiable const* p_owner, std::string p_name, std::vector<std::string>& p_log)
        : _owner(p_owner), _name(std::move(p_name)), _log(p_log) {}
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const& p_name,
                   boost::any const&) override {
        _log.push_back(_name + ":" + p_name);
        _time.Touch();
    }
    Identifier Id() const override {
        return _owner ? Identifier(const_cast<ProbePart*>(this), _owner->Id().Lifetime()) : Identifier();
    }
    TimeStamp const Time() const override { return _time; }
    std::string const Name() const override { return _name; }
    IModifiable const* _owner;
    std::string _name;
    std::vector<std::string>& _log;
    TimeStamp _time;
};

class ShapeNode : public RecordingNode {
public:
    void TouchThis(ModifiableType p_type, Change p_change, Relationship p_relationship,
                   WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value) override {
        _log.push_back("node:" + p_name);
        _posAtNode = _pos.Time();
        RecordingNode::TouchThis(p_type, p_change, p_relationship, p_originator, p_name, p_value);
    }
    std::vector<std::string> _log;
    TimeStamp _posAtNode;
    Property<int> _x{*this, "pos.x", 0};
    Property<int> _y{*this, "pos.y", 0};
    Composite _pos{*this, "pos"};
    ProbePart _first{this, "first", _log};
    ProbePart _second{this, "second", _log};
};
}  // namespace

TEST(CompositePropertyTest, BaseNamesEndInADotAndPartChangesAdvanceTheStampOncePerRead) {
    // The local objects end before their node, which is reported: keep it off the console.
    qeldebug::capture const endings;
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Composite inner(node->_pos, "x");
    EXPECT_EQ(Composite(inner, "z").BaseName(), "pos.x.z.");
    Composite pair(*node, "pair");  // away from _pos, which the node reads on every touch
    pair.AddPart(node->_x);
    pair.AddPart(node->_y);
    node->Touch();
    EXPECT_EQ(pair.Time(), TimeStamp()) << "a node touch is no part change";
    node->_x.Set(1);
    node->_y.Set(2);
    EXPECT_EQ(pair.Time().Counter(), 1u) << "two part changes, one advance";
    EXPECT_EQ(pair.Time().Counter(), 1u) << "a second read sees no new change";
}

// A part whose identity has expired is refused under either policy: the
// composite must not keep a dead handle to it.
TEST(CompositePropertyTest, TouchGoesToThePartsThenTheCompositeThenTheNodeAndAnExpiredPartIsRefused) {
    Ptr<ShapeNode> node = Node::Create<ShapeNode>();
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    node->Deps().Insert(*dependent);
    ProbePart orphan(nullptr, "orphan", node->_log);
    qeltest::ExpectRefused([&] { node->_pos.AddPart(orphan); }, qeldebug::reportkind::ensure, qeltest::kExpiredHandle);
    node->_pos.AddPart(node->_first);
    node->_pos.AddPart(node->_second);
    node->_pos.Touch();
    EXPECT_EQ(node->_log, (std::vector<std::string>{"first:pos.", "second:pos.", "node:pos."}));
    EXPECT_EQ(node->_posAtNode.Counter(), 1u) << "the composite stamped itself before the node heard";
    EXPECT_EQ(node->_pos.Time().Counter(), 1u) << "the parts' own advances were recorded";
    EXPECT_EQ(dependent->_touches,
              (std::vector<Heard>{{IM::TypeProperty, IM::Force, IM::Explicit, node.Get(), "pos."}}));
}
