#include <ExplicitRefMap.h>
#include <PropertyMap.h>
#include <PropertyNameCache.h>

#include "ExpectedReports.h"
#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <tuple>

using namespace graphtest;
using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Name = Qel::Chart::Utility::LightString_Base<char>;

namespace {

using NodeProperties = MemberTag<PropertyMap Node::*>;
using NodeRefs = MemberTag<ExplicitRefMap Node::*>;
using MapByName = MemberTag<IProperty& (PropertyMap::*)(std::string const&) const>;
using MapByIndex = MemberTag<IProperty& (PropertyMap::*)(std::uint64_t) const>;
using RefByName = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::string const&) const>;
using RefByIndex = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::uint64_t) const>;

PropertyMap const& PropertiesOf(Ptr<Node> const& p_node) { return (*p_node).*NodeProperties::pointer; }
ExplicitRefMap const& RefsOf(Ptr<Node> const& p_node) { return (*p_node).*NodeRefs::pointer; }
void* Get(PropertyMap const& p_map, std::string const& p_name) { return &(p_map.*MapByName::pointer)(p_name); }
void* Get(PropertyMap const& p_map, std::uint64_t p_index) { return &(p_map.*MapByIndex::pointer)(p_index); }
void* Get(ExplicitRefMap const& p_map, std::string const& p_name) { return &(p_map.*RefByName::pointer)(p_name); }
void* Get(ExplicitRefMap const& p_map, std::uint64_t p_index) { return &(p_map.*RefByIndex::pointer)(p_index); }

// The cache is process-wide and never forgets: the case interns fresh names and measures ids from Count().

char const* const kFullText =
    "\"(newId < std::numeric_limits<unsigned short>::max()) && \"The number of properties is larger then a single "
    "unsigned short can represent.\"\" - unsigned short __cdecl "
    "Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache::GenerateId(const class "
    "Qel::Chart::Utility::LightString_Base<char> &)";
char const* const kUnknownIdText =
    "\"p_id < _idToString.size()\" - const class Qel::Chart::Utility::LightString_Base<char> &__cdecl "
    "Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache::FindName(const unsigned short)";
constexpr std::size_t kCapacity = 65535;

std::string FreshName() {
    static int counter = 0;
    return "cache-test." + std::to_string(counter++);
}
unsigned short Intern(std::string const& p_text) { return PropertyNameCache::GenerateId(Name(p_text)); }
std::string Lookup(unsigned short p_id) { return PropertyNameCache::FindName(p_id).ToString(); }
}  // namespace

template struct graphtest::PrivateMember<NodeProperties, &Node::_propertyMap>;
template struct graphtest::PrivateMember<NodeRefs, &Node::_explicitRefMap>;
template struct graphtest::PrivateMember<MapByName, &PropertyMap::Get>;
template struct graphtest::PrivateMember<MapByIndex, &PropertyMap::Get>;
template struct graphtest::PrivateMember<RefByName, &ExplicitRefMap::Get>;
template struct graphtest::PrivateMember<RefByIndex, &ExplicitRefMap::Get>;

TEST(PropertyMapTest, NamesAndPositionsAreFoundExactlyAndEverythingElseIsReported) {
    // The local objects end before their node, which is reported: keep it off the console.
    qeldebug::capture const endings;
    auto owner = Node::Create<RecordingNode>(), none = Node::Create<RecordingNode>();
    Property<int> a(*owner, "a"), color(*owner, "Color");
    ExplicitRef parent(*owner, "parent");
    PropertyMap const &properties = PropertiesOf(owner), &noProperties = PropertiesOf(none);
    ExplicitRefMap const &refs = RefsOf(owner), &noRefs = RefsOf(none);
    EXPECT_EQ(Get(properties, std::uint64_t{1}), &color);
    EXPECT_EQ(Get(properties, std::string("a")), &a);
    EXPECT_EQ(Get(refs, std::string("parent")), &parent);
    std::tuple<std::function<void()>, reportkind, std::string> const cases[] = {
        {[&] { Property<int> again(*owner, "a"); }, reportkind::ensure, qeltest::kDuplicateProperty},
        {[&] { Get(properties, std::string("color")); }, reportkind::sentry, qeltest::kPropertyNameMiss},
        {[&] { Get(properties, std::uint64_t{2}); }, reportkind::chkrng, qeltest::kPropertyIndexMiss},
        {[&] { Get(properties, std::uint64_t{INT_MAX} + 1); }, reportkind::chkrng, qeltest::kPropertyIndexMiss},
        // 0 if cut to int
        {[&] { Get(properties, std::uint64_t{1} << 32); }, reportkind::chkrng, qeltest::kPropertyIndexMiss},
        {[&] { Get(noProperties, std::uint64_t{0}); }, reportkind::chkrng, qeltest::kPropertyIndexMiss},
        {[&] { ExplicitRef twin(*owner, "parent"); }, reportkind::ensure,
         "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void "
         "__cdecl Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)"},
        {[&] { Get(refs, std::string("Parent")); }, reportkind::ensure, qeltest::kRefNameMiss},
        {[&] { Get(refs, std::uint64_t{1}); }, reportkind::ensure, qeltest::kRefIndexMiss},
        {[&] { Get(noRefs, std::uint64_t{0}); }, reportkind::ensure, qeltest::kRefIndexMiss},
    };
    for (auto const& [action, kind, text] : cases) {
        SCOPED_TRACE(text);
        qeltest::ExpectRefused(action, kind, text);  // either policy: there is nothing to return
    }
    EXPECT_EQ(properties.Size() + refs.Size(), 3u);
}

TEST(PropertyNameCacheTest, HoldsAtMost65535NamesAndFindsOnlyIssuedIds) {
    for (std::size_t id = PropertyNameCache::Count(); id < kCapacity; ++id) {
        ASSERT_EQ(Intern(FreshName()), id);
    }
    EXPECT_EQ(Intern(Lookup(65534)), 65534) << "names already held are still found";
    qeltest::ExpectRefused([] { Intern(FreshName()); }, qeldebug::reportkind::ensure, kFullText);
    EXPECT_EQ(PropertyNameCache::Count(), kCapacity) << "nothing was added";
    // One past the last id.
    qeltest::ExpectRefused([] { PropertyNameCache::FindName(65535); }, qeldebug::reportkind::ensure, kUnknownIdText);
}
