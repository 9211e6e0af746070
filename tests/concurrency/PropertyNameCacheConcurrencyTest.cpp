// Property names interned from several threads at once.
#include "ConcurrencySupport.h"

#include <PropertyNameCache.h>

#include <gtest/gtest.h>

#include <LightString.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using Qel::Chart::Core::Private::PropertyMetaData::PropertyNameCache;
using Qel::Chart::Utility::LightString_Base;

namespace {

constexpr std::size_t kThreads = 4;
constexpr int kPerThread = 160;
constexpr int kStride = 60;  // neighbouring threads share 100 names

// Short names are stored inline, long ones in a heap block of their own.
std::string NameOf(int p_index) {
    return p_index % 2 == 0 ? "cc" + std::to_string(p_index) : "concurrency.property." + std::to_string(p_index);
}

struct ThreadResult {
    std::map<int, unsigned short> ids;
    std::size_t roundTripFailures = 0;
    bool earlyReferenceKept = false;
};

}  // namespace

TEST(PropertyNameCacheConcurrencyTest, OverlappingNamesInternedOnFourThreadsGetOneDenseIdEach) {
    // The first use creates the cache's tables and lock, which must not race.
    std::string const anchorName = "anchor name of the cache test";
    unsigned short const anchorId = PropertyNameCache::GenerateId(LightString_Base<char>(anchorName));
    LightString_Base<char> const& anchor = PropertyNameCache::FindName(anchorId);
    std::size_t const countBefore = PropertyNameCache::Count();
    std::set<std::string> known;
    for (std::size_t id = 0; id < countBefore; ++id) {
        known.insert(PropertyNameCache::FindName(static_cast<unsigned short>(id)).ToString());
    }

    std::vector<ThreadResult> results(kThreads);
    qeltest::RunTogether(kThreads, [&](std::size_t p_thread) {
        ThreadResult& mine = results[p_thread];
        std::vector<int> order;
        for (int i = 0; i < kPerThread; ++i) {
            order.push_back(static_cast<int>(p_thread) * kStride + i);
        }
        std::mt19937 random(static_cast<unsigned>(99 + p_thread));
        std::shuffle(order.begin(), order.end(), random);
        LightString_Base<char> const* early = nullptr;
        for (int index : order) {
            std::string const name = NameOf(index);
            unsigned short const id = PropertyNameCache::GenerateId(LightString_Base<char>(name));
            mine.ids[index] = id;
            LightString_Base<char> const& stored = PropertyNameCache::FindName(id);
            mine.roundTripFailures += stored.ToString() != name;
            if (early == nullptr) {
                early = &stored;
            }
        }
        // Stored names stay where they were while the others kept adding.
        mine.earlyReferenceKept = early->ToString() == NameOf(order.front()) &&
                                  &PropertyNameCache::FindName(mine.ids[order.front()]) == early &&
                                  &PropertyNameCache::FindName(anchorId) == &anchor;
    });

    std::map<int, unsigned short> agreed;
    for (std::size_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(results[t].roundTripFailures, 0u) << "thread " << t;
        EXPECT_TRUE(results[t].earlyReferenceKept) << "thread " << t;
        for (auto const& entry : results[t].ids) {
            auto const inserted = agreed.insert(entry);
            EXPECT_EQ(inserted.first->second, entry.second) << "two ids for " << NameOf(entry.first);
        }
    }
    std::set<unsigned short> newIds;
    std::set<unsigned short> allIds;
    for (auto const& entry : agreed) {
        allIds.insert(entry.second);
        if (known.count(NameOf(entry.first)) == 0) {
            newIds.insert(entry.second);
        }
        EXPECT_EQ(PropertyNameCache::FindName(entry.second).ToString(), NameOf(entry.first));
    }
    EXPECT_EQ(allIds.size(), agreed.size()) << "two names share an id";
    // The new names took exactly the ids after those that existed before.
    std::size_t const countAfter = PropertyNameCache::Count();
    EXPECT_EQ(countAfter - countBefore, newIds.size());
    if (!newIds.empty()) {
        EXPECT_EQ(*newIds.begin(), countBefore);
        EXPECT_EQ(*newIds.rbegin(), countAfter - 1);
    }
    EXPECT_EQ(anchor.ToString(), anchorName);
}
