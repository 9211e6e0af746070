#include "ModificationWatcher.h"

#include "Property.h"
#include "WatchTestSupport.h"

#include <iterator>

using namespace Qel::Chart::Core;
using namespace qelwatchtest;

namespace {

class SizedNode : public Node {
public:
    SizedNode() : _width(*this, "width", 1), _height(*this, "height", 1) {}
    Property<int> _width;
    Property<int> _height;
};

std::ptrdiff_t Count(ModificationWatcherList const& p_list) { return std::distance(p_list.Begin(), p_list.End()); }

}  // namespace

TEST(ModificationWatcherTest, CleanUntilTheSubjectOrTheWatcherIsTouched) {
    ModificationWatcher none;
    none.Reset();
    EXPECT_TRUE(none.Empty() && none.Modified() && none.ModifiedOrEmpty()) << "a default watcher, even reset";

    Ptr<SizedNode> node = Node::Create<SizedNode>();
    node->Touch();  // away from (0, touched), which a forced stamp would match
    ModificationWatcher byPtr{Ptr<IModifiable>(node)}, byRef{static_cast<IModifiable const&>(*node)};
    EXPECT_FALSE(byPtr.Empty() || byPtr.Modified() || byRef.ModifiedOrEmpty());
    byPtr.Watch(node);
    EXPECT_FALSE(byPtr.Modified()) << "Watch of the same subject keeps a clean watcher clean";
    node->Touch();
    byPtr.Watch(*node);
    EXPECT_TRUE(byPtr.Modified()) << "and a modified one modified";
    EXPECT_TRUE(byRef.ModifiedOrEmpty());
    byPtr.Reset();
    EXPECT_FALSE(byPtr.Modified());
    EXPECT_TRUE(byRef.Modified()) << "watchers of one subject are independent";
    byPtr.Touch();
    EXPECT_TRUE(byPtr.Modified());
    byPtr.Reset();
    EXPECT_FALSE(byPtr.Modified());

    byPtr.Watch(node->_width);  // a property is a subject of its own
    EXPECT_TRUE(byPtr.Modified()) << "another subject starts modified, although never touched";
    byPtr.Reset();
    EXPECT_FALSE(byPtr.Modified());
    none.Watch(*node);
    EXPECT_TRUE(!none.Empty() && none.Modified());
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
    TimeStamp forced;
    forced.ForceTouch();
    ASSERT_EQ(node->Time(), forced);
    watcher.Reset();
    watcher.Touch();
    EXPECT_FALSE(watcher.Modified());
}

TEST(ModificationWatcherTest, DestroyedSubjectLeavesTheWatcherEmptyAndModified) {
    Ptr<SizedNode> node = Node::Create<SizedNode>();
    WeakPtr<SizedNode> weak(node);
    ModificationWatcher onNode{*node}, onProperty{node->_width};
    node = Ptr<SizedNode>();
    EXPECT_TRUE(weak.Expired()) << "watchers keep nothing alive";
    for (ModificationWatcher* w : {&onNode, &onProperty}) {
        EXPECT_TRUE(w->Empty() && w->Modified());
        w->Reset();
        EXPECT_TRUE(w->Empty() && w->Modified() && w->ModifiedOrEmpty());
    }
    Ptr<PlainNode> fresh = Node::Create<PlainNode>();
    onNode.Watch(fresh);  // only Watch brings it back
    onNode.Reset();
    EXPECT_FALSE(onNode.Modified());
}

TEST(ModificationWatcherTest, NoticesChangesOfEverythingTheNodeDependsOn) {
    Ptr<SizedNode> a = Node::Create<SizedNode>();
    Ptr<PlainNode> b = Node::Create<PlainNode>(), c = Node::Create<PlainNode>(), unrelated = Node::Create<PlainNode>();
    Link(*a, *b);  // b depends on a
    Link(*b, *c);  // c depends on b
    ModificationWatcher onA{*a}, onB{*b}, onC{*c}, onUnrelated{*unrelated}, onWidth{a->_width};

    a->Touch();
    EXPECT_TRUE(onB.Modified());
    EXPECT_TRUE(onC.Modified()) << "two levels down";
    EXPECT_FALSE(onUnrelated.Modified());
    EXPECT_FALSE(onWidth.Modified()) << "a node touch is no property change";

    onC.Reset();
    a->_height.Set(7);
    EXPECT_TRUE(onC.Modified()) << "a property change of a reaches c";
    EXPECT_FALSE(onWidth.Modified()) << "nor is another property's change";
    a->_width.Set(1);  // the same value still counts
    EXPECT_TRUE(onWidth.Modified());

    onA.Reset();
    c->Touch();
    EXPECT_FALSE(onA.Modified()) << "nothing travels upwards";
}

