// Node lifetime and memory, watcher polls, the cycle search and the
// property name cache, each beside its baseline.
#include "BenchSupport.h"

#include <TrackerCompanion.h>

#include <malloc.h>

#include <atomic>

namespace QelBench {
namespace {

// --- Create empty nodes in batches, then drop the batch: the allocator
// and the per-thread caches see what a model that loads or rebuilds sees,
// not one node made and dropped at a time (kBatch and kLargeBatch).

template <std::size_t Batch>
void BM_CreateDestroyLibrary(benchmark::State& p_state) {
    // Registers the class and warms the allocator before the clock runs.
    int const firstId = Core::Accessors::NodeAccess(Core::Node::Create<EmptyNode>()).UniqueId();
    int const countBefore = Core::Node::_debugNodeCount.load();
    std::vector<Core::Ptr<EmptyNode>> batch;
    batch.reserve(Batch);
    for (auto _ : p_state) {
        for (std::size_t i = 0; i < Batch; ++i) {
            batch.push_back(Core::Node::Create<EmptyNode>());
        }
        benchmark::DoNotOptimize(batch.data());
        batch.clear();
    }
    int const lastId = Core::Accessors::NodeAccess(Core::Node::Create<EmptyNode>()).UniqueId();
    // Every iteration made exactly one batch and every node is gone again.
    if (static_cast<std::int64_t>(lastId) - firstId - 1 !=
            static_cast<std::int64_t>(p_state.iterations()) * static_cast<std::int64_t>(Batch) ||
        Core::Node::_debugNodeCount.load() != countBefore) {
        p_state.SkipWithError("node ids or the live node count moved other than once per node");
        return;
    }
    SetPerItem(p_state, Batch);
}

template <std::size_t Batch>
void BM_CreateDestroyBaseline(benchmark::State& p_state) {
    Baseline::DeleteNode(Baseline::NewNode());
    std::uint64_t const constructed = Baseline::BaseNode::Constructed();
    std::uint64_t const destroyed = Baseline::BaseNode::Destroyed();
    std::vector<Baseline::BaseNode*> batch;
    batch.reserve(Batch);
    for (auto _ : p_state) {
        for (std::size_t i = 0; i < Batch; ++i) {
            batch.push_back(Baseline::NewNode());
        }
        benchmark::DoNotOptimize(batch.data());
        for (Baseline::BaseNode* node : batch) {
            Baseline::DeleteNode(node);
        }
        batch.clear();
    }
    std::uint64_t const nodes = static_cast<std::uint64_t>(p_state.iterations()) * Batch;
    if (Baseline::BaseNode::Constructed() - constructed != nodes ||
        Baseline::BaseNode::Destroyed() - destroyed != nodes) {
        p_state.SkipWithError("baseline constructions or destructions differ from the nodes");
        return;
    }
    SetPerItem(p_state, Batch);
}

// The baseline's create + destroy plus the atomic read-modify-writes that a
// node's contracts ask for, on the same kinds of locations: the process's
// id counter, live-node count and byte count (one each way but the id), and
// the node's own use and weak counts (the owner's, and the weak handle to
// itself that a node keeps from its creation to its destructor). The
// library cannot go below this row; the gap above it is its own work.
struct LockedNode final : Baseline::BaseNode {
    std::atomic<int> use{1};
    std::atomic<int> weak{1};
};
std::atomic<std::int64_t> g_lockedIds{0};
std::atomic<int> g_lockedCount{0};
std::atomic<int> g_lockedBytes{0};

void BM_CreateDestroyBaselineLocked(benchmark::State& p_state) {
    constexpr int kBytes = static_cast<int>(sizeof(LockedNode));
    std::int64_t const idsBefore = g_lockedIds.load();
    std::vector<LockedNode*> batch;
    batch.reserve(kBatch);
    for (auto _ : p_state) {
        for (std::size_t i = 0; i < kBatch; ++i) {
            g_lockedBytes.fetch_add(kBytes);
            auto* const node = new LockedNode();
            g_lockedIds.fetch_add(1);
            g_lockedCount.fetch_add(1);
            node->weak.fetch_add(1);
            batch.push_back(node);
        }
        benchmark::DoNotOptimize(batch.data());
        for (LockedNode* node : batch) {
            if (node->use.fetch_sub(1) == 1) {
                node->weak.fetch_sub(1);
                g_lockedBytes.fetch_sub(kBytes);
                g_lockedCount.fetch_sub(1);
                if (node->weak.fetch_sub(1) == 1) {
                    delete node;
                }
            }
        }
        batch.clear();
    }
    if (g_lockedCount.load() != 0 || g_lockedBytes.load() != 0 ||
        g_lockedIds.load() - idsBefore !=
            static_cast<std::int64_t>(p_state.iterations()) * static_cast<std::int64_t>(kBatch)) {
        p_state.SkipWithError("a locked baseline node was left over or miscounted");
        return;
    }
    SetPerItem(p_state, kBatch);
}

BENCHMARK(BM_CreateDestroyLibrary<kBatch>)->Name("CreateDestroy/Library");
BENCHMARK(BM_CreateDestroyBaseline<kBatch>)->Name("CreateDestroy/Baseline");
BENCHMARK(BM_CreateDestroyLibrary<kLargeBatch>)->Name("CreateDestroy/Library/100000");
BENCHMARK(BM_CreateDestroyBaseline<kLargeBatch>)->Name("CreateDestroy/Baseline/100000");
BENCHMARK(BM_CreateDestroyBaselineLocked)->Name("CreateDestroy/BaselineLocked");

// --- Heap bytes per live empty node: malloc's count of bytes in use
// (chunk headers and rounding included) before and after creating the
// nodes, into a vector reserved beforehand. After the nodes are gone the
// count must be back where it was.

std::size_t HeapInUse() { return mallinfo2().uordblks; }

template <class MakeOp, class DropOp>
void MeasureHeap(benchmark::State& p_state, MakeOp p_make, DropOp p_drop) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    using Item = decltype(p_make());
    std::vector<Item> items;
    items.reserve(count);
    p_drop(p_make());  // first use: registration, statics
    double bytesPerNode = 0;
    std::size_t leftOver = 0;
    for (auto _ : p_state) {
        // Blocks that the tracker keeps for reuse would serve the nodes
        // without the heap growing, and count as in use at the end.
        qeldebug::internal::release_cached();
        std::size_t const before = HeapInUse();
        for (std::size_t i = 0; i < count; ++i) {
            items.push_back(p_make());
        }
        std::size_t const after = HeapInUse();
        bytesPerNode = static_cast<double>(after - before) / static_cast<double>(count);
        p_state.PauseTiming();
        while (!items.empty()) {
            p_drop(std::move(items.back()));
            items.pop_back();
        }
        qeldebug::internal::release_cached();
        std::size_t const end = HeapInUse();
        leftOver = end > before ? end - before : 0;
        p_state.ResumeTiming();
    }
    // malloc's per-thread cache keeps a few freed blocks that it still counts
    // as in use; a leak would leave at least a block per node.
    if (leftOver >= count) {
        p_state.SkipWithError("the heap did not return to its size before the nodes");
        return;
    }
    SetPerItem(p_state, count);
    p_state.counters["heap_bytes_per_node"] = bytesPerNode;
}

void BM_HeapLibrary(benchmark::State& p_state) {
    int const countBefore = Core::Node::_debugNodeCount.load();
    MeasureHeap(
        p_state, [] { return Core::Node::Create<EmptyNode>(); }, [](Core::Ptr<EmptyNode>) {});
    if (Core::Node::_debugNodeCount.load() != countBefore) {
        p_state.SkipWithError("nodes left alive");
        return;
    }
    p_state.counters["sizeof_node"] = static_cast<double>(sizeof(EmptyNode));
}

// A node that has handed out an identifier (as every node in a dependents
// list or under a watcher has) also holds its identity anchor.
void BM_HeapLibraryWithId(benchmark::State& p_state) {
    MeasureHeap(
        p_state,
        [] {
            Core::Ptr<EmptyNode> node = Core::Node::Create<EmptyNode>();
            benchmark::DoNotOptimize(node->Id());
            return node;
        },
        [](Core::Ptr<EmptyNode>) {});
    p_state.counters["sizeof_node"] = static_cast<double>(sizeof(EmptyNode));
}

void BM_HeapBaseline(benchmark::State& p_state) {
    MeasureHeap(
        p_state, [] { return Baseline::NewNode(); }, [](Baseline::BaseNode* p_node) { Baseline::DeleteNode(p_node); });
    p_state.counters["sizeof_node"] = static_cast<double>(sizeof(Baseline::BaseNode));
}

// --- Heap bytes per dependents-list entry: 100,000 fresh nodes appended to
// one list, everything the entries cost counted (the identities that the
// nodes make on their first Id() included), beside a std::vector of raw
// pointers filled the same way.
template <class FillOp>
double HeapPerEntry(std::size_t p_count, FillOp p_fill) {
    std::size_t const before = HeapInUse();
    p_fill();
    return static_cast<double>(HeapInUse() - before) / static_cast<double>(p_count);
}

void BM_HeapPerEntryLibrary(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    double bytes = 0;
    for (auto _ : p_state) {
        p_state.PauseTiming();
        std::vector<Core::Ptr<EmptyNode>> nodes;
        nodes.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            nodes.push_back(Core::Node::Create<EmptyNode>());
        }
        Core::Dependencies list;
        p_state.ResumeTiming();
        bytes = HeapPerEntry(count, [&] {
            for (Core::Ptr<EmptyNode> const& node : nodes) {
                list.Insert(*node);
            }
        });
        p_state.PauseTiming();
        if (list.Size() != count) {
            p_state.SkipWithError("the list does not hold one entry per node");
        }
        list.Clear();
        while (!nodes.empty()) {
            nodes.pop_back();
        }
        p_state.ResumeTiming();
    }
    SetPerItem(p_state, count);
    p_state.counters["heap_bytes_per_entry"] = bytes;
}

