#include "PropertyNameCache.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Name = Qel::Chart::Utility::LightString_Base<char>;

// The cache is process-wide and never forgets: cases intern fresh names and measure ids from Count().

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
    static std::atomic<int> counter{0};
    return "cache-test." + std::to_string(counter++);
}
unsigned short Intern(std::string const& p_text) { return PropertyNameCache::GenerateId(Name(p_text)); }
std::string Lookup(unsigned short p_id) { return PropertyNameCache::FindName(p_id).ToString(); }
}  // namespace

TEST(PropertyNameCacheTest, ConcurrentInterningGivesOneDenseIdPerName) {
    constexpr std::size_t kThreads = 4, kPool = 400;
    if (PropertyNameCache::Count() + kPool > kCapacity) {
        GTEST_SKIP() << "the process-wide name cache is already full";
    }
    std::string const stem = FreshName() + ".";
    std::size_t const start = PropertyNameCache::Count();
    std::vector<std::vector<unsigned short>> seen(kThreads, std::vector<unsigned short>(kPool));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < kPool; ++k) {  // odd threads walk backwards to meet the others head on
                std::size_t const i = t % 2 == 0 ? k : kPool - 1 - k;
                seen[t][i] = Intern(stem + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t t = 1; t < kThreads; ++t) {
        EXPECT_EQ(seen[t], seen[0]) << "two ids for one name";
    }
    for (std::size_t i = 0; i < kPool; ++i) {
        EXPECT_EQ(Lookup(seen[0][i]), stem + std::to_string(i));
        EXPECT_TRUE(seen[0][i] >= start && seen[0][i] < start + kPool) << "ids are dense";
    }
    EXPECT_EQ(PropertyNameCache::Count(), start + kPool) << "one entry per name";
}

// Kept last in this file: it fills the cache, after which the cases above skip.
TEST(PropertyNameCacheTest, HoldsAtMost65535NamesAndFindsOnlyIssuedIds) {
    for (std::size_t id = PropertyNameCache::Count(); id < kCapacity; ++id) {
        ASSERT_EQ(Intern(FreshName()), id);
    }
    EXPECT_EQ(Intern(Lookup(65534)), 65534) << "names already held are still found";
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(Intern(FreshName()), qeldebug::check_failed);
        EXPECT_THROW(PropertyNameCache::FindName(65535), qeldebug::check_failed) << "one past the last id";
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  (std::vector<std::string>{kFullText, kUnknownIdText}));
        EXPECT_EQ(PropertyNameCache::Count(), kCapacity) << "nothing was added";
    }
}
