// Coin3D beside the library on the fan-out shape. Coin tells the auditors
// of a node, its parents, when it changes: one child under N groups, and
// touch() on the child, gives each group a new node id per change. Built
// when Coin is found.
#include "BenchSupport.h"

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoGroup.h>

#include <vector>

namespace QelBench {
namespace {

void BM_FanOutCoinParents(benchmark::State& p_state) {
    SoDB::init();
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    auto* const source = new SoGroup();
    source->ref();
    std::vector<SoGroup*> parents;
    parents.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto* const parent = new SoGroup();
        parent->ref();
        parent->addChild(source);
        parents.push_back(parent);
    }
    for (auto _ : p_state) {
        source->touch();
    }
    // Ids only grow: every parent heard the last change after the source
    // took its id for it.
    bool heard = true;
    SbUniqueId const last = source->getNodeId();
    for (SoGroup* parent : parents) {
        heard = heard && parent->getNodeId() > last;
    }
    // Last added, first gone: each removal finds its parent at the end of
    // the child's auditor list.
    for (auto it = parents.rbegin(); it != parents.rend(); ++it) {
        (*it)->unref();
    }
    source->unref();
    if (!heard) {
        p_state.SkipWithError("a parent did not hear the last change");
        return;
    }
    SetPerItem(p_state, count + 1);
}

}  // namespace

void RegisterCoinPropagationRows() {
    benchmark::RegisterBenchmark("FanOut/CoinParents", BM_FanOutCoinParents)->Arg(1000)->Arg(100000);
}

}  // namespace QelBench
