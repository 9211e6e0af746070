#include "PropertyNameCache.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Name = Qel::Chart::Utility::LightString_Base<char>;

// The cache is process-wide and never forgets: the case interns fresh names and measures ids from Count().

namespace {
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
