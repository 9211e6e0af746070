#include "PropertyAccess.h"

#include "../WatchTestSupport.h"
#include "ModificationWatcher.h"
#include "Property.h"

#include <cstdint>

using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::PropertyAccess;

namespace {
char const* const kNameMissText =
    "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line41";
char const* const kIndexMissText =
    "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
    "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";

class SizeNode : public Node {
public:
    Property<int> _size{*this, "size", 4};
    Property<std::string> _title{*this, "title"};
};
}  // namespace

TEST(PropertyAccessTest, MissesFailTheirChecksAndOnlyALiveAccessorKeepsTheNode) {
    Ptr<SizeNode> node = Node::Create<SizeNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<SizeNode> weak(node);
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(PropertyAccess(node, std::string("Size")), qeldebug::check_failed) << "names are case sensitive";
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::sentry), std::vector<std::string>{kNameMissText});
        EXPECT_EQ(cap.records().size(), 1u) << "a name miss is reported through sentry alone";
        EXPECT_THROW(PropertyAccess(node, std::uint64_t{2}), qeldebug::check_failed) << "one past the end";
        EXPECT_THROW(PropertyAccess(node, std::uint64_t{1} << 40), qeldebug::check_failed);
        EXPECT_THROW(PropertyAccess(empty, std::uint64_t{0}), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::chkrng),
                  (std::vector<std::string>{kIndexMissText, kIndexMissText, kIndexMissText}));
    }
    EXPECT_EQ(weak.Weak().use_count(), 1) << "failed constructors released their node reference";
    PropertyAccess access(node, std::string("size"));
    node = Ptr<SizeNode>();
    EXPECT_FALSE(weak.Expired()) << "the accessor keeps its node alive";
}

TEST(PropertyAccessTest, GetAsAndSetAsTakeTheValueTypeOnlyAndChangeNothingOtherwise) {
    Ptr<SizeNode> node = Node::Create<SizeNode>();
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
