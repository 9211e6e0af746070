#include "ExplicitRefAccess.h"

#include "../WatchTestSupport.h"
#include "ExplicitRef.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace Qel::Chart::Core;
using Qel::Chart::Core::Accessors::ExplicitRefAccess;
using qelwatchtest::Advanced;
using qelwatchtest::IsTouch;
using qelwatchtest::PlainNode;
using qelwatchtest::RecordingNode;

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
    std::vector<Node*> raw;
    for (Ptr<Node> const& node : nodes) {
        raw.push_back(node.Get());
    }
    return raw;
}

}  // namespace

TEST(ExplicitRefAccessTest, ByNameAndPositionDesignateTheSameReference) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> child = Node::Create<PlainNode>();
    ExplicitRefAccess byName(node, std::string("children"));
    ExplicitRefAccess byIndex(node, std::uint64_t{1});
    ExplicitRefAccess byRef(node, node->_children);
    ExplicitRefAccess copy(byIndex);
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
    EXPECT_EQ(node->_touches[0]._change, IModifiable::Add);
    EXPECT_EQ(node->_touches[1]._change, IModifiable::Remove);
    EXPECT_EQ(node->_touches[3]._change, IModifiable::Clear);
}

TEST(ExplicitRefAccessTest, MissesFailTheirChecks) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<LinkedNode> weak(node);
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(ExplicitRefAccess(node, std::string("Parent")), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(empty, std::string("")), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(node, std::uint64_t{2}), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(empty, std::uint64_t{0}), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  (std::vector<std::string>{kNameMissText, kNameMissText, kIndexMissText, kIndexMissText}));
    }
    node = Ptr<LinkedNode>();
    EXPECT_TRUE(weak.Expired()) << "failed constructors released their node reference";
}

TEST(ExplicitRefAccessTest, ExistsReportsNothing) {
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    qeldebug::capture cap;
    EXPECT_FALSE(ExplicitRefAccess::Exists(empty, "parent"));
    EXPECT_FALSE(ExplicitRefAccess::Exists(empty, ""));
    EXPECT_TRUE(ExplicitRefAccess::Exists(node, "children"));
    EXPECT_FALSE(ExplicitRefAccess::Exists(node, "child"));
    EXPECT_TRUE(cap.records().empty());
}

TEST(ExplicitRefAccessTest, GetReferenceesReplacesTheVectorsContents) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> a = Node::Create<PlainNode>();
    Ptr<PlainNode> b = Node::Create<PlainNode>();
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

TEST(ExplicitRefAccessTest, TouchCallsTheReferencesTouchThisOnce) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    TimeStamp const ref = node->_children.Time();
    ExplicitRefAccess(node, std::string("children")).Touch();
    EXPECT_EQ(node->_children.Time(), Advanced(ref));
    // The ready-made reference hands its touch to the owner as it received it.
    ASSERT_EQ(node->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(node->_touches[0], IModifiable::TypeExplicitRef, IModifiable::Force, IModifiable::Self, nullptr,
                        "children"));
    EXPECT_TRUE(node->_touches[0]._value.empty());
}

TEST(ExplicitRefAccessTest, AnAccessorKeepsItsNodeAlive) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> a = Node::Create<PlainNode>();
    WeakPtr<LinkedNode> weak(node);
    ExplicitRefAccess access(node, std::string("children"));
    node = Ptr<LinkedNode>();
    EXPECT_FALSE(weak.Expired());
    access.Attach(a);
    EXPECT_EQ(ReferenceesOf(access), std::vector<Node*>{a.Get()});
}