void BM_HeapPerEntryBaseline(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    double bytes = 0;
    for (auto _ : p_state) {
        p_state.PauseTiming();
        std::vector<Baseline::BaseNode*> nodes;
        nodes.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            nodes.push_back(Baseline::NewNode());
        }
        Baseline::BaseNode head;
        p_state.ResumeTiming();
        bytes = HeapPerEntry(count, [&] {
            for (Baseline::BaseNode* node : nodes) {
                head.AddDependent(*node);
            }
        });
        p_state.PauseTiming();
        for (Baseline::BaseNode* node : nodes) {
            Baseline::DeleteNode(node);
        }
        p_state.ResumeTiming();
    }
    SetPerItem(p_state, count);
    p_state.counters["heap_bytes_per_entry"] = bytes;
}

BENCHMARK(BM_HeapLibrary)->Name("HeapPerNode/Library")->Arg(100000)->Iterations(1);
BENCHMARK(BM_HeapLibraryWithId)->Name("HeapPerNode/LibraryWithId")->Arg(100000)->Iterations(1);
BENCHMARK(BM_HeapBaseline)->Name("HeapPerNode/Baseline")->Arg(100000)->Iterations(1);
BENCHMARK(BM_HeapPerEntryLibrary)->Name("HeapPerEntry/Library")->Arg(100000)->Iterations(1);
BENCHMARK(BM_HeapPerEntryBaseline)->Name("HeapPerEntry/Baseline")->Arg(100000)->Iterations(1);

