#include "ModificationWatcher.h"

#include "ExplicitRefAccess.h"
#include "NodeAccess.h"
#include "Property.h"
#include "PropertyAccess.h"
#include "WatchTestSupport.h"

#include <functional>

using namespace qelwatchtest;

namespace {
class SizedNode : public Node {
public:
    Property<int> _width{*this, "width", 1};
};
}  // namespace

TEST(ModificationWatcherTest, CleanModifiedAndEmptyStates) {
    Ptr<SizedNode> node = Node::Create<SizedNode>();
    node->Touch();  // away from (0, touched), which a forced stamp would match
    ModificationWatcher watcher{Ptr<IModifiable>(node)}, other{*node};
    EXPECT_FALSE(watcher.Empty() || watcher.Modified() || other.ModifiedOrEmpty());
    watcher.Watch(node);
    EXPECT_FALSE(watcher.Modified()) << "Watch of the same subject keeps a clean watcher clean";
    node->Touch();
    watcher.Watch(*node);
    EXPECT_TRUE(watcher.Modified()) << "and a modified one modified";
    watcher.Reset();
    EXPECT_FALSE(watcher.Modified());
    EXPECT_TRUE(other.Modified()) << "watchers of one subject are independent";
    watcher.Touch();
    EXPECT_TRUE(watcher.Modified());
    watcher.Watch(node->_width);
    EXPECT_TRUE(watcher.Modified()) << "another subject starts modified, although never touched";
    watcher.Reset();
    EXPECT_FALSE(watcher.Modified());
    WeakPtr<SizedNode> weak(node);
    node = Ptr<SizedNode>();
    EXPECT_TRUE(weak.Expired()) << "watchers keep nothing alive";
    for (ModificationWatcher* w : {&watcher, &other}) {  // on a property, on a node
        w->Reset();
        EXPECT_TRUE(w->Empty() && w->Modified() && w->ModifiedOrEmpty());
    }
}

// A watcher of a node reads the node's stamp in place and asks any other
// subject: switching between the two kinds, copying and assigning must
// leave each watcher following its own subject and nothing else.
TEST(ModificationWatcherTest, AWatcherFollowsOnlyItsCurrentSubjectWhicheverKindItIs) {
    Ptr<SizedNode> a = Node::Create<SizedNode>(), b = Node::Create<SizedNode>();
    a->Touch();
    b->Touch();
    ModificationWatcher watcher{*a};
    watcher.Watch(b->_width);  // from a node to a property
    watcher.Reset();
    a->Touch();
    EXPECT_FALSE(watcher.Modified()) << "the node watched before is not followed";
    b->_width.Set(2);
    EXPECT_TRUE(watcher.Modified());

    watcher.Watch(*b);  // from a property to a node
    watcher.Reset();
    b->_width.Set(3);  // reaches the node as a touch of its own
    EXPECT_TRUE(watcher.Modified());
    watcher.Reset();
    a->Touch();
    EXPECT_FALSE(watcher.Modified());

    ModificationWatcher copy(watcher), assigned{a->_width};
    assigned = watcher;
    b->Touch();
    EXPECT_TRUE(copy.Modified() && assigned.Modified()) << "copies follow the same node";
    copy.Watch(*a);
    copy.Reset();
    b->Touch();
    EXPECT_FALSE(copy.Modified()) << "a copy switched to another node follows that one";
    EXPECT_TRUE(assigned.Modified());

    b = Ptr<SizedNode>();
    EXPECT_TRUE(watcher.Modified() && assigned.Modified()) << "a node that ended counts as modified";
}

// The stamp is read in place while the node ends, up to the point where
// its identifiers expire.
TEST(ModificationWatcherTest, AWatcherOfANodeAnswersInsideTheNodesOwnDestructor) {
    struct SelfWatching : Node {
        ~SelfWatching() override {
            *modifiedAtEnd = watcher.Modified();
            watcher.Reset();
            *cleanAfterReset = !watcher.Modified();
        }
        ModificationWatcher watcher;
        bool* modifiedAtEnd = nullptr;
        bool* cleanAfterReset = nullptr;
    };
    bool modified = false, clean = false;
    Ptr<SelfWatching> node = Node::Create<SelfWatching>();
    node->watcher.Watch(*node);
    node->watcher.Reset();
    node->modifiedAtEnd = &modified;
    node->cleanAfterReset = &clean;
    node->Touch();
    node = Ptr<SelfWatching>();
    EXPECT_TRUE(modified) << "the touch before the end is seen";
    EXPECT_TRUE(clean);
}

