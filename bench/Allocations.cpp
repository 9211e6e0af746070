// Heap allocations per touch on the propagation path, once warmed up.
// This binary replaces malloc and its relatives with counting versions that
// forward to glibc's own, so it sees every heap block the process asks for:
// through operator new (lists, control blocks, strings, boost::any) and
// through malloc directly (the allocation tracker that node memory comes
// from). The timing binaries do not carry the counter.
#include "BenchSupport.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t p_size);
void* __libc_calloc(std::size_t p_count, std::size_t p_size);
void* __libc_realloc(void* p_block, std::size_t p_size);
void* __libc_memalign(std::size_t p_alignment, std::size_t p_size);
}

namespace {
std::atomic<std::uint64_t> g_allocations{0};

void CountOne() { g_allocations.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

extern "C" {
void* malloc(std::size_t p_size) noexcept {
    CountOne();
    return __libc_malloc(p_size);
}
void* calloc(std::size_t p_count, std::size_t p_size) noexcept {
    CountOne();
    return __libc_calloc(p_count, p_size);
}
void* realloc(void* p_block, std::size_t p_size) noexcept {
    CountOne();
    return __libc_realloc(p_block, p_size);
}
void* memalign(std::size_t p_alignment, std::size_t p_size) noexcept {
    CountOne();
    return __libc_memalign(p_alignment, p_size);
}
void* aligned_alloc(std::size_t p_alignment, std::size_t p_size) noexcept {
    CountOne();
    return __libc_memalign(p_alignment, p_size);
}
int posix_memalign(void** p_result, std::size_t p_alignment, std::size_t p_size) noexcept {
    CountOne();
    void* block = __libc_memalign(p_alignment, p_size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *p_result = block;
    return 0;
}
}

namespace QelBench {
namespace {

std::uint64_t Allocations() { return g_allocations.load(std::memory_order_relaxed); }

// The counter must see both doors to the heap, or every figure below is void.
bool CounterWorks() {
    std::uint64_t const before = Allocations();
    void* raw = std::malloc(24);
    benchmark::DoNotOptimize(raw);
    std::free(raw);
    std::uint64_t const afterMalloc = Allocations();
    auto* object = new std::uint64_t(7);
    benchmark::DoNotOptimize(object);
    delete object;
    return afterMalloc == before + 1 && Allocations() == afterMalloc + 1;
}

// Runs `p_op` once to warm up, then counts allocations over the timed
// loop; `p_check` sees the number of calls made in all.
template <class Op, class Check>
void CountPerCall(benchmark::State& p_state, Op p_op, Check p_check) {
    if (!CounterWorks()) {
        p_state.SkipWithError("the allocation counter does not see malloc and operator new");
        return;
    }
    p_op();
    std::uint64_t const before = Allocations();
    for (auto _ : p_state) {
        p_op();
    }
    std::uint64_t const allocations = Allocations() - before;
    if (!p_check(static_cast<std::uint64_t>(p_state.iterations()) + 1)) {
        p_state.SkipWithError("stamps did not advance exactly once per path per call");
        return;
    }
    p_state.counters["allocs_per_call"] = static_cast<double>(allocations) / static_cast<double>(p_state.iterations());
    SetPerItem(p_state, 1);
}

Shape ShapeOf(benchmark::State const& p_state) {
    switch (p_state.range(0)) {
        case 0:
            return Shape::Chain(1000);
        case 1:
            return Shape::FanOut(1000);
        default:
            return Shape::Lattice(8, 10);
    }
}

void BM_TouchLibrary(benchmark::State& p_state) {
    Shape const shape = ShapeOf(p_state);
    LibraryGraph<> graph(shape);
    CountPerCall(
        p_state, [&] { graph[0].Touch(); }, [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls); });
}

void BM_TouchBaseline(benchmark::State& p_state) {
    Shape const shape = ShapeOf(p_state);
    BaselineGraph graph(shape);
    CountPerCall(
        p_state, [&] { graph[0].Change(nullptr); },
        [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls); });
}

void BM_TouchSignals2(benchmark::State& p_state) {
    Shape const shape = ShapeOf(p_state);
    SignalsGraph graph(shape);
    CountPerCall(
        p_state, [&] { graph.TouchHead(); }, [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls); });
}

// Range 0: chain of 1,000; 1: fan-out of 1,000; 2: lattice 8 wide, 10 deep.
BENCHMARK(BM_TouchLibrary)->Name("AllocsPerTouch/Library")->DenseRange(0, 2);
BENCHMARK(BM_TouchBaseline)->Name("AllocsPerTouch/Baseline")->DenseRange(0, 2);
BENCHMARK(BM_TouchSignals2)->Name("AllocsPerTouch/Signals2")->DenseRange(0, 1);

// A property set touches the owner with the new value as payload: the
// boost::any that carries it is made per set, outside the walk.
void BM_SetProperty(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(4);
    LibraryGraph<PropertyNode> graph(shape);
    int value = 0;
    CountPerCall(
        p_state, [&] { graph[0].width.Set(++value); },
        [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls); });
}

void BM_SetPropertyAccess(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(4);
    LibraryGraph<PropertyNode> graph(shape);
    Core::Accessors::PropertyAccess access(graph.PtrAt(0), graph[0].width);
    int value = 0;
    CountPerCall(
        p_state, [&] { access.SetValue(boost::any(++value)); },
        [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls); });
}

