#include "PropertyAccess.h"

#include "../WatchTestSupport.h"
#include "Property.h"

#include <cstdint>

using namespace Qel::Chart::Core;
using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::PropertyAccess;

namespace {

char const* const kNameMissText =
    "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line41";
char const* const kIndexMissText =
    "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
    "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";

class SizeNode : public RecordingNode {
public:
    SizeNode() : _size(*this, "size", 4), _title(*this, "title") {}
    Property<int> _size;
    Property<std::string> _title;  // undefined until set
};

}  // namespace

TEST(PropertyAccessTest, ByReferenceNameAndPositionDesignateTheSameProperty) {
    Ptr<SizeNode> node = Node::Create<SizeNode>();
    PropertyAccess byRef(node, node->_size), byName(node, std::string("size")), byIndex(node, std::uint64_t{0});
    PropertyAccess copy(byIndex);
    for (PropertyAccess const* access : {&byRef, &byName, &byIndex, &copy}) {
        EXPECT_EQ(access->Name(), "size");
        EXPECT_EQ(access->Type(), typeid(int));
    }
    byName.SetValue(boost::any(17));
    boost::any value;
    copy.GetValue(value);
    EXPECT_EQ(boost::any_cast<int>(value), 17);
    EXPECT_EQ(byRef.GetValueAsStringDebug(), "17");
    EXPECT_EQ(PropertyAccess(node, std::uint64_t{1}).Name(), "title");
}

TEST(PropertyAccessTest, MissesFailTheirChecksExistsReportsNothing) {
    Ptr<SizeNode> node = Node::Create<SizeNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<SizeNode> weak(node);
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(PropertyAccess(node, std::string("Size")), qeldebug::check_failed) << "names are case sensitive";
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::sentry), std::vector<std::string>{kNameMissText});
        EXPECT_EQ(cap.records().size(), 1u) << "a name miss is reported through sentry alone";
        EXPECT_THROW(PropertyAccess(node, std::uint64_t{2}), qeldebug::check_failed);
        EXPECT_THROW(PropertyAccess(node, std::uint64_t{1} << 40), qeldebug::check_failed);
        EXPECT_THROW(PropertyAccess(empty, std::uint64_t{0}), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::chkrng),
                  (std::vector<std::string>{kIndexMissText, kIndexMissText, kIndexMissText}));
    }
    qeldebug::capture cap;
    EXPECT_FALSE(PropertyAccess::Exists(empty, "size") || PropertyAccess::Exists(empty, ""));
    EXPECT_TRUE(PropertyAccess::Exists(node, "title"));
    EXPECT_FALSE(PropertyAccess::Exists(node, "Title"));
    EXPECT_TRUE(cap.records().empty());
    node = Ptr<SizeNode>();
    EXPECT_TRUE(weak.Expired()) << "the failed constructors released their node reference";
}

TEST(PropertyAccessTest, ValuesAndChangesAreThePropertysOwn) {
    Ptr<SizeNode> node = Node::Create<SizeNode>();
    boost::any value = std::string("held before");
    PropertyAccess(node, node->_size).GetValue(value);
    EXPECT_EQ(boost::any_cast<int>(value), 4);
    PropertyAccess title(node, node->_title);
    title.GetValue(value);
    EXPECT_TRUE(value.empty()) << "an undefined value replaces it too";
    bool defined = true;
    title.IsValueDefined(defined);
    EXPECT_FALSE(defined);
    title.SetValue(boost::any(std::string("set")));
    title.IsValueDefined(defined);
    EXPECT_TRUE(defined);
    EXPECT_THROW(title.SetValue(boost::any(1)), boost::bad_any_cast) << "the property's exception passes through";

    WeakPtr<SizeNode> weak(node);
    PropertyAccess access(node, std::string("size"));
    std::vector<TouchRecord> const& heard = node->_touches;
    node->_touches.clear();
    node = Ptr<SizeNode>();
    EXPECT_FALSE(weak.Expired()) << "the accessor keeps its node alive";
    access.ResetValue();
    EXPECT_EQ(access.GetValueAsStringDebug(), "undefined");
    access.Touch();
    access.SetValue(boost::any(5));
    ASSERT_EQ(heard.size(), 3u) << "one announcement each, by the property";
    EXPECT_EQ(heard[0]._change, IM::Clear);
    EXPECT_EQ(heard[1]._change, IM::Force);
    EXPECT_EQ(heard[2]._change, IM::Edit);
}