TEST(ModificationWatcherTest, AListAnswersForAllItsWatchers) {
    ModificationWatcherList list;
    EXPECT_TRUE(list.ModifiedOrEmpty());
    EXPECT_FALSE(list.Modified());
    Ptr<SizedNode> a = Node::Create<SizedNode>(), b = Node::Create<SizedNode>();
    list.Append(ModificationWatcher(*a));
    list.Append(ModificationWatcher(*b));
    EXPECT_FALSE(list.Modified());
    b->Touch();
    EXPECT_TRUE(list.Modified()) << "only the second watcher is modified";
    ModificationWatcherList copy(list);
    copy.Reset();
    EXPECT_FALSE(copy.Modified());
    EXPECT_TRUE(list.Modified()) << "the copy's watchers are its own";
    ModificationWatcherList& same = list;  // through a reference: a literal self-assignment draws a warning
    list = same;
    EXPECT_EQ(list.End() - list.Begin(), 2);

    // Which ones fired, over a list longer than the read-ahead, and resetting
    // just those.
    list.Reset();
    for (int each = 2; each < 40; ++each) {
        list.Append(ModificationWatcher(each % 2 == 0 ? *a : *b));
    }
    b->Touch();
    std::vector<std::size_t> odd;
    for (std::size_t index = 1; index < 40; index += 2) {
        odd.push_back(index);
    }
    EXPECT_EQ(list.ModifiedIndices(), odd);
    for (ModificationWatcher& w : list) {
        if (w.Modified()) {
            w.Reset();
        }
    }
    EXPECT_FALSE(list.Modified());
}

TEST(ModificationWatcherTest, TheStampCounterWrapsAfter16384Touches) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    auto touch = [&node](int p_times) {
        for (int i = 0; i < p_times; ++i) {
            node->Touch();
        }
    };
    touch(1);
    ModificationWatcher watcher{*node};
    touch(16383);
    EXPECT_TRUE(watcher.Modified());
    touch(1);
    EXPECT_FALSE(watcher.Modified()) << "16,384 touches look like none";
    touch(16383);  // to (0, touched), which a forced stamp matches
    ASSERT_TRUE(node->Time().Counter() == 0 && node->Time().Touched());
    watcher.Reset();
    watcher.Touch();
    EXPECT_FALSE(watcher.Modified());
}

TEST(ModificationWatcherTest, NoticesChangesOfEverythingTheNodeDependsOn) {
    Ptr<SizedNode> a = Node::Create<SizedNode>();
    Ptr<PlainNode> b = Node::Create<PlainNode>(), c = Node::Create<PlainNode>();
    a->Deps().Insert(*b);
    b->Deps().Insert(*c);
    ModificationWatcher onC{*c};
    a->_width.Set(7);
    EXPECT_TRUE(onC.Modified()) << "a property change two levels up";
}

TEST(ModificationWatcherTest, AnEmptyPtrIsRefusedWhereAnObjectIsNeededAndNothingChanges) {
    Ptr<SizedNode> node = Node::Create<SizedNode>();
    ModificationWatcher watcher(*node);
    Ptr<IModifiable> const none;
    Ptr<Node> const noNode;
    std::function<void()> const calls[] = {
        [&] { ModificationWatcher{none}; },
        [&] { watcher.Watch(none); },
        [&] { Accessors::NodeAccess{noNode}; },
        [&] { Accessors::PropertyAccess(noNode, "width"); },
        [&] { Accessors::PropertyAccess(noNode, 0u); },
        [&] { Accessors::PropertyAccess(noNode, node->_width); },
        [&] { Accessors::PropertyAccess::Exists(noNode, "width"); },
        [&] { Accessors::ExplicitRefAccess(noNode, "parent"); },
        [&] { Accessors::ExplicitRefAccess::Exists(noNode, "parent"); },
        [&] { Node::CreateTypeOf(noNode); },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(::testing::Message() << "call " << i);
        EXPECT_EQ(qeltest::ThrownText<NullPtrException>(calls[i]), "null pointer passed to Core::Ptr");
        EXPECT_FALSE(watcher.Modified()) << "the watcher still watches the node, clean";
    }
}