// --- Watcher poll: N clean watchers on N nodes; every poll checks them all.

// Touches one subject after the run: a poll that cannot see it is broken.
template <class PollOp, class TouchOp>
bool PollSeesTouch(PollOp p_poll, TouchOp p_touch) {
    p_touch();
    return p_poll();
}

// The nodes of a poll row come from the heap, in address order, whatever
// rows ran before: blocks that the tracker keeps from them would be handed
// out last freed first, and a hand loop's poll moves with that order (see
// docs/performance.md, "Where the time goes").
LibraryGraph<> FreshNodes(std::size_t p_count) {
    qeldebug::internal::release_cached();
    return LibraryGraph<>(Shape::Nodes(p_count));
}

void BM_WatcherPollList(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    LibraryGraph<> nodes = FreshNodes(count);
    Core::ModificationWatcherList list;
    list.Reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        list.Append(Core::ModificationWatcher(static_cast<Core::IModifiable const&>(nodes[i])));
    }
    std::int64_t const clean = CleanPolls(p_state, [&list] { return list.Modified(); });
    if (clean != p_state.iterations() ||
        !PollSeesTouch([&] { return list.Modified(); }, [&] { nodes[count - 1].Touch(); })) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

void BM_WatcherPollLoop(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    LibraryGraph<> nodes = FreshNodes(count);
    std::vector<Core::ModificationWatcher> watchers;
    watchers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        watchers.emplace_back(static_cast<Core::IModifiable const&>(nodes[i]));
    }
    auto poll = [&watchers] { return AnyModifiedLoop(watchers); };
    std::int64_t const clean = CleanPolls(p_state, poll);
    if (clean != p_state.iterations() || !PollSeesTouch(poll, [&] { nodes[count - 1].Touch(); })) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

