#include "PropertyNameCache.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Name = Qel::Chart::Utility::LightString_Base<char>;

// The cache is process-wide and never forgets. These cases run alike in one
// process or one process each: they intern fresh names and measure ids from
// Count(), and they skip once the cache is full.

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

/// A name that no case in this process has interned before.
std::string FreshName(std::string const& p_stem) {
    static std::atomic<int> counter{0};
    return "cache-test." + std::to_string(counter++) + "." + p_stem;
}

unsigned short Intern(std::string const& p_text) { return PropertyNameCache::GenerateId(Name(p_text)); }
std::string Lookup(unsigned short p_id) { return PropertyNameCache::FindName(p_id).ToString(); }

bool HasRoomFor(std::size_t p_names) { return PropertyNameCache::Count() + p_names <= kCapacity; }

}  // namespace

#define REQUIRE_ROOM(n)                                                \
    if (!HasRoomFor(n)) {                                              \
        GTEST_SKIP() << "the process-wide name cache is already full"; \
    }

TEST(PropertyNameCacheTest, IdsAreDenseInOrderOfFirstInterningAndStable) {
    REQUIRE_ROOM(3);
    std::size_t const start = PropertyNameCache::Count();
    std::string const a = FreshName("A"), b = FreshName("B"), c = FreshName("C");
    EXPECT_EQ(Intern(a), start);
    EXPECT_EQ(Intern(b), start + 1);
    EXPECT_EQ(Intern(c), start + 2);
    EXPECT_EQ(Lookup(static_cast<unsigned short>(start + 1)), b);
    EXPECT_EQ(Intern(std::string(a)), start) << "interning again adds nothing";
    EXPECT_EQ(PropertyNameCache::Count(), start + 3);
}

TEST(PropertyNameCacheTest, NamesAreComparedByteForByte) {
    REQUIRE_ROOM(5);
    std::string const stem = FreshName("");
    unsigned short const upper = Intern(stem + "Width");
    unsigned short const lower = Intern(stem + "width");
    EXPECT_NE(upper, lower);
    EXPECT_NE(Intern(stem + "width "), lower) << "a trailing blank matters";
    EXPECT_EQ(Lookup(upper), stem + "Width");

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
    unsigned short const next = static_cast<unsigned short>(count);
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(PropertyNameCache::FindName(next), qeldebug::check_failed);
        EXPECT_THROW(PropertyNameCache::FindName(std::numeric_limits<unsigned short>::max()), qeldebug::check_failed);
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
    constexpr int kThreads = 4;
    constexpr int kPool = 400;
    constexpr int kPerThread = 200;  // overlapping windows of the pool
    REQUIRE_ROOM(kPool);
    std::vector<std::string> pool;
    for (int i = 0; i < kPool; ++i) {
        pool.push_back(FreshName("shared"));
    }
    std::size_t const start = PropertyNameCache::Count();

    std::vector<std::map<std::string, unsigned short>> seen(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            // Odd threads walk their window backwards so that they meet the others head on.
            for (int k = 0; k < kPerThread; ++k) {
                int const offset = (t % 2 == 0) ? k : kPerThread - 1 - k;
                std::string const& name = pool[static_cast<std::size_t>((t * 70 + offset) % kPool)];
                seen[static_cast<std::size_t>(t)][name] = Intern(name);
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::map<std::string, unsigned short> agreed;
    std::set<unsigned short> ids;
    for (auto const& perThread : seen) {
        for (auto const& entry : perThread) {
            EXPECT_EQ(agreed.insert(entry).first->second, entry.second) << "two ids for " << entry.first;
            EXPECT_EQ(Lookup(entry.second), entry.first);
            ids.insert(entry.second);
        }
    }
    EXPECT_EQ(ids.size(), agreed.size()) << "one name per id";
    EXPECT_EQ(PropertyNameCache::Count(), start + agreed.size()) << "one entry per name";
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
    }
    qeldebug::capture cap(qeldebug::failpolicy::returning);
    EXPECT_THROW(PropertyNameCache::FindName(std::numeric_limits<unsigned short>::max()), qeldebug::check_failed)
        << "65,535 is never issued";
}
