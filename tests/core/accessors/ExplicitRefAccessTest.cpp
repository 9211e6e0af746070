#include "ExplicitRefAccess.h"

#include "../WatchTestSupport.h"
#include "ExplicitRef.h"

#include <cstdint>

using namespace Qel::Chart::Core;
using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::ExplicitRefAccess;

namespace {

char const* const kNameMissText =
    "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class Qel::Chart::Core::IExplicitRef "
    "&__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class std::basic_string<char,struct "
    "std::char_traits<char>,class std::allocator<char> > &) const";
char const* const kIndexMissText =
    "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
    "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const";

class LinkedNode : public RecordingNode {
public:
    LinkedNode() : _parent(*this, "parent"), _children(*this, "children") {}
    ExplicitRef _parent;
    ExplicitRefList _children;
};

std::vector<Node*> ReferenceesOf(ExplicitRefAccess const& p_access) {
    std::vector<Ptr<Node>> nodes;
    p_access.GetReferencees(nodes);
    return Raw(nodes);
}

}  // namespace

TEST(ExplicitRefAccessTest, ByNameAndPositionDesignateTheSameReference) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> child = Node::Create<PlainNode>();
    ExplicitRefAccess byName(node, std::string("children")), byIndex(node, std::uint64_t{1});
    ExplicitRefAccess byRef(node, node->_children), copy(byIndex);
    byName.Attach(child);
    for (ExplicitRefAccess const* access : {&byName, &byIndex, &byRef, &copy}) {
        EXPECT_EQ(access->Name(), "children");
        EXPECT_TRUE(access->IsRefList());
        EXPECT_EQ(ReferenceesOf(*access), std::vector<Node*>{child.Get()});
    }
    byIndex.Detach(child);
    EXPECT_TRUE(ReferenceesOf(byName).empty());
    EXPECT_FALSE(ExplicitRefAccess(node, std::uint64_t{0}).IsRefList());

    // Each forwarded change is announced once, by the reference itself.
    ExplicitRefAccess parent(node, node->_parent);
    parent.Attach(child);
    parent.Clear();
    ASSERT_EQ(node->_touches.size(), 4u);
    EXPECT_EQ(node->_touches[0]._change, IM::Add);
    EXPECT_EQ(node->_touches[1]._change, IM::Remove);
    EXPECT_EQ(node->_touches[3]._change, IM::Clear);
}

TEST(ExplicitRefAccessTest, MissesFailTheirChecksExistsReportsNothing) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<LinkedNode> weak(node);
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(ExplicitRefAccess(node, std::string("Parent")), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(empty, std::string("")), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(node, std::uint64_t{2}), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(empty, std::uint64_t{0}), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  (std::vector<std::string>{kNameMissText, kNameMissText, kIndexMissText, kIndexMissText}));
    }
    qeldebug::capture cap;
    EXPECT_FALSE(ExplicitRefAccess::Exists(empty, "parent") || ExplicitRefAccess::Exists(empty, ""));
    EXPECT_TRUE(ExplicitRefAccess::Exists(node, "children"));
    EXPECT_FALSE(ExplicitRefAccess::Exists(node, "child"));
    EXPECT_TRUE(cap.records().empty());
    node = Ptr<LinkedNode>();
    EXPECT_TRUE(weak.Expired()) << "failed constructors released their node reference";
}

TEST(ExplicitRefAccessTest, GetReferenceesReplacesTheVectorsContents) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> a = Node::Create<PlainNode>(), b = Node::Create<PlainNode>();
    ExplicitRefAccess children(node, node->_children);
    children.Attach(b);
    children.Attach(a);
    std::vector<Ptr<Node>> nodes{Node::Create<PlainNode>(), a, a};
    WeakPtr<Node> onlyInVector(nodes.front());
    children.GetReferencees(nodes);
    EXPECT_EQ(nodes, (std::vector<Ptr<Node>>{b, a}));
    EXPECT_TRUE(onlyInVector.Expired()) << "the previous elements were released";

    ExplicitRefAccess(node, std::string("parent")).GetReferencees(nodes);
    EXPECT_TRUE(nodes.empty()) << "a reference to nothing leaves the vector empty";
}

TEST(ExplicitRefAccessTest, TouchCallsTheReferencesTouchThisOnceAndKeepsTheNodeAlive) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    WeakPtr<LinkedNode> weak(node);
    LinkedNode const* raw = node.Get();
    TimeStamp const ref = raw->_children.Time();
    ExplicitRefAccess access(node, std::string("children"));
    node = Ptr<LinkedNode>();
    EXPECT_FALSE(weak.Expired());
    access.Touch();
    EXPECT_EQ(raw->_children.Time(), Advanced(ref));
    std::vector<TouchRecord> const& heard = raw->_touches;
    // The ready-made reference hands its touch to the owner as it received it.
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_TRUE(IsTouch(heard[0], IM::TypeExplicitRef, IM::Force, IM::Self, nullptr, "children"));
    EXPECT_TRUE(heard[0]._value.empty());
    Ptr<PlainNode> a = Node::Create<PlainNode>();
    access.Attach(a);
    EXPECT_EQ(ReferenceesOf(access), std::vector<Node*>{a.Get()});
}
