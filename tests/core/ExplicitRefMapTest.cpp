#include <ExplicitRefMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace graphtest;

namespace {

using RefRegister = MemberTag<void (ExplicitRefMap::*)(IExplicitRef&)>;
using RefFind = MemberTag<int (ExplicitRefMap::*)(std::string const&) const>;
using RefGetByName = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::string const&) const>;
using RefGetByIndex = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::uint64_t) const>;

void Register(ExplicitRefMap& p_map, IExplicitRef& p_ref) { (p_map.*RefRegister::pointer)(p_ref); }
int Find(ExplicitRefMap const& p_map, std::string const& p_name) { return (p_map.*RefFind::pointer)(p_name); }
IExplicitRef& Get(ExplicitRefMap const& p_map, std::string const& p_name) {
    return (p_map.*RefGetByName::pointer)(p_name);
}
IExplicitRef& Get(ExplicitRefMap const& p_map, std::uint64_t p_index) {
    return (p_map.*RefGetByIndex::pointer)(p_index);
}
std::vector<IExplicitRef const*> Refs(ExplicitRefMap const& p_map) {
    std::vector<IExplicitRef const*> result;
    for (std::uint64_t i = 0; i < p_map.Size(); ++i) {
        result.push_back(&Get(p_map, i));
    }
    return result;
}

char const* const kDuplicateText =
    "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void __cdecl "
    "Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)";
char const* const kNameMissText =
    "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class Qel::Chart::Core::IExplicitRef "
    "&__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class std::basic_string<char,struct "
    "std::char_traits<char>,class std::allocator<char> > &) const";
char const* const kIndexMissText =
    "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
    "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const";

}  // namespace

template struct graphtest::PrivateMember<RefRegister, &ExplicitRefMap::Register>;
template struct graphtest::PrivateMember<RefFind, &ExplicitRefMap::Find>;
template struct graphtest::PrivateMember<RefGetByName, &ExplicitRefMap::Get>;
template struct graphtest::PrivateMember<RefGetByIndex, &ExplicitRefMap::Get>;

TEST(ExplicitRefMapTest, ReferencesAreFoundAtTheirRegistrationPositions) {
    ExplicitRefMap map;
    EXPECT_EQ(Find(map, "parent"), -1);
    TestRef parent("parent"), children("children", true);
    Register(map, parent);
    Register(map, children);
    EXPECT_EQ(Find(map, "parent"), 0);
    EXPECT_EQ(Find(map, "children"), 1);
    EXPECT_EQ(Find(map, "Children"), -1);
    EXPECT_EQ(&Get(map, std::string("children")), &children);
    EXPECT_EQ(&Get(map, std::uint64_t{0}), &parent);
}

TEST(ExplicitRefMapTest, DuplicatesAndMissesByNameOrIndexAreRefused) {
    std::uint64_t const wrapsToZero = std::uint64_t{1} << 32;  // would pass for 0 if cut to 32 bits
    std::uint64_t const aboveIntMax = static_cast<std::uint64_t>(INT_MAX) + 1;
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        TestRef first("parent"), second("parent");
        ExplicitRefMap map, empty;
        Register(map, first);
        capture cap(policy);
        EXPECT_EQ(CheckFailure([&] { Register(map, second); }), kDuplicateText);
        EXPECT_EQ(Refs(map), std::vector<IExplicitRef const*>{&first});
        EXPECT_EQ(CheckFailure([&] { Get(map, std::string("child")); }), kNameMissText);
        EXPECT_EQ(CheckFailure([&] { Get(empty, std::string("parent")); }), kNameMissText);
        for (std::uint64_t index : {map.Size(), aboveIntMax, wrapsToZero}) {
            EXPECT_EQ(CheckFailure([&] { Get(map, index); }), kIndexMissText) << index;
        }
        EXPECT_EQ(CheckFailure([&] { Get(empty, std::uint64_t{0}); }), kIndexMissText);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure),
                  (std::vector<std::string>{kDuplicateText, kNameMissText, kNameMissText, kIndexMissText,
                                            kIndexMissText, kIndexMissText, kIndexMissText}));
    }
}

TEST(ExplicitRefMapTest, CopiesAndAssignmentShareTheReferencesButNotTheStorage) {
    TestRef a("a"), b("b"), c("c"), extra("extra");
    ExplicitRefMap source;
    Register(source, b);
    Register(source, c);
    using Expected = std::vector<IExplicitRef const*>;

    ExplicitRefMap copy(source);
    EXPECT_EQ(Refs(copy), (Expected{&b, &c}));
    Register(copy, extra);
    EXPECT_EQ(copy.Size(), 3u);
    EXPECT_EQ(Refs(source), (Expected{&b, &c}));
    ExplicitRefMap const none;
    EXPECT_EQ(ExplicitRefMap(none).Size(), 0u);

    ExplicitRefMap target;
    Register(target, a);
    EXPECT_EQ(&(target = source), &target);
    EXPECT_EQ(Refs(target), (Expected{&b, &c}));
    EXPECT_EQ(Find(target, "a"), -1);
    ExplicitRefMap const& alias = target;
    target = alias;
    EXPECT_EQ(Refs(target), (Expected{&b, &c}));
    target = ExplicitRefMap();
    EXPECT_EQ(target.Size(), 0u);
    EXPECT_EQ(Refs(source), (Expected{&b, &c}));
}
