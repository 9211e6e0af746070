// How the library scales: building wide lists, walking diamond lattices once
// per object, and the cycle check on deep and diamond-shaped graphs. Each
// shape runs beside a baseline in this binary that does the least work of
// the same kind ("Shape/Baseline/args"); times are per edge built, per
// object reached and per object entered.
#include <QelChart/Dependencies.h>
#include <QelChart/Node.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

using namespace Qel::Chart::Core;

struct Plain : Node {};

std::vector<Ptr<Plain>> MakeNodes(std::size_t p_count) {
    std::vector<Ptr<Plain>> nodes;
    nodes.reserve(p_count);
    for (std::size_t i = 0; i < p_count; ++i) {
        nodes.push_back(Node::Create<Plain>());
        nodes.back()->Id();  // the identity anchor exists before the clock runs
    }
    return nodes;
}

// Releases nodes from the last one made: a node made later never depends on
// one made earlier in these shapes, so no deletion walks what is left.
void Release(std::vector<Ptr<Plain>>& p_nodes) {
    while (!p_nodes.empty()) {
        p_nodes.pop_back();
    }
}

// ---------------------------------------------------------------------------
// Building a fan-out

void BuildFanOutReserved(benchmark::State& p_state) {
    std::vector<Ptr<Plain>> nodes = MakeNodes(static_cast<std::size_t>(p_state.range(0)));
    for (auto _ : p_state) {
        Dependencies list;
        list.Reserve(nodes.size());
        for (Ptr<Plain> const& node : nodes) {
            list.Insert(*node);
        }
        benchmark::DoNotOptimize(list.Begin());
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
    Release(nodes);
}

void BuildFanOutUnreserved(benchmark::State& p_state) {
    std::vector<Ptr<Plain>> nodes = MakeNodes(static_cast<std::size_t>(p_state.range(0)));
    for (auto _ : p_state) {
        Dependencies list;
        for (Ptr<Plain> const& node : nodes) {
            list.Insert(*node);
        }
        benchmark::DoNotOptimize(list.Begin());
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
    Release(nodes);
}

// The same identities into a reserved std::vector.
void BuildFanOutBaseline(benchmark::State& p_state) {
    std::vector<Ptr<Plain>> nodes = MakeNodes(static_cast<std::size_t>(p_state.range(0)));
    for (auto _ : p_state) {
        std::vector<IModifiable::Identifier> list;
        list.reserve(nodes.size());
        for (Ptr<Plain> const& node : nodes) {
            list.push_back(node->Id());
        }
        benchmark::DoNotOptimize(list.data());
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
    Release(nodes);
}

BENCHMARK(BuildFanOutReserved)->Name("BuildFanOut/Reserved")->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BuildFanOutUnreserved)->Name("BuildFanOut/Unreserved")->Arg(10000)->Arg(30000);
BENCHMARK(BuildFanOutBaseline)->Name("BuildFanOut/Baseline")->Arg(10000)->Arg(30000)->Arg(100000)->Arg(1000000);

// ---------------------------------------------------------------------------
// Diamond lattices: a root, then `depth` layers of `width`; node i of a layer
// depends on nodes i and i+1 (wrapping) of the layer above.

struct Lattice {
    std::vector<Ptr<Plain>> nodes;  // the root first, then layer by layer
};

Lattice MakeLattice(std::size_t p_depth, std::size_t p_width) {
    Lattice lattice;
    lattice.nodes = MakeNodes(1 + p_depth * p_width);
    for (std::size_t i = 0; i < p_width; ++i) {
        lattice.nodes[0]->Deps().Insert(*lattice.nodes[1 + i]);
    }
    for (std::size_t layer = 1; layer < p_depth; ++layer) {
        for (std::size_t i = 0; i < p_width; ++i) {
            Node& child = *lattice.nodes[1 + layer * p_width + i];
            lattice.nodes[1 + (layer - 1) * p_width + i]->Deps().Insert(child);
            lattice.nodes[1 + (layer - 1) * p_width + (i + 1) % p_width]->Deps().Insert(child);
        }
    }
    return lattice;
}

void LatticeOncePerObject(benchmark::State& p_state) {
    Lattice lattice =
        MakeLattice(static_cast<std::size_t>(p_state.range(0)), static_cast<std::size_t>(p_state.range(1)));
    PropagationScope const once(Propagation::OncePerObject);
    lattice.nodes[0]->Touch();
    for (auto _ : p_state) {
        lattice.nodes[0]->Touch();
    }
    if (lattice.nodes.back()->Time().Counter() != (p_state.iterations() + 1) % 16384) {
        p_state.SkipWithError("a node was not touched exactly once per walk");
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(lattice.nodes.size()));
    Release(lattice.nodes);
}

// Every path: items are still the objects, so the ratio shows what the paths cost.
void LatticeEveryPath(benchmark::State& p_state) {
    Lattice lattice =
        MakeLattice(static_cast<std::size_t>(p_state.range(0)), static_cast<std::size_t>(p_state.range(1)));
    for (auto _ : p_state) {
        lattice.nodes[0]->Touch();
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(lattice.nodes.size()));
    Release(lattice.nodes);
}

// The least work of a once-per-object walk: a virtual touch, a stamp and a
// visit mark in the node, raw pointers, an explicit stack.
struct BaseNode {
    virtual ~BaseNode() = default;
    virtual void Touch() { ++stamp; }
    std::uint64_t stamp = 0;
    std::uint64_t visited = 0;
    std::vector<BaseNode*> deps;
};

void WalkOnce(BaseNode& p_root, std::uint64_t p_walk, std::vector<BaseNode*>& p_stack) {
    p_root.Touch();
    p_root.visited = p_walk;
    p_stack.assign(1, &p_root);
    while (!p_stack.empty()) {
        BaseNode* const node = p_stack.back();
        p_stack.pop_back();
        // Pushed in reverse, so that the list is visited in order.
        for (auto it = node->deps.rbegin(); it != node->deps.rend(); ++it) {
            if ((*it)->visited != p_walk) {
                (*it)->visited = p_walk;
                (*it)->Touch();
                p_stack.push_back(*it);
            }
        }
    }
}

void LatticeBaseline(benchmark::State& p_state) {
    std::size_t const depth = static_cast<std::size_t>(p_state.range(0)),
                      width = static_cast<std::size_t>(p_state.range(1));
    std::vector<BaseNode> nodes(1 + depth * width);
    for (std::size_t i = 0; i < width; ++i) {
        nodes[0].deps.push_back(&nodes[1 + i]);
    }
    for (std::size_t layer = 1; layer < depth; ++layer) {
        for (std::size_t i = 0; i < width; ++i) {
            nodes[1 + (layer - 1) * width + i].deps.push_back(&nodes[1 + layer * width + i]);
            nodes[1 + (layer - 1) * width + (i + 1) % width].deps.push_back(&nodes[1 + layer * width + i]);
        }
    }
    std::vector<BaseNode*> stack;
    std::uint64_t walk = 0;
    for (auto _ : p_state) {
        WalkOnce(nodes[0], ++walk, stack);
    }
    benchmark::DoNotOptimize(nodes.back().stamp);
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
}

BENCHMARK(LatticeOncePerObject)->Name("Lattice/OncePerObject")->Args({4, 64})->Args({12, 64});
BENCHMARK(LatticeEveryPath)->Name("Lattice/EveryPath")->Args({4, 64})->Args({12, 64});
BENCHMARK(LatticeBaseline)->Name("Lattice/Baseline")->Args({4, 64})->Args({12, 64});

// ---------------------------------------------------------------------------
// The cycle check: a chain of a million, and 30 stacked diamonds.

std::vector<Ptr<Plain>> MakeCycleShape(int p_kind) {
    if (p_kind == 0) {
        std::vector<Ptr<Plain>> chain = MakeNodes(1000000);
        for (std::size_t i = 1; i < chain.size(); ++i) {
            chain[i - 1]->Deps().Insert(*chain[i]);
        }
        return chain;
    }
    std::vector<Ptr<Plain>> nodes = MakeNodes(1 + 3 * 30);
    for (std::size_t d = 0; d < 30; ++d) {
        Node& top = *nodes[3 * d];
        Node &left = *nodes[3 * d + 1], &right = *nodes[3 * d + 2], &bottom = *nodes[3 * d + 3];
        top.Deps().Insert(left);
        top.Deps().Insert(right);
        left.Deps().Insert(bottom);
        right.Deps().Insert(bottom);
    }
    return nodes;
}

void CycleCheckLibrary(benchmark::State& p_state) {
    std::vector<Ptr<Plain>> nodes = MakeCycleShape(static_cast<int>(p_state.range(0)));
    IModifiable::Identifier const start = nodes[0]->Id();
    for (auto _ : p_state) {
        if (Dependencies::HasCyclicDependency(start)) {
            p_state.SkipWithError("a cycle found where there is none");
        }
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
    Release(nodes);
}

// A hand-written iterative three-colour search over the same lists.
bool ThreeColour(IModifiable::Identifier const& p_start) {
    struct Level {
        IModifiable::Identifier const* next;
        IModifiable::Identifier const* end;
        IModifiable* object;
    };
    std::unordered_map<IModifiable*, bool> finished;  // false while on the path
    std::vector<Level> path;
    auto enter = [&](IModifiable::Identifier const& p_id) {
        IModifiable* const object = p_id.Get();
        auto* const tracker = dynamic_cast<IDependencyTracker*>(object);
        if (tracker == nullptr) {
            return false;
        }
        auto const met = finished.emplace(object, false);
        if (!met.second) {
            return !met.first->second;
        }
        path.push_back(Level{tracker->Deps().Begin(), tracker->Deps().End(), object});
        return false;
    };
    if (enter(p_start)) {
        return true;
    }
    while (!path.empty()) {
        Level& level = path.back();
        if (level.next == level.end) {
            finished[level.object] = true;
            path.pop_back();
        } else if (enter(*level.next++)) {
            return true;
        }
    }
    return false;
}

void CycleCheckBaseline(benchmark::State& p_state) {
    std::vector<Ptr<Plain>> nodes = MakeCycleShape(static_cast<int>(p_state.range(0)));
    IModifiable::Identifier const start = nodes[0]->Id();
    for (auto _ : p_state) {
        benchmark::DoNotOptimize(ThreeColour(start));
    }
    p_state.SetItemsProcessed(p_state.iterations() * static_cast<std::int64_t>(nodes.size()));
    Release(nodes);
}

// 0: the chain of 10^6, 1: 30 stacked diamonds.
BENCHMARK(CycleCheckLibrary)->Name("CycleCheck/Library")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(CycleCheckBaseline)->Name("CycleCheck/Baseline")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