void BM_WatcherPollBaseline(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    BaselineGraph nodes(Shape::Nodes(count));
    std::vector<Baseline::Watcher> watchers;
    watchers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        watchers.push_back(Baseline::Watcher{&nodes[i], nodes[i].Stamp()});
    }
    auto poll = [&watchers] { return Baseline::AnyModified(watchers.data(), watchers.data() + watchers.size()); };
    std::int64_t const clean = CleanPolls(p_state, poll);
    if (clean != p_state.iterations() ||
        !PollSeesTouch(poll, [&] { nodes[count - 1].Touch(Baseline::Self, nullptr); })) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

// The baseline's poll over nodes as large as the library's heap block (the
// node, its companion area, the tracker's size word and spare bytes): what
// a poll that misses cache pays for the size of a node alone. The baseline
// node is padded, so its check and its watcher stay the least work.
struct SizedNode final : Baseline::BaseNode {
    unsigned char padding[sizeof(EmptyNode) + qeldebug::internal::companion_bytes + 16 - sizeof(Baseline::BaseNode)];
};

void BM_WatcherPollBaselineSized(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    std::vector<std::unique_ptr<SizedNode>> nodes;
    std::vector<Baseline::Watcher> watchers;
    nodes.reserve(count);
    watchers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        nodes.push_back(std::make_unique<SizedNode>());
        watchers.push_back(Baseline::Watcher{nodes.back().get(), nodes.back()->Stamp()});
    }
    auto poll = [&watchers] { return Baseline::AnyModified(watchers.data(), watchers.data() + watchers.size()); };
    std::int64_t const clean = CleanPolls(p_state, poll);
    if (clean != p_state.iterations() ||
        !PollSeesTouch(poll, [&] { nodes[count - 1]->Touch(Baseline::Self, nullptr); })) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

// The list is reserved first: Append grows it by exactly one otherwise.
BENCHMARK(BM_WatcherPollList)->Name("WatcherPoll/List")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_WatcherPollLoop)->Name("WatcherPoll/Loop")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_WatcherPollBaseline)->Name("WatcherPoll/Baseline")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_WatcherPollBaselineSized)->Name("WatcherPoll/BaselineSized")->Arg(1000)->Arg(100000);

// --- Cycle search from node 0 of a chain and of a diamond lattice (no
// cycle in either). Per node entered: every node of the chain, every path
// of the lattice.

Shape SearchShape(benchmark::State const& p_state) {
    return p_state.range(1) == 0
               ? Shape::Chain(static_cast<std::size_t>(p_state.range(0)))
               : Shape::Lattice(static_cast<std::size_t>(p_state.range(0)), static_cast<std::size_t>(p_state.range(1)));
}

void BM_CycleSearchLibrary(benchmark::State& p_state) {
    Shape const shape = SearchShape(p_state);
    LibraryGraph<> graph(shape);
    Core::IModifiable::Identifier const start = graph[0].Id();
    std::int64_t none = 0;
    for (auto _ : p_state) {
        none += Core::Dependencies::HasCyclicDependency(start) ? 0 : 1;
    }
    // Closing the graph into a cycle must be found.
    graph[shape.count - 1].Deps().Insert(graph[0]);
    bool const closedFound = Core::Dependencies::HasCyclicDependency(start);
    graph[shape.count - 1].Deps().Remove(graph[0]);
    if (none != p_state.iterations() || !closedFound) {
        p_state.SkipWithError("the search found a cycle where there is none, or missed one");
        return;
    }
    SetPerItem(p_state, shape.Touches());
}

void BM_CycleSearchBaseline(benchmark::State& p_state) {
    Shape const shape = SearchShape(p_state);
    BaselineGraph graph(shape);
    std::int64_t none = 0;
    std::uint64_t entered = 0;
    std::uint64_t totalEntered = 0;
    for (auto _ : p_state) {
        none += Baseline::HasCycle(graph[0], entered) ? 0 : 1;
        totalEntered += entered;
    }
    graph[shape.count - 1].AddDependent(graph[0]);
    bool const closedFound = Baseline::HasCycle(graph[0], entered);
    if (none != p_state.iterations() || totalEntered != shape.Touches() * p_state.iterations() || !closedFound) {
        p_state.SkipWithError("the baseline search entered the wrong nodes or misjudged a cycle");
        return;
    }
    SetPerItem(p_state, shape.Touches());
}

