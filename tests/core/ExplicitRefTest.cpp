#include "ExplicitRef.h"

#include "WatchTestSupport.h"

#include <sstream>

using namespace Qel::Chart::Core;
using namespace qelwatchtest;

namespace {

class TreeNode : public RecordingNode {
public:
    TreeNode() : _parent(*this, "parent"), _children(*this, "children") {}
    ExplicitRef _parent;
    ExplicitRefList _children;
};

Node const* PayloadNode(TouchRecord const& p_touch) { return boost::any_cast<Node const*>(p_touch._value); }

std::string NodeLine(Ptr<Node> const& p_node) {
    std::ostringstream line;
    line << p_node;
    return line.str();
}

std::string Dumped(IExplicitRef const& p_ref, Verbosity p_verbosity, int p_indent) {
    std::ostringstream out;
    p_ref.Dump(out, p_verbosity, p_indent);
    return out.str();
}

// An owner with one dependent, and two nodes to refer to.
struct Fixture : Watched<TreeNode> {
    Ptr<PlainNode> _a = Node::Create<PlainNode>();
    Ptr<PlainNode> _b = Node::Create<PlainNode>();
};

}  // namespace

TEST(ExplicitRefTest, SingleReferenceHoldsTheLastAttachedNode) {
    Fixture f;
    ExplicitRef& parent = f._owner->_parent;
    EXPECT_FALSE(parent.IsRefList());
    EXPECT_TRUE(parent.GetReferencees().empty());
    EXPECT_THROW(parent.Get(), NullPtrException);
    parent.Attach(f._a);
    parent.Attach(f._b);
    EXPECT_EQ(Raw(parent.GetReferencees()), std::vector<Node*>{f._b.Get()});
    parent.Detach(f._a);
    EXPECT_EQ(parent.Get(), f._b) << "detaching a node not referenced does nothing";
    parent.Detach(f._b);
    EXPECT_FALSE(parent.IsSet());

    // Its identity is its own but expires with the owner.
    IModifiable::Identifier const ref = f._owner->_children.Id();
    EXPECT_NE(ref, static_cast<IModifiable const&>(*f._owner).Id());
    EXPECT_NE(ref, parent.Id());
    f._owner = Ptr<TreeNode>();
    EXPECT_TRUE(ref.Expired());
}

TEST(ExplicitRefTest, ReferencesAreWeak) {
    Fixture f;
    Ptr<PlainNode> c = Node::Create<PlainNode>();
    f._owner->_parent.Attach(f._b);
    for (Ptr<PlainNode> const& node : {f._a, f._b, c}) {
        f._owner->_children.Attach(node);
    }
    WeakPtr<PlainNode> weak(f._b);
    f._b = Ptr<PlainNode>();
    EXPECT_TRUE(weak.Expired()) << "no reference kept it alive";
    EXPECT_EQ(Raw(f._owner->_children.GetReferencees()), (std::vector<Node*>{f._a.Get(), c.Get()}));
    EXPECT_TRUE(f._owner->_parent.GetReferencees().empty());
    EXPECT_FALSE(f._owner->_parent.IsSet());
}

