#include "ExplicitRef.h"
#include "ExplicitRefAccess.h"
#include "Property.h"
#include "PropertyAccess.h"

#include "ExpectedReports.h"
#include "WatchTestSupport.h"

#include <memory>

using namespace qelwatchtest;

namespace {
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
        qeltest::Counters const before;
        qeldebug::capture cap(policy);
        EXPECT_THROW(Node::Create<DuplicateNode>(), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  std::vector<std::string>{qeltest::kDuplicateProperty});
        EXPECT_EQ(qeltest::Counters(), before);
    }
}

namespace {
// Properties and references made on the heap, to end before their node.
class LooseNode : public RecordingNode {
public:
    ~LooseNode() override {
        if (setWhenDestroyed) {
            width.Set(1);
        }
    }
    Property<int> width{*this, "size", 1};
    bool setWhenDestroyed = false;
};
}  // namespace

TEST(PropertyTest, AnObjectThatEndsBeforeItsNodeIsReportedAndLeavesTheTable) {
    std::string const texts[] = {
        "\"property ended before its node\" - __cdecl Qel::Chart::Core::Property<T>::~Property(void)",
        "\"explicit reference ended before its node\" - __cdecl "
        "Qel::Chart::Core::ExplicitRefBase::~ExplicitRefBase(void)",
    };
    for (qeldebug::failpolicy policy : kPolicies) {
        Ptr<LooseNode> node = Node::Create<LooseNode>();
        auto property = std::make_unique<Property<int>>(*node, "width", 1);
        auto ref = std::make_unique<ExplicitRef>(*node, "parent");
        qeldebug::capture cap(policy);
        EXPECT_NO_THROW(property.reset());
        EXPECT_NO_THROW(ref.reset());
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>(texts, texts + 2));
        EXPECT_FALSE(Accessors::PropertyAccess::Exists(node, "width"));
        EXPECT_FALSE(Accessors::ExplicitRefAccess::Exists(node, "parent"));
        property = std::make_unique<Property<int>>(*node, "width", 2);  // the name is free again
        ref = std::make_unique<ExplicitRef>(*node, "parent");
        EXPECT_EQ(Accessors::PropertyAccess(node, "width").GetValueAsStringDebug(), "2");
        property.reset();
        ref.reset();
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure).size(), 4u);
        node = Ptr<LooseNode>();  // its member property ends with it, unreported
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure).size(), 4u);
    }
}

TEST(PropertyTest, EveryTouchOfAPropertyReachesItsOwnerUntilTheOwnerIsDeallocated) {
    Ptr<LooseNode> owner = Node::Create<LooseNode>();
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    owner->Deps().Insert(*dependent);
    Property<int>& width = owner->width;
    static_cast<Modifiable<1>&>(width).Touch();
    width.Touch();
    Heard const forced{IM::TypeProperty, IM::Force, IM::Explicit, owner.Get(), "size"};
    EXPECT_EQ(dependent->_touches, (std::vector<Heard>{forced, forced}));
    EXPECT_EQ(width.Time().Counter(), 2u);
    owner->Deps().Clear();
    owner->setWhenDestroyed = true;
    qeldebug::capture cap;
    owner = Ptr<LooseNode>();
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::derr),
              std::vector<std::string>{"WARNING : Event propagation after node is deallocated!"});
}