// Second argument 0: a chain of the first argument's length; otherwise a
// lattice of that width and that many layers.
BENCHMARK(BM_CycleSearchLibrary)->Name("CycleSearch/Library")->Args({1000, 0})->Args({10000, 0})->Args({8, 10});
BENCHMARK(BM_CycleSearchBaseline)->Name("CycleSearch/Baseline")->Args({1000, 0})->Args({10000, 0})->Args({8, 10});

// --- Property name cache: the id of a name already interned, and back.

using Core::Private::PropertyMetaData::PropertyNameCache;

void BM_GenerateIdLibrary(benchmark::State& p_state) {
    Qel::Chart::Utility::LightString_Base<char> const name(std::string("Width"));
    unsigned short const id = PropertyNameCache::GenerateId(name);
    std::size_t const names = PropertyNameCache::Count();
    std::int64_t same = 0;
    for (auto _ : p_state) {
        same += PropertyNameCache::GenerateId(name) == id ? 1 : 0;
    }
    if (same != p_state.iterations() || PropertyNameCache::Count() != names) {
        p_state.SkipWithError("an existing name changed its id or was interned again");
        return;
    }
    SetPerItem(p_state, 1);
}

void BM_FindNameLibrary(benchmark::State& p_state) {
    Qel::Chart::Utility::LightString_Base<char> const name(std::string("Width"));
    unsigned short const id = PropertyNameCache::GenerateId(name);
    Qel::Chart::Utility::LightString_Base<char> const* const stored = &PropertyNameCache::FindName(id);
    std::int64_t same = 0;
    for (auto _ : p_state) {
        same += &PropertyNameCache::FindName(id) == stored ? 1 : 0;
    }
    if (same != p_state.iterations() || stored->ToString() != "Width") {
        p_state.SkipWithError("FindName returned another entry");
        return;
    }
    SetPerItem(p_state, 1);
}

Baseline::NameCache& BaselineNames() {
    static Baseline::NameCache cache;
    return cache;
}

void BM_GenerateIdBaseline(benchmark::State& p_state) {
    std::string const name("Width");
    unsigned short const id = BaselineNames().GenerateId(name);
    std::int64_t same = 0;
    for (auto _ : p_state) {
        same += BaselineNames().GenerateId(name) == id ? 1 : 0;
    }
    if (same != p_state.iterations()) {
        p_state.SkipWithError("an existing name changed its id");
        return;
    }
    SetPerItem(p_state, 1);
}

void BM_FindNameBaseline(benchmark::State& p_state) {
    unsigned short const id = BaselineNames().GenerateId("Width");
    std::string const* const stored = &BaselineNames().FindName(id);
    std::int64_t same = 0;
    for (auto _ : p_state) {
        same += &BaselineNames().FindName(id) == stored ? 1 : 0;
    }
    if (same != p_state.iterations() || *stored != "Width") {
        p_state.SkipWithError("FindName returned another entry");
        return;
    }
    SetPerItem(p_state, 1);
}

BENCHMARK(BM_GenerateIdLibrary)->Name("GenerateId/Library");
BENCHMARK(BM_GenerateIdBaseline)->Name("GenerateId/Baseline");
BENCHMARK(BM_FindNameLibrary)->Name("FindName/Library");
BENCHMARK(BM_FindNameBaseline)->Name("FindName/Baseline");

}  // namespace

// The peers' rows, where they are built, are registered here so that they
// run after the library's: they leave the heap fragmented, and a poll by a
// hand loop over nodes made in a fragmented heap is slower (the hardware
// no longer streams the nodes).
#ifdef QEL_BENCH_QT
void RegisterQtNodeRows();
#endif
#ifdef QEL_BENCH_COIN
void RegisterCoinNodeRows();
#endif
namespace {
struct PeerRows {
    PeerRows() {
#ifdef QEL_BENCH_QT
        RegisterQtNodeRows();
#endif
#ifdef QEL_BENCH_COIN
        RegisterCoinNodeRows();
#endif
    }
} const g_peerRows;
}  // namespace

}  // namespace QelBench

QEL_BENCHMARK_MAIN()
