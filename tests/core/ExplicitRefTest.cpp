#include "ExplicitRef.h"

#include "WatchTestSupport.h"

using namespace qelwatchtest;

namespace {
class TreeNode : public Node {
public:
    ExplicitRef _parent{*this, "parent"};
    ExplicitRefList _children{*this, "children"};
};
}  // namespace

TEST(ExplicitRefTest, ReferencesKeepNothingAlive) {
    Ptr<TreeNode> owner = Node::Create<TreeNode>();
    Ptr<PlainNode> a = Node::Create<PlainNode>(), b = Node::Create<PlainNode>();
    owner->_parent.Attach(b);
    owner->_children.Attach(a);
    owner->_children.Attach(b);
    WeakPtr<PlainNode> weak(b);
    b = Ptr<PlainNode>();
    EXPECT_TRUE(weak.Expired());
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a}) << "a dead node drops out";
    EXPECT_FALSE(owner->_parent.IsSet());
}
