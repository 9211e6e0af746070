#include "NodeAccess.h"

#include "../WatchTestSupport.h"
#include "ExplicitRef.h"
#include "Property.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <list>
#include <string>
#include <vector>

using namespace Qel::Chart::Core;
using namespace Qel::Chart::Core::Accessors;
using qelwatchtest::Advanced;
using qelwatchtest::IsTouch;
using qelwatchtest::PlainNode;
using qelwatchtest::RecordingNode;

namespace {

class FullNode : public RecordingNode {
public:
    FullNode()
        : _a(*this, "a", 1),
          _b(*this, "b", 2),
          _c(*this, "c", 3),
          _parent(*this, "parent"),
          _children(*this, "children") {}
    Property<int> _a;
    Property<int> _b;
    Property<int> _c;
    ExplicitRef _parent;
    ExplicitRefList _children;
};

// A client class that shows a name of its own making.
class RenamedNode : public Node {
public:
    std::string const Name() const override { return "made-up"; }
};

std::string NameOf(NodeAccess const& p_access) {
    std::string name = "previous contents";
    p_access.GetName(name);
    return name;
}

unsigned int TagOf(NodeAccess const& p_access) {
    unsigned int tag = 12345;
    p_access.GetUserTag(tag);
    return tag;
}

struct LastWords {
    bool _deallocated = false;
    bool _stampKept = false;
};

// Touches itself through an accessor from its destructor, when its
// Deallocate has already gone out. No Ptr owns it any more, so the accessor
// gets one that owns nothing.
class SelfTouchingNode : public Node {
public:
    explicit SelfTouchingNode(LastWords& p_words) : _words(p_words) {}
    ~SelfTouchingNode() override {
        Ptr<Node> const alias(boost::shared_ptr<Node>(this, [](Node*) {}));
        TimeStamp const before = Time();
        NodeAccess(alias).Touch();
        _words._deallocated = IsDeallocated();
        _words._stampKept = Time() == before;
    }

private:
    LastWords& _words;
};

}  // namespace

TEST(NodeAccessTest, IdentityAndType) {
    NodeAccess a(Node::Create<PlainNode>()), b(Node::Create<PlainNode>()), c(Node::Create<FullNode>());
    EXPECT_GT(b.UniqueId(), a.UniqueId());
    EXPECT_GT(c.UniqueId(), b.UniqueId());
    EXPECT_EQ(a.TypeId(), b.TypeId());
    EXPECT_NE(a.TypeId(), c.TypeId());
    EXPECT_NE(a.TypeId(), 0xFFFF) << "creation records the type";
    EXPECT_TRUE(a.Type() == Qel::Chart::Utility::TypeInfo(typeid(PlainNode)));
    EXPECT_TRUE(c.Type() == Qel::Chart::Utility::TypeInfo(typeid(FullNode)));
}

TEST(NodeAccessTest, NamesShortAndLong) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    NodeAccess access(node);
    EXPECT_EQ(NameOf(access), "") << "GetName overwrites what the string held";
    for (std::string const& name : std::vector<std::string>{"thirteen-char", "fourteen-chars", std::string(99, 'q')}) {
        access.SetName(name);
        EXPECT_EQ(NameOf(access), name);
        EXPECT_EQ(node->Name(), name);
    }
    Ptr<RenamedNode> renamed = Node::Create<RenamedNode>();
    NodeAccess(renamed).SetName("stored");
    EXPECT_EQ(NameOf(NodeAccess(renamed)), "stored") << "the stored name, not the virtual Name()";
}

TEST(NodeAccessTest, ANameTooLongIsRefusedAndTheOldOneKept) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    NodeAccess access(node);
    access.SetName("a name beyond thirteen characters");
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(access.SetName(std::string(65536, 'n')), qeldebug::check_failed);
        EXPECT_FALSE(qeltest::OfKind(cap, qeldebug::reportkind::ensure).empty());
        EXPECT_EQ(NameOf(access), "a name beyond thirteen characters");
    }
}

TEST(NodeAccessTest, NameAndTagAreStoredSilentlyTouchPropagates) {
    Ptr<RecordingNode> node = Node::Create<RecordingNode>();
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    qelwatchtest::Link(*node, *dependent);
    NodeAccess access(node);
    EXPECT_EQ(TagOf(access), 4294967295u);
    access.SetUserTag(7);
    EXPECT_EQ(TagOf(NodeAccess(node)), 7u) << "stored in the node, not the accessor";
    access.SetName("touched");
    EXPECT_EQ(node->Time(), TimeStamp());
    EXPECT_TRUE(node->_touches.empty() && dependent->_touches.empty());

    access.Touch();
    EXPECT_EQ(node->Time(), Advanced(TimeStamp())) << "one touch";

    ASSERT_EQ(node->_touches.size(), 1u);
    EXPECT_TRUE(
        IsTouch(node->_touches[0], IModifiable::TypeNode, IModifiable::Force, IModifiable::Self, nullptr, "touched"));
    EXPECT_TRUE(node->_touches[0]._value.empty());
    ASSERT_EQ(dependent->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(dependent->_touches[0], IModifiable::TypeNode, IModifiable::Force, IModifiable::Explicit,
                        node.Get(), "touched"));
}

TEST(NodeAccessTest, TouchOfADeallocatedNodeOnlyWarns) {
    LastWords words;
    Ptr<SelfTouchingNode> node = Node::Create<SelfTouchingNode>(words);
    qeldebug::capture cap;
    node = Ptr<SelfTouchingNode>();
    EXPECT_TRUE(words._deallocated);
    EXPECT_TRUE(words._stampKept);
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::derr),
              std::vector<std::string>{"WARNING : Event propagation after node is deallocated!"});
}

TEST(NodeAccessTest, PropertiesAndReferencesInRegistrationOrder) {
    Ptr<PlainNode> plain = Node::Create<PlainNode>();
    EXPECT_TRUE(NodeAccess(plain).GetProperties().empty());
    EXPECT_TRUE(NodeAccess(plain).GetExplicitRefs().empty());

    Ptr<FullNode> node = Node::Create<FullNode>();
    NodeAccess access(node);
    std::vector<std::string> properties;
    for (PropertyAccess const& p : access.GetProperties()) {
        properties.push_back(p.Name());
    }
    EXPECT_EQ(properties, (std::vector<std::string>{"a", "b", "c"}));
    std::list<ExplicitRefAccess> const refs = access.GetExplicitRefs();
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs.front().Name(), "parent");
    EXPECT_EQ(refs.back().Name(), "children");
    EXPECT_TRUE(refs.back().IsRefList()) << "the node's own objects";
}

TEST(NodeAccessTest, AccessorsKeepTheNodeAlive) {
    Ptr<FullNode> node = Node::Create<FullNode>();
    WeakPtr<FullNode> weak(node);
    std::list<PropertyAccess> properties = NodeAccess(node).GetProperties();
    std::list<ExplicitRefAccess> refs = NodeAccess(node).GetExplicitRefs();
    NodeAccess held(node);
    node = Ptr<FullNode>();
    EXPECT_FALSE(weak.Expired());
    EXPECT_EQ(properties.front().Name(), "a");

    NodeAccess other(Node::Create<PlainNode>());
    held = other;  // the old node loses this reference
    properties.clear();
    EXPECT_FALSE(weak.Expired()) << "the reference accessors still hold it";
    refs.clear();
    EXPECT_TRUE(weak.Expired());

    held = held;
    EXPECT_EQ(NodeAccess(held).UniqueId(), other.UniqueId()) << "self-assignment is harmless";
}