BENCHMARK(BM_SetProperty)->Name("AllocsPerSet/Property");
BENCHMARK(BM_SetPropertyAccess)->Name("AllocsPerSet/PropertyAccess");

// Four subscribers on the head and four on each dependent: a subscribed
// touch finds, pins and calls them without allocating.
void BM_TouchSubscribed(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(4);
    LibraryGraph<> graph(shape);
    std::uint64_t calls = 0;
    std::vector<Core::Subscription> subscriptions;
    for (std::size_t node = 0; node < graph.Size(); ++node) {
        for (int i = 0; i < 4; ++i) {
            subscriptions.push_back(graph[node].OnTouched([&calls](Core::TouchEvent const&) { ++calls; }));
        }
    }
    CountPerCall(
        p_state, [&] { graph[0].Touch(); },
        [&](std::uint64_t p_calls) {
            return graph.StampsAre(shape, p_calls) && calls == p_calls * shape.Touches() * 4;
        });
}

// The same set as AllocsPerSet/Property with four subscribers on the
// property and four on the node: the same allocations (the payload's).
void BM_SetSubscribed(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(4);
    LibraryGraph<PropertyNode> graph(shape);
    std::vector<Core::Subscription> subscriptions;
    std::uint64_t calls = 0;
    for (int i = 0; i < 4; ++i) {
        subscriptions.push_back(graph[0].width.OnChanged([&calls](Core::Property<int> const&) { ++calls; }));
        subscriptions.push_back(graph[0].OnTouched([&calls](Core::TouchEvent const&) { ++calls; }));
    }
    int value = 0;
    CountPerCall(
        p_state, [&] { graph[0].width.Set(++value); },
        [&](std::uint64_t p_calls) { return graph.StampsAre(shape, p_calls) && calls == p_calls * 8; });
}

// An Update with the value the property holds: nothing at all.
void BM_UpdateUnchanged(benchmark::State& p_state) {
    Shape const shape = Shape::FanOut(4);
    LibraryGraph<PropertyNode> graph(shape);
    graph[0].width.Set(3);
    CountPerCall(
        p_state, [&] { graph[0].width.Update(3); }, [&](std::uint64_t) { return graph.StampsAre(shape, 1); });
}

BENCHMARK(BM_TouchSubscribed)->Name("AllocsPerTouch/Subscribed");
BENCHMARK(BM_SetSubscribed)->Name("AllocsPerSet/Subscribed");
BENCHMARK(BM_UpdateUnchanged)->Name("AllocsPerSet/UpdateUnchanged");

}  // namespace
}  // namespace QelBench

QEL_BENCHMARK_MAIN()