TEST(ExplicitRefTest, AttachAndClearReachTheOwnersDependents) {
    Fixture f;
    TimeStamp const ref = f._owner->_children.Time(), owner = f._owner->Time();
    f._owner->_children.Attach(f._a);
    EXPECT_EQ(f._owner->_children.Time(), Advanced(ref));
    EXPECT_EQ(f._owner->Time(), Advanced(owner));
    ASSERT_EQ(f._owner->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(f._owner->_touches[0], IM::TypeExplicitRef, IM::Add, IM::Self, nullptr, "children"));
    EXPECT_EQ(PayloadNode(f._owner->_touches[0]), f._a.Get());
    f._owner->_parent.Attach(f._b);
    f._owner->_children.Clear();
    f._owner->_parent.Clear();
    EXPECT_TRUE(f._owner->_children.GetReferencees().empty() && f._owner->_parent.GetReferencees().empty());

    std::vector<TouchRecord> const& heard = f._dependent->_touches;
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_TRUE(IsTouch(heard[0], IM::TypeExplicitRef, IM::Add, IM::Explicit, f._owner.Get(), "children"));
    EXPECT_EQ(PayloadNode(heard[0]), f._a.Get());
    EXPECT_TRUE(IsTouch(heard[1], IM::TypeExplicitRef, IM::Add, IM::Explicit, f._owner.Get(), "parent"));
    EXPECT_TRUE(IsTouch(heard[2], IM::TypeExplicitRef, IM::Clear, IM::Explicit, f._owner.Get(), "children"));
    EXPECT_TRUE(IsTouch(heard[3], IM::TypeExplicitRef, IM::Clear, IM::Explicit, f._owner.Get(), "parent"));
    EXPECT_TRUE(heard[3]._value.empty());
}

TEST(ExplicitRefTest, ListKeepsOrderAndIgnoresDuplicatesAndStrangers) {
    Fixture f;
    ExplicitRefList& children = f._owner->_children;
    EXPECT_TRUE(children.IsRefList());
    children.Attach(f._b);
    children.Attach(f._a);
    TimeStamp const ref = children.Time(), owner = f._owner->Time();
    children.Attach(f._b);
    EXPECT_EQ(Raw(children.GetReferencees()), (std::vector<Node*>{f._b.Get(), f._a.Get()}));
    children.Detach(f._b);
    children.Detach(f._b);
    f._owner->_parent.Detach(f._a);
    EXPECT_EQ(Raw(children.GetReferencees()), std::vector<Node*>{f._a.Get()});
    EXPECT_EQ(children.Time(), Advanced(ref)) << "one change: the first Detach";
    EXPECT_EQ(f._owner->Time(), Advanced(owner));
    ASSERT_EQ(f._dependent->_touches.size(), 3u);
    EXPECT_EQ(f._dependent->_touches[2]._change, IM::Remove);
    EXPECT_EQ(PayloadNode(f._dependent->_touches[2]), f._b.Get());
}

TEST(ExplicitRefTest, OnlyATouchOfItselfIsPassedToTheOwner) {
    Fixture f;
    TimeStamp const ref = f._owner->_parent.Time(), owner = f._owner->Time();
    static_cast<IModifiable&>(f._owner->_parent)
        .TouchThis(IM::TypeNode, IM::Edit, IM::Implicit, WeakPtr<Node>(f._a), "elsewhere", boost::any());
    EXPECT_EQ(f._owner->_parent.Time(), Advanced(ref));
    EXPECT_EQ(f._owner->Time(), owner);

    f._owner->_parent.Touch();
    EXPECT_EQ(f._owner->_parent.Time(), Advanced(ref, 2));
    EXPECT_EQ(f._owner->Time(), Advanced(owner));
    ASSERT_EQ(f._dependent->_touches.size(), 1u);
    EXPECT_TRUE(
        IsTouch(f._dependent->_touches[0], IM::TypeExplicitRef, IM::Force, IM::Explicit, f._owner.Get(), "parent"));
}

TEST(ExplicitRefTest, DumpWritesOneLinePerLiveNode) {
    Fixture f;
    EXPECT_EQ(Dumped(f._owner->_children, DumpDependents, 2), "");
    f._owner->_children.Attach(f._a);
    f._owner->_children.Attach(f._b);
    f._owner->_parent.Attach(f._b);
    EXPECT_EQ(Dumped(f._owner->_children, DumpHeader, 2),
              "\t\t-> " + NodeLine(f._a) + "\n\t\t-> " + NodeLine(f._b) + "\n");
    EXPECT_EQ(Dumped(f._owner->_parent, DumpRefs, 0), "-> " + NodeLine(f._b) + "\n");
    f._b = Ptr<PlainNode>();
    EXPECT_EQ(Dumped(f._owner->_children, DumpHeader, 1), "\t-> " + NodeLine(f._a) + "\n");
}