TEST(ModificationWatcherTest, AnExpiredSubjectIsRefused) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    Ptr<IModifiable> orphan(boost::shared_ptr<IModifiable>(new OrphanModifiable));
    std::vector<std::string> const twice{kExpiredText, kExpiredText};
    ModificationWatcher watcher{*node};
    {
        qeldebug::capture cap(qeldebug::failpolicy::throwing);
        EXPECT_THROW(ModificationWatcher{*orphan}, qeldebug::check_failed);
        EXPECT_THROW(watcher.Watch(orphan), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), twice);
    }
    EXPECT_FALSE(watcher.Empty() || watcher.Modified()) << "a refused Watch keeps the old subject";

    qeldebug::capture cap(qeldebug::failpolicy::returning);
    ModificationWatcher constructed(orphan);
    watcher.Watch(*orphan);
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), twice);
    EXPECT_TRUE(constructed.Empty());
    EXPECT_TRUE(watcher.Empty() && watcher.Modified());
}

TEST(ModificationWatcherListTest, AppendedCopiesAreAskedInOrder) {
    ModificationWatcherList list;
    list.Touch();
    EXPECT_TRUE(list.Empty() && list.ModifiedOrEmpty());
    EXPECT_FALSE(list.Modified()) << "a list without watchers";
    EXPECT_EQ(list.Begin(), list.End());

    Ptr<PlainNode> first = Node::Create<PlainNode>(), second = Node::Create<PlainNode>();
    first->Touch();
    second->Touch();
    ModificationWatcher watcher{*first};
    list.Append(watcher);
    list.Append(ModificationWatcher{*second});
    list.Append(*list.Begin());  // an element of its own, and a subject twice
    ASSERT_EQ(Count(list), 3);
    EXPECT_FALSE(list.ModifiedOrEmpty());

    watcher.Touch();
    EXPECT_FALSE(list.Modified()) << "the list holds copies";
    second->Touch();
    EXPECT_TRUE(list.Modified()) << "only the second one moved";
    EXPECT_FALSE(list.Begin()[0].Modified() || list.Begin()[2].Modified());
    list.Reset();
    EXPECT_FALSE(list.Modified());
    list.Touch();
    EXPECT_TRUE(list.Begin()[0].Modified() && list.Begin()[2].Modified());
    list.Reset();
    second = Ptr<PlainNode>();
    EXPECT_TRUE(list.Modified()) << "a watcher whose subject is gone";
    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.Begin(), nullptr);
}

TEST(ModificationWatcherListTest, CopiesAndAssignmentsAreIndependent) {
    Ptr<PlainNode> first = Node::Create<PlainNode>(), second = Node::Create<PlainNode>();
    ModificationWatcherList source, target;
    source.Append(ModificationWatcher{*first});
    source.Append(ModificationWatcher{*second});
    second->Touch();

    ModificationWatcherList copy(source);
    ASSERT_EQ(Count(copy), 2);
    EXPECT_FALSE(copy.Begin()[0].Modified());
    EXPECT_TRUE(copy.Begin()[1].Modified()) << "the remembered stamps are copied";
    copy.Reset();
    EXPECT_TRUE(source.Modified()) << "resetting the copy leaves the source";
    first->Touch();
    EXPECT_TRUE(copy.Begin()[0].Modified()) << "the subjects are copied";

    target.Append(ModificationWatcher{*second});
    target = source;
    ASSERT_EQ(Count(target), 2);
    EXPECT_EQ(target.Begin()[0].Modified(), source.Begin()[0].Modified());
    ModificationWatcherList const& alias = target;
    target = alias;
    ASSERT_EQ(Count(target), 2);
    EXPECT_TRUE(target.Begin()[1].Modified()) << "self-assignment keeps the watchers";

    target = ModificationWatcherList();
    EXPECT_TRUE(target.Empty() && ModificationWatcherList(target).Empty());
}
