#include <ExplicitRefMap.h>
#include <PropertyMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace graphtest;

namespace {

using MapCreate = MemberTag<void (PropertyMap::*)(IProperty&)>;
using MapByName = MemberTag<IProperty& (PropertyMap::*)(std::string const&) const>;
using MapByIndex = MemberTag<IProperty& (PropertyMap::*)(std::uint64_t) const>;
using RefRegister = MemberTag<void (ExplicitRefMap::*)(IExplicitRef&)>;
using RefByName = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::string const&) const>;
using RefByIndex = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::uint64_t) const>;

void Add(PropertyMap& p_map, IProperty& p_property) { (p_map.*MapCreate::pointer)(p_property); }
void Add(ExplicitRefMap& p_map, IExplicitRef& p_ref) { (p_map.*RefRegister::pointer)(p_ref); }
void* Get(PropertyMap const& p_map, std::string const& p_name) { return &(p_map.*MapByName::pointer)(p_name); }
void* Get(PropertyMap const& p_map, std::uint64_t p_index) { return &(p_map.*MapByIndex::pointer)(p_index); }
void* Get(ExplicitRefMap const& p_map, std::string const& p_name) { return &(p_map.*RefByName::pointer)(p_name); }
void* Get(ExplicitRefMap const& p_map, std::uint64_t p_index) { return &(p_map.*RefByIndex::pointer)(p_index); }

class Owner : public Node {};

}  // namespace

template struct graphtest::PrivateMember<MapCreate, &PropertyMap::Create>;
template struct graphtest::PrivateMember<MapByName, &PropertyMap::Get>;
template struct graphtest::PrivateMember<MapByIndex, &PropertyMap::Get>;
template struct graphtest::PrivateMember<RefRegister, &ExplicitRefMap::Register>;
template struct graphtest::PrivateMember<RefByName, &ExplicitRefMap::Get>;
template struct graphtest::PrivateMember<RefByIndex, &ExplicitRefMap::Get>;

TEST(PropertyMapTest, NamesAndPositionsAreFoundExactlyAndEverythingElseIsReported) {
    std::string const getByName =
        "::Get(const class std::basic_string<char,struct std::char_traits<char>,class "
        "std::allocator<char> > &) const";
    std::string const getByIndex = "::Get(const unsigned __int64) const";
    std::string const property = "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap";
    std::string const ref = "class Qel::Chart::Core::IExplicitRef &__cdecl Qel::Chart::Core::ExplicitRefMap";
    std::string const propertyIndex = "\"0 <= (int)p_index < (int)_properties.Size()\" - " + property + getByIndex;
    std::string const refIndex = "\"p_index >= 0 && p_index < _refs.Size()\" - " + ref + getByIndex;
    auto owner = Node::Create<Owner>(), other = Node::Create<Owner>();
    Property<int> a(*owner, "a"), color(*owner, "Color"), again(*other, "a");
    ExplicitRef parent(*owner, "parent"), twin(*other, "parent");
    PropertyMap properties, noProperties;
    ExplicitRefMap refs, noRefs;
    Add(properties, a);
    Add(properties, color);
    Add(refs, parent);
    EXPECT_EQ(Get(properties, std::uint64_t{1}), &color);
    EXPECT_EQ(Get(properties, std::string("a")), &a);
    EXPECT_EQ(Get(refs, std::string("parent")), &parent);
    std::uint64_t const aboveInt = std::uint64_t{INT_MAX} + 1, wrapsToZero = std::uint64_t{1} << 32;
    struct Case {
        std::function<void()> action;
        reportkind kind;
        std::string text;
    } const cases[] = {
        {[&] { Add(properties, again); }, reportkind::ensure,
         "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
         "Qel::Chart::Core::IProperty &)"},
        {[&] { Get(properties, std::string("color")); }, reportkind::sentry, property + getByName + " @line41"},
        {[&] { Get(properties, std::uint64_t{2}); }, reportkind::chkrng, propertyIndex},
        {[&] { Get(properties, aboveInt); }, reportkind::chkrng, propertyIndex},
        {[&] { Get(properties, wrapsToZero); }, reportkind::chkrng, propertyIndex},
        {[&] { Get(noProperties, std::uint64_t{0}); }, reportkind::chkrng, propertyIndex},
        {[&] { Add(refs, twin); }, reportkind::ensure,
         "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void "
         "__cdecl Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)"},
        {[&] { Get(refs, std::string("Parent")); }, reportkind::ensure,
         "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - " + ref + getByName},
        {[&] { Get(refs, std::uint64_t{1}); }, reportkind::ensure, refIndex},
        {[&] { Get(refs, aboveInt); }, reportkind::ensure, refIndex},
        {[&] { Get(refs, wrapsToZero); }, reportkind::ensure, refIndex},
        {[&] { Get(noRefs, std::uint64_t{0}); }, reportkind::ensure, refIndex},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (Case const& c : cases) {
            capture cap(policy);
            EXPECT_EQ(CheckFailure(c.action), c.text);  // either policy: there is nothing to return
            EXPECT_EQ(qeltest::Texts(cap, c.kind), Names{c.text});
            EXPECT_EQ(cap.records().size(), 1u);
        }
    }
    EXPECT_EQ(properties.Size() + refs.Size(), 3u);
}
