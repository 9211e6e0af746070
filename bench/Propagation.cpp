// Change propagation: touching the first node of a chain, a fan-out and a
// diamond lattice, and setting a property of a node with dependents, also
// with subscribers, and an Update that changes nothing. Every
// shape runs on the library, on the hand-written baseline and, for chain
// and fan-out, on Boost.Signals2. Times are per node touched (per
// dependent for the fan-out, per set for properties).
#include "BenchSupport.h"

#include <chrono>

namespace QelBench {
namespace {

constexpr char const* kStampsMoved = "stamps did not advance exactly once per path per iteration";

Shape MakeShape(std::string const& p_kind, benchmark::State const& p_state) {
    if (p_kind == "chain") {
        return Shape::Chain(static_cast<std::size_t>(p_state.range(0)));
    }
    if (p_kind == "fanout") {
        return Shape::FanOut(static_cast<std::size_t>(p_state.range(0)));
    }
    return Shape::Lattice(static_cast<std::size_t>(p_state.range(0)), static_cast<std::size_t>(p_state.range(1)));
}

// Items per head touch: every node stamped for chain and lattice, the
// dependents for the fan-out (the head's own stamp is not one of them).
std::uint64_t ItemsPerTouch(std::string const& p_kind, Shape const& p_shape) {
    return p_kind == "fanout" ? p_shape.count - 1 : p_shape.Touches();
}

std::string ShapeKey(std::string const& p_kind, benchmark::State const& p_state) {
    std::string key = p_kind;
    for (int i = 0; i < 2; ++i) {
        key += "/" + std::to_string(p_kind == "lattice" || i == 0 ? p_state.range(i) : 0);
    }
    return key;
}

// Touches node 0 of the shape's graph once per iteration (once more before
// the clock runs, so the walk's stack has its size), then checks every stamp.
template <class Graph, class TouchOp>
void TouchHead(benchmark::State& p_state, std::string const& p_kind, TouchOp p_touch) {
    CachedGraph<Graph>& cached =
        GraphCache::Get<Graph>(ShapeKey(p_kind, p_state), [&] { return MakeShape(p_kind, p_state); });
    Graph& graph = cached.graph;
    p_touch(graph);
    for (auto _ : p_state) {
        p_touch(graph);
    }
    cached.headTouches += static_cast<std::uint64_t>(p_state.iterations()) + 1;
    if (!graph.StampsAre(cached.shape, cached.headTouches)) {
        p_state.SkipWithError(kStampsMoved);
        return;
    }
    SetPerItem(p_state, ItemsPerTouch(p_kind, cached.shape));
    p_state.counters["touches"] = static_cast<double>(cached.shape.Touches());
}

void TouchLibrary(benchmark::State& p_state, std::string const& p_kind) {
    TouchHead<LibraryGraph<>>(p_state, p_kind, [](LibraryGraph<>& p_graph) { p_graph[0].Touch(); });
}

void TouchBaseline(benchmark::State& p_state, std::string const& p_kind) {
    TouchHead<BaselineGraph>(p_state, p_kind, [](BaselineGraph& p_graph) { p_graph[0].Change(nullptr); });
}

void TouchSignals(benchmark::State& p_state, std::string const& p_kind) {
    TouchHead<SignalsGraph>(p_state, p_kind, [](SignalsGraph& p_graph) { p_graph.TouchHead(); });
}

void BM_ChainLibrary(benchmark::State& p_state) { TouchLibrary(p_state, "chain"); }
void BM_ChainBaseline(benchmark::State& p_state) { TouchBaseline(p_state, "chain"); }
void BM_ChainSignals2(benchmark::State& p_state) { TouchSignals(p_state, "chain"); }
void BM_FanOutLibrary(benchmark::State& p_state) { TouchLibrary(p_state, "fanout"); }
void BM_FanOutBaseline(benchmark::State& p_state) { TouchBaseline(p_state, "fanout"); }
void BM_FanOutSignals2(benchmark::State& p_state) { TouchSignals(p_state, "fanout"); }
void BM_DiamondLibrary(benchmark::State& p_state) { TouchLibrary(p_state, "lattice"); }
void BM_DiamondBaseline(benchmark::State& p_state) { TouchBaseline(p_state, "lattice"); }

BENCHMARK(BM_ChainLibrary)->Name("Chain/Library")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_ChainBaseline)->Name("Chain/Baseline")->Arg(1000)->Arg(10000)->Arg(100000);
// Signals2 recurses once per level, through several frames of its own: a
// chain of 100,000 overflows the default 8 MiB stack, so it stops at 10,000.
BENCHMARK(BM_ChainSignals2)->Name("Chain/Signals2")->Arg(1000)->Arg(10000);
// A million levels, one touch per run, to show that depth costs no stack
// (the baseline keeps an explicit stack as well).
BENCHMARK(BM_ChainLibrary)->Name("ChainDeep/Library")->Arg(1000000)->Iterations(1);
BENCHMARK(BM_ChainBaseline)->Name("ChainDeep/Baseline")->Arg(1000000)->Iterations(1);
BENCHMARK(BM_FanOutLibrary)->Name("FanOut/Library")->Arg(1000)->Arg(100000);
BENCHMARK(BM_FanOutBaseline)->Name("FanOut/Baseline")->Arg(1000)->Arg(100000);
BENCHMARK(BM_FanOutSignals2)->Name("FanOut/Signals2")->Arg(1000)->Arg(100000);
// Width 8, 10 layers: 8,185 touches per head touch for 81 nodes.
BENCHMARK(BM_DiamondLibrary)->Name("Diamond/Library")->Args({8, 10});
BENCHMARK(BM_DiamondBaseline)->Name("Diamond/Baseline")->Args({8, 10});

// --- Property set: a node with four dependents.

constexpr std::size_t kPropertyDependents = 4;

template <class SetOp>
void SetLibrary(benchmark::State& p_state, SetOp p_set, std::size_t p_dependents = kPropertyDependents) {
    Shape const shape = Shape::FanOut(p_dependents);
    LibraryGraph<PropertyNode> graph(shape);
    PropertyNode& owner = graph[0];
    Core::Accessors::PropertyAccess access(graph.PtrAt(0), owner.width);
    int value = 0;
    p_set(owner, access, ++value);
    for (auto _ : p_state) {
        p_set(owner, access, ++value);
    }
    std::uint64_t const sets = p_state.iterations() + 1;
    if (!graph.StampsAre(shape, sets) || owner.width.Time() != ReferenceStamp(sets) || owner.width.Get() != value) {
        p_state.SkipWithError("a set did not stamp the property, its owner and each dependent exactly once");
        return;
    }
    SetPerItem(p_state, 1);
    p_state.counters["touches"] = static_cast<double>(shape.Touches());
}

void BM_PropertySet(benchmark::State& p_state) {
    SetLibrary(p_state, [](PropertyNode& p_owner, Core::Accessors::PropertyAccess&, int p_value) {
        p_owner.width.Set(p_value);
    });
}

void BM_PropertyAccessSet(benchmark::State& p_state) {
    SetLibrary(p_state, [](PropertyNode&, Core::Accessors::PropertyAccess& p_access, int p_value) {
        p_access.SetValue(boost::any(p_value));
    });
}

void BM_PropertySetBaseline(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(kPropertyDependents);
    BaselineGraph graph(shape);
    Baseline::IntProperty property(graph[0]);
    int value = 0;
    property.Set(++value);
    for (auto _ : p_state) {
        property.Set(++value);
    }
    std::uint64_t const sets = p_state.iterations() + 1;
    if (!graph.StampsAre(shape, sets) || property.Stamp() != sets || property.Get() != value) {
        p_state.SkipWithError("a set did not stamp the property, its owner and each dependent exactly once");
        return;
    }
    SetPerItem(p_state, 1);
    p_state.counters["touches"] = static_cast<double>(shape.Touches());
}

// The C++ side of bench/python_bench.py's set on a node with 1,000 dependents.
void BM_PropertySetWide(benchmark::State& p_state) {
    SetLibrary(
        p_state,
        [](PropertyNode& p_owner, Core::Accessors::PropertyAccess&, int p_value) { p_owner.width.Set(p_value); },
        static_cast<std::size_t>(p_state.range(0)));
}

BENCHMARK(BM_PropertySet)->Name("PropertySet/Property");
BENCHMARK(BM_PropertySetWide)->Name("PropertySetWide/Property")->Arg(1000);
BENCHMARK(BM_PropertyAccessSet)->Name("PropertySet/PropertyAccess");
BENCHMARK(BM_PropertySetBaseline)->Name("PropertySet/Baseline");

// --- Subscribers: the same set with callbacks on the property (OnChanged),
// on the node (OnTouched) or both, each callback counting its calls.
//
// Each iteration times a batch of sets on a graph without subscriptions and
// then a batch on a twin graph with them, so that both see the same load and
// the same state of the machine; the counter `vs_unsubscribed` is the ratio
// of the two sums. On a shared machine it is far steadier than a ratio of
// two separate runs, which land on fresh memory and move by more than the
// subscribers cost. The time reported is the subscribed graph's, per set.

enum Subscribed { kOnProperty = 1, kOnNode = 2 };
constexpr int kSetsPerBatch = 256;

void SetSubscribed(benchmark::State& p_state, int p_where) {
    using Clock = std::chrono::steady_clock;
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    Shape const shape = Shape::FanOut(kPropertyDependents);
    LibraryGraph<PropertyNode> plain(shape);
    LibraryGraph<PropertyNode> subscribed(shape);
    std::uint64_t calls = 0;
    std::vector<Core::Subscription> subscriptions;
    for (std::size_t i = 0; i < count; ++i) {
        if ((p_where & kOnProperty) != 0) {
            subscriptions.push_back(subscribed[0].width.OnChanged([&calls](Core::Property<int> const&) { ++calls; }));
        }
        if ((p_where & kOnNode) != 0) {
            subscriptions.push_back(subscribed[0].OnTouched([&calls](Core::TouchEvent const&) { ++calls; }));
        }
    }
    int value = 0;
    auto batch = [&value](PropertyNode& p_owner) {
        for (int i = 0; i < kSetsPerBatch; ++i) {
            p_owner.width.Set(++value);
        }
    };
    batch(plain[0]);
    batch(subscribed[0]);
    double plainSeconds = 0;
    double subscribedSeconds = 0;
    for (auto _ : p_state) {
        Clock::time_point const start = Clock::now();
        batch(plain[0]);
        Clock::time_point const middle = Clock::now();
        batch(subscribed[0]);
        Clock::time_point const end = Clock::now();
        plainSeconds += std::chrono::duration<double>(middle - start).count();
        double const mine = std::chrono::duration<double>(end - middle).count();
        subscribedSeconds += mine;
        p_state.SetIterationTime(mine);
    }
    std::uint64_t const sets = (p_state.iterations() + 1) * kSetsPerBatch;
    if (!plain.StampsAre(shape, sets) || !subscribed.StampsAre(shape, sets) || calls != sets * subscriptions.size()) {
        p_state.SkipWithError("a set did not stamp everyone once and call every subscriber once");
        return;
    }
    SetPerItem(p_state, kSetsPerBatch);
    p_state.counters["touches"] = static_cast<double>(shape.Touches());
    p_state.counters["vs_unsubscribed"] = subscribedSeconds / plainSeconds;
}

void BM_SetSubscribedProperty(benchmark::State& p_state) { SetSubscribed(p_state, kOnProperty); }
void BM_SetSubscribedNode(benchmark::State& p_state) { SetSubscribed(p_state, kOnNode); }
void BM_SetSubscribedBoth(benchmark::State& p_state) { SetSubscribed(p_state, kOnProperty | kOnNode); }

// Range: subscribers on the property, on the node, or that many on each.
BENCHMARK(BM_SetSubscribedProperty)->Name("SubscribedSet/OnChanged")->Arg(0)->Arg(1)->Arg(4)->UseManualTime();
BENCHMARK(BM_SetSubscribedNode)->Name("SubscribedSet/OnTouched")->Arg(0)->Arg(1)->Arg(4)->UseManualTime();
BENCHMARK(BM_SetSubscribedBoth)->Name("SubscribedSet/Both")->Arg(0)->Arg(1)->Arg(4)->UseManualTime();

// Update with the value the property holds: no stamp, no walk, no callback,
// even with four subscribers on the property and four on the node. The
// baseline is a Set of a new value on the same, unsubscribed, shape.
void BM_UpdateUnchanged(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(kPropertyDependents);
    LibraryGraph<PropertyNode> graph(shape);
    PropertyNode& owner = graph[0];
    std::uint64_t calls = 0;
    std::vector<Core::Subscription> subscriptions;
    for (int i = 0; i < 4; ++i) {
        subscriptions.push_back(owner.width.OnChanged([&calls](Core::Property<int> const&) { ++calls; }));
        subscriptions.push_back(owner.OnTouched([&calls](Core::TouchEvent const&) { ++calls; }));
    }
    owner.width.Set(7);
    calls = 0;
    bool changed = false;
    for (auto _ : p_state) {
        changed = owner.width.Update(7) || changed;
        benchmark::DoNotOptimize(changed);
    }
    if (changed || calls != 0 || !graph.StampsAre(shape, 1) || owner.width.Time() != ReferenceStamp(1)) {
        p_state.SkipWithError("an unchanged Update stamped, walked or called back");
        return;
    }
    SetPerItem(p_state, 1);
}

void BM_UpdateBaseline(benchmark::State& p_state) {
    SetLibrary(p_state, [](PropertyNode& p_owner, Core::Accessors::PropertyAccess&, int p_value) {
        p_owner.width.Set(p_value);
    });
}

BENCHMARK(BM_UpdateUnchanged)->Name("PropertyUpdate/Unchanged");
BENCHMARK(BM_UpdateBaseline)->Name("PropertyUpdate/Baseline");

}  // namespace

// Qt's and Coin's rows, where they are built, run after the library's (see
// Nodes.cpp).
#ifdef QEL_BENCH_QT
void RegisterQtPropagationRows();
#endif
#ifdef QEL_BENCH_COIN
void RegisterCoinPropagationRows();
#endif
namespace {
struct PeerRows {
    PeerRows() {
#ifdef QEL_BENCH_QT
        RegisterQtPropagationRows();
#endif
#ifdef QEL_BENCH_COIN
        RegisterCoinPropagationRows();
#endif
    }
} const g_peerRows;
}  // namespace

}  // namespace QelBench

QEL_BENCHMARK_MAIN()
