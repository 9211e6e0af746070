#include "NodeAccess.h"

#include "../WatchTestSupport.h"
#include "ExplicitRef.h"
#include "Property.h"

#include <list>

using namespace Qel::Chart::Core;
using namespace Qel::Chart::Core::Accessors;
using namespace qelwatchtest;

namespace {

class FullNode : public RecordingNode {
public:
    FullNode() : _a(*this, "a", 1), _parent(*this, "parent"), _children(*this, "children") {}
    Property<int> _a;
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

}  // namespace

TEST(NodeAccessTest, NamesShortLongAndTooLong) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    NodeAccess access(node);
    EXPECT_EQ(NameOf(access), "") << "GetName overwrites what the string held";
    for (std::string const& name :
         {std::string("thirteen-char"), std::string("fourteen-chars"), std::string(99, 'q')}) {
        access.SetName(name);
        EXPECT_EQ(NameOf(access), name);
        EXPECT_EQ(node->Name(), name);
    }
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(access.SetName(std::string(65536, 'n')), qeldebug::check_failed);
        EXPECT_FALSE(qeltest::OfKind(cap, qeldebug::reportkind::ensure).empty());
        EXPECT_EQ(NameOf(access), std::string(99, 'q')) << "the old name is kept";
    }
    Ptr<RenamedNode> renamed = Node::Create<RenamedNode>();
    NodeAccess(renamed).SetName("stored");
    EXPECT_EQ(NameOf(NodeAccess(renamed)), "stored") << "the stored name, not the virtual Name()";
}

TEST(NodeAccessTest, NameAndTagAreStoredSilentlyTouchPropagates) {
    Watched<RecordingNode> f;
    NodeAccess access(f._owner);
    unsigned int tag = 12345;
    access.GetUserTag(tag);
    EXPECT_EQ(tag, 4294967295u);
    access.SetUserTag(7);
    NodeAccess(f._owner).GetUserTag(tag);
    EXPECT_EQ(tag, 7u) << "stored in the node, not the accessor";
    access.SetName("touched");
    EXPECT_EQ(f._owner->Time(), TimeStamp());
    EXPECT_TRUE(f._owner->_touches.empty() && f._dependent->_touches.empty());

    access.Touch();
    EXPECT_EQ(f._owner->Time(), Advanced(TimeStamp())) << "one touch";
    ASSERT_EQ(f._owner->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(f._owner->_touches[0], IM::TypeNode, IM::Force, IM::Self, nullptr, "touched"));
    EXPECT_TRUE(f._owner->_touches[0]._value.empty());
    ASSERT_EQ(f._dependent->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(f._dependent->_touches[0], IM::TypeNode, IM::Force, IM::Explicit, f._owner.Get(), "touched"));
}

TEST(NodeAccessTest, ListsOfTheNodesOwnObjectsKeepItAlive) {
    Ptr<PlainNode> plain = Node::Create<PlainNode>();
    EXPECT_TRUE(NodeAccess(plain).GetProperties().empty());
    EXPECT_TRUE(NodeAccess(plain).GetExplicitRefs().empty());
    EXPECT_TRUE(NodeAccess(plain).Type() == Qel::Chart::Utility::TypeInfo(typeid(PlainNode)));

    Ptr<FullNode> node = Node::Create<FullNode>();
    WeakPtr<FullNode> weak(node);
    std::list<PropertyAccess> properties = NodeAccess(node).GetProperties();
    std::list<ExplicitRefAccess> refs = NodeAccess(node).GetExplicitRefs();
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs.front().Name(), "parent") << "in registration order";
    EXPECT_EQ(refs.back().Name(), "children");
    EXPECT_TRUE(refs.back().IsRefList()) << "the node's own objects";
    NodeAccess held(node);
    EXPECT_TRUE(held.Type() == Qel::Chart::Utility::TypeInfo(typeid(FullNode))) << "the dynamic class";
    node = Ptr<FullNode>();
    EXPECT_FALSE(weak.Expired());
    EXPECT_EQ(properties.front().Name(), "a");

    NodeAccess other(plain);
    held = other;  // the old node loses this reference
    properties.clear();
    EXPECT_FALSE(weak.Expired()) << "the reference accessors still hold it";
    refs.clear();
    EXPECT_TRUE(weak.Expired());

    held = held;
    EXPECT_EQ(NodeAccess(held).UniqueId(), other.UniqueId()) << "self-assignment is harmless";
}
