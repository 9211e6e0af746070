#include "Property.h"

#include "NodeAccess.h"
#include "WatchTestSupport.h"

#include <boost/optional.hpp>

#include <stdexcept>

using namespace Qel::Chart::Core;
using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::NodeAccess;
using Qel::Chart::Core::Accessors::PropertyAccess;

namespace {

char const* const kDuplicateText =
    "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
    "Qel::Chart::Core::IProperty &)";

struct Opaque {
    int _payload;
};

class StyleNode : public RecordingNode {
public:
    StyleNode()
        : _width(*this, "width", 2),
          _label(*this, "label", std::string("start")),
          _color(*this, "color"),
          _opaque(*this, "opaque", Opaque{1}) {}
    Property<int> _width;
    Property<std::string> _label;
    Property<int> _color;  // undefined until set
    Property<Opaque> _opaque;
    boost::optional<Property<double>> _late;
};

class DuplicateNode : public Node {
public:
    DuplicateNode() : _first(*this, "twin", 1), _second(*this, "twin", 2) {}
    Property<int> _first;
    Property<int> _second;
};

std::vector<std::string> PropertyNames(Ptr<Node> const& p_node) {
    std::vector<std::string> names;
    for (PropertyAccess const& access : NodeAccess(p_node).GetProperties()) {
        names.push_back(access.Name());
    }
    return names;
}

// Unchanged() tells whether the stamps of the width property, the owner and
// the dependent are as given and nobody heard a touch.
struct Fixture : Watched<StyleNode> {
    bool Unchanged(TimeStamp const& p_property, TimeStamp const& p_owner, TimeStamp const& p_dependent) const {
        return _owner->_width.Time() == p_property && _owner->Time() == p_owner && _dependent->Time() == p_dependent &&
               _owner->_touches.empty() && _dependent->_touches.empty();
    }
};

}  // namespace

