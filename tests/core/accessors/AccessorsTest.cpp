#include "ExplicitRefAccess.h"
#include "NodeAccess.h"
#include "PropertyAccess.h"

#include "../WatchTestSupport.h"
#include "ExpectedReports.h"
#include "ExplicitRef.h"
#include "ModificationWatcher.h"
#include "Property.h"

#include <cstdint>
#include <functional>
#include <optional>

using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::ExplicitRefAccess;
using Qel::Chart::Core::Accessors::NodeAccess;
using Qel::Chart::Core::Accessors::PropertyAccess;

namespace {
class AccessedNode : public Node {
public:
    Property<int> _size{*this, "size", 4};
    Property<std::string> _title{*this, "title"};
    ExplicitRef _parent{*this, "parent"};
    ExplicitRefList _children{*this, "children"};
};
}  // namespace

// A name of 65,536 characters does not fit the 16-bit length.
TEST(AccessorTest, MissesAndAnOverlongNameFailTheirChecksAndOnlyALiveAccessorKeepsTheNode) {
    using qeldebug::reportkind;
    Ptr<AccessedNode> node = Node::Create<AccessedNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<AccessedNode> weak(node);
    std::string const oldName(99, 'q');
    std::string const tooLong =
        "\"p_string.size() < max_string_length && \"CopyString - the string does not fit its 16-bit length.\"\"" +
        qeltest::kInCopyString;
    NodeAccess(empty).SetName(oldName);
    struct Case {
        char const* what;
        std::function<void()> action;
        reportkind kind;
        std::string const& text;
    } const cases[] = {
        {"property names are case sensitive", [&] { PropertyAccess(node, std::string("Size")); }, reportkind::sentry,
         qeltest::kPropertyNameMiss},
        {"one past the last property", [&] { PropertyAccess(node, std::uint64_t{2}); }, reportkind::chkrng,
         qeltest::kPropertyIndexMiss},
        {"a property position beyond int", [&] { PropertyAccess(node, std::uint64_t{1} << 40); }, reportkind::chkrng,
         qeltest::kPropertyIndexMiss},
        {"a node without properties", [&] { PropertyAccess(empty, std::uint64_t{0}); }, reportkind::chkrng,
         qeltest::kPropertyIndexMiss},
        {"reference names are case sensitive", [&] { ExplicitRefAccess(node, std::string("Parent")); },
         reportkind::ensure, qeltest::kRefNameMiss},
        {"one past the last reference", [&] { ExplicitRefAccess(node, std::uint64_t{2}); }, reportkind::ensure,
         qeltest::kRefIndexMiss},
        {"a node without references", [&] { ExplicitRefAccess(empty, std::uint64_t{0}); }, reportkind::ensure,
         qeltest::kRefIndexMiss},
        {"a name of 65536 characters", [&] { NodeAccess(empty).SetName(std::string(65536, 'n')); }, reportkind::ensure,
         tooLong},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        qeltest::ExpectRefused(c.action, c.kind, c.text);  // either policy: there is nothing to access
    }
    std::string name;
    NodeAccess(empty).GetName(name);
    EXPECT_EQ(name, oldName) << "the old name is kept";
    EXPECT_EQ(weak.Weak().use_count(), 1) << "failed constructors released their node reference";
    std::optional<PropertyAccess> property(std::in_place, node, std::string("size"));
    node = Ptr<AccessedNode>();
    EXPECT_FALSE(weak.Expired()) << "a property accessor keeps its node alive";
    std::optional<ExplicitRefAccess> ref(std::in_place, weak.Lock(), std::string("children"));
    property.reset();
    EXPECT_FALSE(weak.Expired()) << "so does a reference accessor";
    ref.reset();
    EXPECT_TRUE(weak.Expired());
}

TEST(PropertyAccessTest, GetAsAndSetAsTakeTheValueTypeOnlyAndChangeNothingOtherwise) {
    Ptr<AccessedNode> node = Node::Create<AccessedNode>();
    PropertyAccess size(node, std::string("size"));
    PropertyAccess title(node, std::string("title"));
    EXPECT_EQ(size.GetAs<int>(), 4);
    size.SetAs(7);
    EXPECT_EQ(node->_size.Get(), 7);
    ModificationWatcher watcher(*node);
    EXPECT_THROW(size.GetAs<long>(), boost::bad_any_cast);
    EXPECT_THROW(size.SetAs(7.5), boost::bad_any_cast);
    EXPECT_THROW(title.GetAs<std::string>(), boost::bad_any_cast) << "an undefined value";
    EXPECT_EQ(node->_size.Get(), 7);
    EXPECT_FALSE(watcher.Modified()) << "a refused SetAs touches nothing";
    title.SetAs(std::string("t"));
    EXPECT_EQ(title.GetAs<std::string>(), "t");
}
