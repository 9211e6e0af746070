#include "Property.h"

#include "WatchTestSupport.h"

using namespace qelwatchtest;

namespace {
char const* const kDuplicateText =
    "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
    "Qel::Chart::Core::IProperty &)";

class StyleNode : public Node {
public:
    Property<int> _width{*this, "width", 2};
};

class DuplicateNode : public Node {
public:
    Property<int> _first{*this, "twin", 1};
    Property<int> _second{*this, "twin", 2};
};
}  // namespace

TEST(PropertyTest, SetReachesTheDependentsWithNameAndValueAWrongTypeChangesNothing) {
    Ptr<StyleNode> owner = Node::Create<StyleNode>();
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    owner->Deps().Insert(*dependent);
    // g++ 12 follows the inlined any_cast of the wrong type past the throw into
    // Boost's optional and reports a store into no storage (-Warray-bounds).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    EXPECT_THROW(owner->_width.SetValue(boost::any(3.5)), boost::bad_any_cast);
    EXPECT_THROW(owner->_width.SetValue(boost::any()), boost::bad_any_cast);
#pragma GCC diagnostic pop
    EXPECT_EQ(owner->_width.Get(), 2);
    EXPECT_TRUE(owner->_width.Time() == TimeStamp() && dependent->_touches.empty());
    owner->_width.Set(10);
    EXPECT_EQ(owner->_width.Time().Counter(), 1u);
    EXPECT_EQ(dependent->_touches,
              (std::vector<Heard>{{IM::TypeProperty, IM::Edit, IM::Explicit, owner.Get(), "width"}}));
    EXPECT_EQ(boost::any_cast<int>(dependent->_values.at(0)), 10);
}

TEST(PropertyTest, ADuplicateNameFailsTheNodeCreationWithoutTrace) {
    for (qeldebug::failpolicy policy : kPolicies) {
        int const nodes = Node::_debugNodeCount.load(), memory = Node::_debugNodeMemUsage.load();
        std::size_t const blocks = qeldebug::allocationtracker::blocks_in_use();
        qeldebug::capture cap(policy);
        EXPECT_THROW(Node::Create<DuplicateNode>(), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kDuplicateText});
        EXPECT_EQ(Node::_debugNodeCount.load(), nodes);
        EXPECT_EQ(Node::_debugNodeMemUsage.load(), memory);
        EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), blocks);
    }
}