TEST(PropertyTest, RegistrationKeepsOrderAndTouchesNothing) {
    Fixture f;
    EXPECT_EQ(PropertyNames(f._owner), (std::vector<std::string>{"width", "label", "color", "opaque"}));
    f._owner->_late.emplace(*f._owner, "late");
    EXPECT_EQ(PropertyNames(f._owner), (std::vector<std::string>{"width", "label", "color", "opaque", "late"}));
    EXPECT_TRUE(f.Unchanged(TimeStamp(), TimeStamp(), TimeStamp()));
    EXPECT_EQ(f._owner->Deps().Size(), 1u);
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

TEST(PropertyTest, ValuesTypesDebugTextAndIdentity) {
    Ptr<StyleNode> node = Node::Create<StyleNode>();
    EXPECT_EQ(node->_width.Get(), 2);
    EXPECT_EQ(boost::any_cast<int>(node->_width.GetValue()), 2);
    EXPECT_EQ(node->_width.Type(), typeid(int));
    EXPECT_EQ(node->_label.Type(), typeid(std::string));
    EXPECT_EQ(node->_width.GetValueAsStringDebug(), "2");
    EXPECT_EQ(node->_label.GetValueAsStringDebug(), "start");
    std::string const opaque = node->_opaque.GetValueAsStringDebug();
    EXPECT_NE(opaque.find(typeid(Opaque).name()), std::string::npos) << opaque;

    EXPECT_FALSE(node->_color.IsValueDefined());
    EXPECT_THROW(node->_color.Get(), std::logic_error);
    EXPECT_TRUE(node->_color.GetValue().empty());
    EXPECT_EQ(node->_color.GetValueAsStringDebug(), "undefined");
    node->_color.Set(0xff);
    EXPECT_TRUE(node->_color.IsValueDefined());
    EXPECT_EQ(node->_color.Get(), 0xff);

    // A property is a modifiable of its own that expires with its node.
    IModifiable::Identifier const property = node->_width.Id();
    EXPECT_NE(property, static_cast<IModifiable const&>(*node).Id());
    EXPECT_NE(property, node->_label.Id());
    EXPECT_EQ(property.Get(), static_cast<IModifiable*>(&node->_width));
    node = Ptr<StyleNode>();
    EXPECT_TRUE(property.Expired());
}

TEST(PropertyTest, SetStampsThePropertyAndReachesTheOwnersDependents) {
    Fixture f;
    TimeStamp const property = f._owner->_width.Time(), owner = f._owner->Time(), dependent = f._dependent->Time();
    f._owner->_width.Set(10);
    EXPECT_EQ(f._owner->_width.Get(), 10);
    EXPECT_EQ(f._owner->_width.Time(), Advanced(property));
    EXPECT_EQ(f._owner->Time(), Advanced(owner));
    EXPECT_EQ(f._dependent->Time(), Advanced(dependent));
    ASSERT_EQ(f._owner->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(f._owner->_touches[0], IM::TypeProperty, IM::Edit, IM::Self, nullptr, "width"));
    EXPECT_EQ(boost::any_cast<int>(f._owner->_touches[0]._value), 10);
    ASSERT_EQ(f._dependent->_touches.size(), 1u);
    EXPECT_TRUE(IsTouch(f._dependent->_touches[0], IM::TypeProperty, IM::Edit, IM::Explicit, f._owner.Get(), "width"));
    EXPECT_EQ(boost::any_cast<int>(f._dependent->_touches[0]._value), 10);
}

TEST(PropertyTest, SetValueResetValueAndTouchAnnounceTheirChange) {
    Fixture f;
    std::vector<TouchRecord> const& heard = f._dependent->_touches;
    f._owner->_label.SetValue(boost::any(std::string("next")));
    EXPECT_EQ(f._owner->_label.Get(), "next");
    f._owner->_label.ResetValue();
    EXPECT_FALSE(f._owner->_label.IsValueDefined());
    f._owner->_width.Touch();
    EXPECT_EQ(f._owner->_width.Get(), 2) << "a touch keeps the value";

    ASSERT_EQ(heard.size(), 3u);
    EXPECT_TRUE(IsTouch(heard[0], IM::TypeProperty, IM::Edit, IM::Explicit, f._owner.Get(), "label"));
    EXPECT_EQ(boost::any_cast<std::string>(heard[0]._value), "next");
    EXPECT_TRUE(IsTouch(heard[1], IM::TypeProperty, IM::Clear, IM::Explicit, f._owner.Get(), "label"));
    EXPECT_TRUE(IsTouch(heard[2], IM::TypeProperty, IM::Force, IM::Explicit, f._owner.Get(), "width"));
    EXPECT_TRUE(heard[1]._value.empty() && heard[2]._value.empty());
    EXPECT_EQ(f._owner->_label.Time(), Advanced(TimeStamp(), 2));
}

TEST(PropertyTest, ARefusedValueOrAnOutsideTouchReachesNoOne) {
    Fixture f;
    TimeStamp const property = f._owner->_width.Time(), owner = f._owner->Time(), dependent = f._dependent->Time();
    EXPECT_THROW(f._owner->_width.SetValue(boost::any(3.5)), boost::bad_any_cast);
    EXPECT_THROW(f._owner->_width.SetValue(boost::any()), boost::bad_any_cast);
    EXPECT_THROW(f._owner->_label.SetValue(boost::any("a char pointer")), boost::bad_any_cast);
    EXPECT_EQ(f._owner->_width.Get(), 2);
    EXPECT_EQ(f._owner->_label.Get(), "start");
    EXPECT_TRUE(f.Unchanged(property, owner, dependent));

    // A touch from outside only stamps the property.
    static_cast<IModifiable&>(f._owner->_width)
        .TouchThis(IM::TypeNode, IM::Force, IM::Self, WeakPtr<Node>(), "x", boost::any());
    EXPECT_TRUE(f.Unchanged(Advanced(property), owner, dependent));
}
