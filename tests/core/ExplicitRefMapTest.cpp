#include <ExplicitRefMap.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

using namespace graphtest;

namespace {

using RefRegister = MemberTag<void (ExplicitRefMap::*)(IExplicitRef&)>;
using RefGetByName = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::string const&) const>;
using RefGetByIndex = MemberTag<IExplicitRef& (ExplicitRefMap::*)(std::uint64_t) const>;

void Register(ExplicitRefMap& p_map, IExplicitRef& p_ref) { (p_map.*RefRegister::pointer)(p_ref); }
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

}  // namespace

template struct graphtest::PrivateMember<RefRegister, &ExplicitRefMap::Register>;
template struct graphtest::PrivateMember<RefGetByName, &ExplicitRefMap::Get>;
template struct graphtest::PrivateMember<RefGetByIndex, &ExplicitRefMap::Get>;

TEST(ExplicitRefMapTest, CopiesShareTheReferencesButNotTheStorage) {
    TestRef a(nullptr, "a"), b(nullptr, "b"), c(nullptr, "c");
    ExplicitRefMap source;
    Register(source, b);
    ExplicitRefMap copy(source), target;
    Register(copy, c);
    Register(target, a);
    EXPECT_EQ(&(target = source), &target);
    target = static_cast<ExplicitRefMap const&>(target);
    EXPECT_EQ(&Get(target, std::string("b")), &b);
    EXPECT_EQ(Refs(copy), (std::vector<IExplicitRef const*>{&b, &c}));
    EXPECT_EQ(Refs(source), (std::vector<IExplicitRef const*>{&b}));
    EXPECT_EQ(Refs(target), (std::vector<IExplicitRef const*>{&b}));
}

TEST(ExplicitRefMapTest, DuplicatesAndMissesByNameOrIndexAreReported) {
    std::string const duplicate =
        "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void __cdecl "
        "Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)";
    std::string const nameMiss =
        "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class Qel::Chart::Core::IExplicitRef "
        "&__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class std::basic_string<char,struct "
        "std::char_traits<char>,class std::allocator<char> > &) const";
    std::string const indexMiss =
        "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
        "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const";
    TestRef first(nullptr, "parent"), second(nullptr, "parent");
    ExplicitRefMap map, empty;
    Register(map, first);
    std::pair<std::function<void()>, std::string const&> const cases[] = {
        {[&] { Register(map, second); }, duplicate},
        {[&] { Get(map, std::string("Parent")); }, nameMiss},
        {[&] { Get(map, std::uint64_t{1}); }, indexMiss},
        {[&] { Get(map, static_cast<std::uint64_t>(INT_MAX) + 1); }, indexMiss},
        {[&] { Get(map, std::uint64_t{1} << 32); }, indexMiss},  // 0 if cut to 32 bits
        {[&] { Get(empty, std::uint64_t{0}); }, indexMiss},
    };
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        for (auto const& [action, text] : cases) {
            capture cap(policy);
            EXPECT_EQ(CheckFailure(action), text);  // either policy: there is nothing to return
            EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Names{text});
        }
    }
    EXPECT_EQ(Refs(map), std::vector<IExplicitRef const*>{&first});
}
