#include "ExplicitRef.h"

#include "NodeAccess.h"

#include "WatchTestSupport.h"

using namespace qelwatchtest;

namespace {
class TreeNode : public Node {
public:
    ExplicitRef _parent{*this, "parent"};
    ExplicitRefList _children{*this, "children"};
};
}  // namespace

TEST(ExplicitRefTest, ReferencesKeepNothingAliveLetGoOfEndedTargetsAndRefuseAnEmptyPtr) {
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
    // Get of an ended or absent target says which reference of which node.
    Qel::Chart::Core::Accessors::NodeAccess(owner).SetName("tree");
    EXPECT_EQ(qeltest::ThrownText<NullPtrException>([&] { owner->_parent.Get(); }),
              "the reference \"parent\" of node id(" +
                  std::to_string(Qel::Chart::Core::Accessors::NodeAccess(owner).UniqueId()) +
                  ") name(tree) (class (anonymous namespace)::TreeNode) references no node");

    // Attach-and-die cycles: every Attach meets the ended target before it
    // and drops it, so the heap in use does not grow with the cycles.
    auto cycle = [&] { owner->_children.Attach(Node::Create<PlainNode>()); };
    cycle();
    cycle();
    qeltest::HeapUse const use = qeltest::MeasureHeap([&] {
        for (int i = 0; i < 1000; ++i) {
            cycle();
        }
    });
    EXPECT_LE(use.sizes.size(), use.frees + 1) << "at most one block outlives the cycles";
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a});
    for (IExplicitRef* ref :
         {static_cast<IExplicitRef*>(&owner->_parent), static_cast<IExplicitRef*>(&owner->_children)}) {
        TimeStamp const before = ref->Time();
        EXPECT_THROW(ref->Attach(Ptr<Node>()), NullPtrException);
        EXPECT_TRUE(ref->Time() == before);
    }
    EXPECT_EQ(owner->_children.GetReferencees(), std::vector<Ptr<Node>>{a});
}
