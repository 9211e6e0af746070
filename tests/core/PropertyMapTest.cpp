#include <ExplicitRefMap.h>
#include <PropertyMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <tuple>

using namespace graphtest;

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
    std::string const getByName =
        "::Get(const class std::basic_string<char,struct std::char_traits<char>,class "
        "std::allocator<char> > &) const";
    std::string const getByIndex = "::Get(const unsigned __int64) const";
    std::string const property = "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap";
    std::string const ref = "class Qel::Chart::Core::IExplicitRef &__cdecl Qel::Chart::Core::ExplicitRefMap";
    std::string const propertyIndex = "\"0 <= (int)p_index < (int)_properties.Size()\" - " + property + getByIndex;
    std::string const refIndex = "\"p_index >= 0 && p_index < _refs.Size()\" - " + ref + getByIndex;
    auto owner = Node::Create<RecordingNode>(), none = Node::Create<RecordingNode>();
    Property<int> a(*owner, "a"), color(*owner, "Color");
    ExplicitRef parent(*owner, "parent");
    PropertyMap const &properties = PropertiesOf(owner), &noProperties = PropertiesOf(none);
    ExplicitRefMap const &refs = RefsOf(owner), &noRefs = RefsOf(none);
    EXPECT_EQ(Get(properties, std::uint64_t{1}), &color);
    EXPECT_EQ(Get(properties, std::string("a")), &a);
    EXPECT_EQ(Get(refs, std::string("parent")), &parent);
    std::tuple<std::function<void()>, reportkind, std::string> const cases[] = {
        {[&] { Property<int> again(*owner, "a"); }, reportkind::ensure,
         "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
         "Qel::Chart::Core::IProperty &)"},
        {[&] { Get(properties, std::string("color")); }, reportkind::sentry, property + getByName + " @line41"},
        {[&] { Get(properties, std::uint64_t{2}); }, reportkind::chkrng, propertyIndex},
        {[&] { Get(properties, std::uint64_t{INT_MAX} + 1); }, reportkind::chkrng, propertyIndex},
        {[&] { Get(properties, std::uint64_t{1} << 32); }, reportkind::chkrng, propertyIndex},  // 0 if cut to int
        {[&] { Get(noProperties, std::uint64_t{0}); }, reportkind::chkrng, propertyIndex},
        {[&] { ExplicitRef twin(*owner, "parent"); }, reportkind::ensure,
         "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void "
         "__cdecl Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)"},
        {[&] { Get(refs, std::string("Parent")); }, reportkind::ensure,
         "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - " + ref + getByName},
        {[&] { Get(refs, std::uint64_t{1}); }, reportkind::ensure, refIndex},
        {[&] { Get(noRefs, std::uint64_t{0}); }, reportkind::ensure, refIndex},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (auto const& [action, kind, text] : cases) {
            capture cap(policy);
            EXPECT_EQ(CheckFailure(action), text);  // either policy: there is nothing to return
            EXPECT_EQ(qeltest::Texts(cap, kind), Names{text});
            EXPECT_EQ(cap.records().size(), 1u);
        }
    }
    EXPECT_EQ(properties.Size() + refs.Size(), 3u);
}
