// Coin3D beside the library on node lifetime and watcher polls: nodes made
// and released in batches, and polls of node ids. Built when Coin is found.
#include "BenchSupport.h"

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoGroup.h>

#include <vector>

namespace QelBench {
namespace {

void BM_CreateDestroyCoinNode(benchmark::State& p_state) {
    SoDB::init();
    std::vector<SoGroup*> batch;
    batch.reserve(kBatch);
    std::uint64_t made = 0;
    for (auto _ : p_state) {
        for (std::size_t i = 0; i < kBatch; ++i) {
            auto* const node = new SoGroup();
            node->ref();
            batch.push_back(node);
        }
        benchmark::DoNotOptimize(batch.data());
        made += batch.size();
        for (SoGroup* node : batch) {
            node->unref();  // the last reference deletes the node
        }
        batch.clear();
    }
    if (made != static_cast<std::uint64_t>(p_state.iterations()) * kBatch) {
        p_state.SkipWithError("a batch made other than 1,000 nodes");
        return;
    }
    SetPerItem(p_state, kBatch);
}

// Coin's way to tell a node changed: its id moves on every change. Coin has
// no weak references, so each watcher holds a reference to its node.
struct CoinWatcher {
    SoNode* node;
    SbUniqueId last;
    bool Modified() const { return node->getNodeId() != last; }
};

void BM_WatcherPollCoinNodeId(benchmark::State& p_state) {
    SoDB::init();
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    std::vector<CoinWatcher> watchers;
    watchers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto* const node = new SoGroup();
        node->ref();
        watchers.push_back(CoinWatcher{node, node->getNodeId()});
    }
    auto poll = [&watchers] { return AnyModifiedLoop(watchers); };
    std::int64_t const clean = CleanPolls(p_state, poll);
    watchers[count - 1].node->touch();
    bool const seen = poll();
    for (CoinWatcher const& watcher : watchers) {
        watcher.node->unref();
    }
    if (clean != p_state.iterations() || !seen) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

}  // namespace

void RegisterCoinNodeRows() {
    benchmark::RegisterBenchmark("CreateDestroy/CoinNode", BM_CreateDestroyCoinNode);
    benchmark::RegisterBenchmark("WatcherPoll/CoinNodeId", BM_WatcherPollCoinNodeId)->Arg(1000)->Arg(100000);
}

}  // namespace QelBench
