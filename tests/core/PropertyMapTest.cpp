#include <PropertyMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace graphtest;

namespace {

using MapCreate = MemberTag<void (PropertyMap::*)(IProperty&)>;
using MapGetByName = MemberTag<IProperty& (PropertyMap::*)(std::string const&) const>;
using MapGetByIndex = MemberTag<IProperty& (PropertyMap::*)(std::uint64_t) const>;

void Create(PropertyMap& p_map, IProperty& p_property) { (p_map.*MapCreate::pointer)(p_property); }
IProperty& Get(PropertyMap const& p_map, std::string const& p_name) { return (p_map.*MapGetByName::pointer)(p_name); }
IProperty& Get(PropertyMap const& p_map, std::uint64_t p_index) { return (p_map.*MapGetByIndex::pointer)(p_index); }

}  // namespace

template struct graphtest::PrivateMember<MapCreate, &PropertyMap::Create>;
template struct graphtest::PrivateMember<MapGetByName, &PropertyMap::Get>;
template struct graphtest::PrivateMember<MapGetByIndex, &PropertyMap::Get>;

TEST(PropertyMapTest, PropertiesAreFoundByExactNameOrPositionAndEverythingElseIsReported) {
    std::string const duplicate =
        "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
        "Qel::Chart::Core::IProperty &)";
    std::string const nameMiss =
        "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
        "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line41";
    std::string const indexMiss =
        "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
        "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";
    TestProperty a(nullptr, "a"), color(nullptr, "Color"), again(nullptr, "a");
    PropertyMap map, empty;
    Create(map, a);
    Create(map, color);
    EXPECT_EQ(&Get(map, std::uint64_t{1}), &color);
    EXPECT_EQ(&Get(map, std::string("a")), &a);
    struct Case {
        std::function<void()> action;
        reportkind kind;
        std::string const& text;
    } const cases[] = {
        {[&] { Create(map, again); }, reportkind::ensure, duplicate},
        {[&] { Get(map, std::string("color")); }, reportkind::sentry, nameMiss},
        {[&] { Get(map, std::uint64_t{2}); }, reportkind::chkrng, indexMiss},
        {[&] { Get(map, static_cast<std::uint64_t>(INT_MAX) + 1); }, reportkind::chkrng, indexMiss},
        {[&] { Get(map, std::uint64_t{1} << 32); }, reportkind::chkrng, indexMiss},  // 0 if cut to 32 bits
        {[&] { Get(empty, std::uint64_t{0}); }, reportkind::chkrng, indexMiss},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (Case const& c : cases) {
            capture cap(policy);
            EXPECT_EQ(CheckFailure(c.action), c.text);  // either policy: there is nothing to return
            EXPECT_EQ(qeltest::Texts(cap, c.kind), Names{c.text}) << &c - cases;
            EXPECT_EQ(cap.records().size(), 1u);
        }
    }
    EXPECT_EQ(map.Size(), 2u);
}
