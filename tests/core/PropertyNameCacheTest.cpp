#include "PropertyNameCache.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Name = Qel::Chart::Utility::LightString_Base<char>;

// The cache is process-wide and never forgets: cases intern fresh names, measure
// ids from Count() and skip once the cache is full, so they run alike in any order.

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
constexpr unsigned short kMaxId = std::numeric_limits<unsigned short>::max();

/// A name that no case in this process has interned before.
std::string FreshName(std::string const& p_stem) {
    static std::atomic<int> counter{0};
    return "cache-test." + std::to_string(counter++) + "." + p_stem;
}

unsigned short Intern(std::string const& p_text) { return PropertyNameCache::GenerateId(Name(p_text)); }
std::string Lookup(unsigned short p_id) { return PropertyNameCache::FindName(p_id).ToString(); }

}  // namespace

#define REQUIRE_ROOM(n)                                                \
    if (PropertyNameCache::Count() + (n) > kCapacity) {                \
        GTEST_SKIP() << "the process-wide name cache is already full"; \
    }

TEST(PropertyNameCacheTest, IdsAreDenseStableAndGivenPerExactName) {
    REQUIRE_ROOM(8);
    std::size_t const start = PropertyNameCache::Count();
    std::string const stem = FreshName("");
    EXPECT_EQ(Intern(stem + "Width"), start);
    EXPECT_EQ(Intern(stem + "width"), start + 1) << "names are compared byte for byte";
    EXPECT_EQ(Intern(stem + "width "), start + 2) << "a trailing blank matters";
    EXPECT_EQ(Lookup(static_cast<unsigned short>(start + 1)), stem + "width");
    EXPECT_EQ(Intern(stem + "Width"), start) << "interning again adds nothing";
    EXPECT_EQ(PropertyNameCache::Count(), start + 3);

    unsigned short const empty = PropertyNameCache::GenerateId(Name());
    EXPECT_EQ(Lookup(empty), "");
    EXPECT_EQ(Intern(""), empty) << "the empty name is a name like any other";

    static char const literal[] = "cache-test.unowned-literal";  // characters the name does not own
    unsigned short const unowned = PropertyNameCache::GenerateId(Name::Unowned(literal, sizeof literal - 1));
    EXPECT_EQ(Lookup(unowned), literal);
    EXPECT_EQ(Intern(literal), unowned);
}

TEST(PropertyNameCacheTest, FindNameOfAnIdNotYetIssuedFails) {
    std::size_t const count = PropertyNameCache::Count();
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(PropertyNameCache::FindName(static_cast<unsigned short>(count)), qeldebug::check_failed);
        EXPECT_THROW(PropertyNameCache::FindName(kMaxId), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  (std::vector<std::string>{kUnknownIdText, kUnknownIdText}));
    }
    EXPECT_EQ(PropertyNameCache::Count(), count);
}

TEST(PropertyNameCacheTest, ReferencesFromFindNameStayValidWhileTheCacheGrows) {
    REQUIRE_ROOM(2001);
    std::string const name = FreshName("long-enough-to-live-on-the-heap");
    unsigned short const id = Intern(name);
    Name const& ref = PropertyNameCache::FindName(id);
    for (int i = 0; i < 2000; ++i) {
        Intern(FreshName("filler"));
    }
    EXPECT_EQ(&ref, &PropertyNameCache::FindName(id));
    EXPECT_EQ(ref.ToString(), name);
}

TEST(PropertyNameCacheTest, ConcurrentInterningGivesOneIdPerName) {
    constexpr std::size_t kThreads = 4, kPool = 400;
    REQUIRE_ROOM(kPool);
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < kPool; ++i) {
        pool.push_back(FreshName("shared"));
    }
    std::size_t const start = PropertyNameCache::Count();
    std::vector<std::vector<unsigned short>> seen(kThreads, std::vector<unsigned short>(kPool));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            // Odd threads walk the pool backwards so that they meet the others head on.
            for (std::size_t k = 0; k < kPool; ++k) {
                std::size_t const i = t % 2 == 0 ? k : kPool - 1 - k;
                seen[t][i] = Intern(pool[i]);
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<unsigned short> ids;
    for (std::size_t i = 0; i < kPool; ++i) {
        for (std::size_t t = 1; t < kThreads; ++t) {
            EXPECT_EQ(seen[t][i], seen[0][i]) << "two ids for " << pool[i];
        }
        EXPECT_EQ(Lookup(seen[0][i]), pool[i]);
        ids.insert(seen[0][i]);
    }
    EXPECT_EQ(ids.size(), kPool) << "one name per id";
    EXPECT_EQ(PropertyNameCache::Count(), start + kPool) << "one entry per name";
}

// Kept last in this file: it fills the cache, after which the cases above skip.
TEST(PropertyNameCacheTest, TheCacheHoldsAtMost65535Names) {
    std::size_t const start = PropertyNameCache::Count();
    ASSERT_LE(start, kCapacity);
    std::string lastName;
    for (std::size_t id = start; id < kCapacity; ++id) {
        lastName = FreshName("fill");
        ASSERT_EQ(Intern(lastName), id);
    }
    ASSERT_EQ(PropertyNameCache::Count(), kCapacity);
    EXPECT_TRUE(lastName.empty() || Lookup(65534) == lastName);
    EXPECT_EQ(Intern(Lookup(65534)), 65534) << "names already held are still found";

    std::string const oneTooMany = FreshName("overflow");
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(Intern(oneTooMany), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure), std::vector<std::string>{kFullText});
        EXPECT_EQ(PropertyNameCache::Count(), kCapacity) << "nothing was added";
        EXPECT_THROW(PropertyNameCache::FindName(kMaxId), qeldebug::check_failed) << "65,535 is never issued";
    }
}
