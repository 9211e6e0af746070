#include <PropertyMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace graphtest;

namespace {

using MapCreate = MemberTag<void (PropertyMap::*)(IProperty&)>;
using MapFind = MemberTag<int (PropertyMap::*)(std::string const&) const>;
using MapGetByName = MemberTag<IProperty& (PropertyMap::*)(std::string const&) const>;
using MapGetByIndex = MemberTag<IProperty& (PropertyMap::*)(std::uint64_t) const>;

void Create(PropertyMap& p_map, IProperty& p_property) { (p_map.*MapCreate::pointer)(p_property); }
int Find(PropertyMap const& p_map, std::string const& p_name) { return (p_map.*MapFind::pointer)(p_name); }
IProperty& Get(PropertyMap const& p_map, std::string const& p_name) { return (p_map.*MapGetByName::pointer)(p_name); }
IProperty& Get(PropertyMap const& p_map, std::uint64_t p_index) { return (p_map.*MapGetByIndex::pointer)(p_index); }

char const* const kDuplicateText =
    "\"Find(p_property.Name()) == -1\" - void __cdecl Qel::Chart::Core::PropertyMap::Create(class "
    "Qel::Chart::Core::IProperty &)";
char const* const kNameMissText =
    "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line41";
char const* const kIndexMissText =
    "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
    "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";

}  // namespace

template struct graphtest::PrivateMember<MapCreate, &PropertyMap::Create>;
template struct graphtest::PrivateMember<MapFind, &PropertyMap::Find>;
template struct graphtest::PrivateMember<MapGetByName, &PropertyMap::Get>;
template struct graphtest::PrivateMember<MapGetByIndex, &PropertyMap::Get>;

TEST(PropertyMapTest, PropertiesAreFoundByExactNameAtTheirRegistrationPositions) {
    PropertyMap map;
    EXPECT_EQ(Find(map, "a"), -1);
    TestProperty a("a"), b("b"), color("Color");
    Create(map, a);
    Create(map, b);
    Create(map, color);
    EXPECT_EQ(map.Size(), 3u);
    EXPECT_EQ(Find(map, "a"), 0);
    EXPECT_EQ(Find(map, "b"), 1);
    EXPECT_EQ(Find(map, "Color"), 2);
    EXPECT_EQ(Find(map, "color"), -1);
    EXPECT_EQ(Find(map, "Color "), -1);
    EXPECT_EQ(&Get(map, std::uint64_t{1}), &b);
    EXPECT_EQ(&Get(map, std::string("Color")), &color);
}

TEST(PropertyMapTest, DuplicatesMissingNamesAndIndexesOutsideTheTableAreRefused) {
    std::uint64_t const wrapsToZero = std::uint64_t{1} << 32;  // would pass for 0 if cut to 32 bits
    std::uint64_t const aboveIntMax = static_cast<std::uint64_t>(INT_MAX) + 1;
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        TestProperty first("a"), second("a");
        PropertyMap map, empty;
        Create(map, first);
        capture cap(policy);
        EXPECT_EQ(CheckFailure([&] { Create(map, second); }), kDuplicateText);
        EXPECT_EQ(map.Size(), 1u);
        EXPECT_EQ(&Get(map, std::uint64_t{0}), &first);
        EXPECT_EQ(CheckFailure([&] { Get(map, std::string("b")); }), kNameMissText);
        for (std::uint64_t index : {map.Size(), aboveIntMax, wrapsToZero}) {
            EXPECT_EQ(CheckFailure([&] { Get(map, index); }), kIndexMissText) << index;
        }
        EXPECT_EQ(CheckFailure([&] { Get(empty, std::uint64_t{0}); }), kIndexMissText);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), std::vector<std::string>{kDuplicateText});
        EXPECT_EQ(qeltest::Texts(cap, reportkind::sentry), std::vector<std::string>{kNameMissText});
        EXPECT_EQ(qeltest::Texts(cap, reportkind::chkrng), std::vector<std::string>(4, kIndexMissText));
        EXPECT_EQ(cap.records().size(), 6u);
    }
}
