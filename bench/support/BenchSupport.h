// Shared by the benchmark binaries: the node classes they create, the graph
// shapes they touch (built the same way for the library, the baseline and
// Boost.Signals2), and the checks that every run moved exactly what it
// should have.
#ifndef QEL_BENCH_SUPPORT_H
#define QEL_BENCH_SUPPORT_H

#include <Baseline.h>
#include <QelChartCore.h>

#include <benchmark/benchmark.h>
#include <boost/signals2/signal.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace QelBench {

namespace Core = Qel::Chart::Core;

/// The smallest client node: nothing added to `Node`.
class EmptyNode : public Core::Node {
public:
    EmptyNode() = default;
};

/// A node with one int property, the usual way client code declares one.
class PropertyNode : public Core::Node {
public:
    PropertyNode() : width(*this, "Width", 0) {}
    Core::Property<int> width;
};

/// The stamp that an object shows after `p_touches` touches from new: the
/// counter runs modulo 16,384 and the flag is set by the first touch.
inline Core::TimeStamp ReferenceStamp(std::uint64_t p_touches) {
    Core::TimeStamp stamp;
    std::uint64_t steps = p_touches % 16384;
    if (p_touches != 0 && steps == 0) {
        steps = 16384;
    }
    for (std::uint64_t i = 0; i < steps; ++i) {
        stamp.Touch();
    }
    return stamp;
}

/// A dependency graph as indices: node 0 is the one touched, every edge runs
/// from a lower index to a higher one, and edges are listed by parent in
/// list order. `paths[i]` is the number of paths from node 0 to node i, that
/// is how often one touch of node 0 touches node i (the walk keeps no record
/// of what it visited).
struct Shape {
    std::size_t count = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    std::vector<std::uint64_t> paths;

    /// Touches that one touch of node 0 makes, node 0's own included.
    std::uint64_t Touches() const {
        std::uint64_t sum = 0;
        for (std::uint64_t p : paths) {
            sum += p;
        }
        return sum;
    }

    void CountPaths() {
        paths.assign(count, 0);
        paths[0] = 1;
        for (auto const& edge : edges) {
            paths[edge.second] += paths[edge.first];
        }
    }

    /// `p_count` nodes and no edges.
    static Shape Nodes(std::size_t p_count) {
        Shape shape;
        shape.count = p_count;
        shape.CountPaths();
        return shape;
    }

    /// `p_count` nodes, each the only dependent of the one before.
    static Shape Chain(std::size_t p_count) {
        Shape shape;
        shape.count = p_count;
        shape.edges.reserve(p_count);
        for (std::size_t i = 1; i < p_count; ++i) {
            shape.edges.emplace_back(static_cast<std::uint32_t>(i - 1), static_cast<std::uint32_t>(i));
        }
        shape.CountPaths();
        return shape;
    }

    /// One node with `p_dependents` direct dependents.
    static Shape FanOut(std::size_t p_dependents) {
        Shape shape;
        shape.count = p_dependents + 1;
        for (std::size_t i = 1; i <= p_dependents; ++i) {
            shape.edges.emplace_back(0u, static_cast<std::uint32_t>(i));
        }
        shape.CountPaths();
        return shape;
    }

    /// Node 0 above `p_layers` layers of `p_width` nodes. Node 0 lists the
    /// whole first layer; node i of a layer lists nodes i and i+1 (modulo the
    /// width) of the next, so every node below the first layer has two
    /// parents and twice the paths of a node in the layer above.
    static Shape Lattice(std::size_t p_width, std::size_t p_layers) {
        Shape shape;
        shape.count = 1 + p_width * p_layers;
        auto index = [p_width](std::size_t layer, std::size_t i) {
            return static_cast<std::uint32_t>(1 + layer * p_width + (i % p_width));
        };
        for (std::size_t i = 0; i < p_width; ++i) {
            shape.edges.emplace_back(0u, index(0, i));
        }
        for (std::size_t layer = 0; layer + 1 < p_layers; ++layer) {
            for (std::size_t i = 0; i < p_width; ++i) {
                shape.edges.emplace_back(index(layer, i), index(layer + 1, i));
                shape.edges.emplace_back(index(layer, i), index(layer + 1, i + 1));
            }
        }
        shape.CountPaths();
        return shape;
    }
};

/// The library's nodes for a shape. Destroyed from the last node to the
/// first, so that no deletion has live dependents to tell.
template <class T = EmptyNode>
class LibraryGraph {
public:
    explicit LibraryGraph(Shape const& p_shape) {
        _nodes.reserve(p_shape.count);
        for (std::size_t i = 0; i < p_shape.count; ++i) {
            _nodes.push_back(Core::Node::Create<T>());
        }
        // Room first, as a model with wide lists reserves it: a list grown
        // one exact-size block at a time copies itself on every insert.
        std::vector<std::size_t> degrees(p_shape.count, 0);
        for (auto const& edge : p_shape.edges) {
            ++degrees[edge.first];
        }
        for (std::size_t i = 0; i < p_shape.count; ++i) {
            if (degrees[i] > 1) {
                _nodes[i]->Deps().Reserve(degrees[i]);
            }
        }
        for (auto const& edge : p_shape.edges) {
            _nodes[edge.first]->Deps().Insert(*_nodes[edge.second]);
        }
    }
    ~LibraryGraph() {
        while (!_nodes.empty()) {
            _nodes.pop_back();
        }
    }
    LibraryGraph(LibraryGraph const&) = delete;
    LibraryGraph& operator=(LibraryGraph const&) = delete;

    T& operator[](std::size_t p_index) { return *_nodes[p_index]; }
    Core::Ptr<T> const& PtrAt(std::size_t p_index) const { return _nodes[p_index]; }
    std::size_t Size() const { return _nodes.size(); }

    /// True when every node i shows the stamp of `p_shape.paths[i] * p_headTouches` touches.
    bool StampsAre(Shape const& p_shape, std::uint64_t p_headTouches) const {
        // Most nodes share a touch count: compute each reference stamp once.
        std::uint64_t lastCount = ~std::uint64_t(0);
        Core::TimeStamp reference;
        for (std::size_t i = 0; i < _nodes.size(); ++i) {
            std::uint64_t const count = p_shape.paths[i] * p_headTouches;
            if (count != lastCount) {
                reference = ReferenceStamp(count);
                lastCount = count;
            }
            if (_nodes[i]->Time() != reference) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<Core::Ptr<T>> _nodes;
};

/// The baseline's nodes for a shape.
class BaselineGraph {
public:
    explicit BaselineGraph(Shape const& p_shape) {
        _nodes.reserve(p_shape.count);
        for (std::size_t i = 0; i < p_shape.count; ++i) {
            _nodes.push_back(Baseline::NewNode());
        }
        for (auto const& edge : p_shape.edges) {
            _nodes[edge.first]->AddDependent(*_nodes[edge.second]);
        }
    }
    ~BaselineGraph() {
        while (!_nodes.empty()) {
            Baseline::DeleteNode(_nodes.back());
            _nodes.pop_back();
        }
    }
    BaselineGraph(BaselineGraph const&) = delete;
    BaselineGraph& operator=(BaselineGraph const&) = delete;

    Baseline::BaseNode& operator[](std::size_t p_index) { return *_nodes[p_index]; }

    bool StampsAre(Shape const& p_shape, std::uint64_t p_headTouches) const {
        for (std::size_t i = 0; i < _nodes.size(); ++i) {
            if (_nodes[i]->Stamp() != p_shape.paths[i] * p_headTouches) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<Baseline::BaseNode*> _nodes;
};

/// The same shape with Boost.Signals2: a signal per node, connected to a
/// slot of each dependent that stamps it and emits the dependent's own
/// signal. Depth first by construction; it recurses once per level.
class SignalsGraph {
public:
    struct Node {
        boost::signals2::signal<void(Baseline::Relationship, void const*)> changed;
        std::uint64_t stamp = 0;
    };

    explicit SignalsGraph(Shape const& p_shape) {
        _nodes.reserve(p_shape.count);
        for (std::size_t i = 0; i < p_shape.count; ++i) {
            _nodes.push_back(std::make_unique<Node>());
        }
        for (auto const& edge : p_shape.edges) {
            Node* const dependent = _nodes[edge.second].get();
            _nodes[edge.first]->changed.connect([dependent](Baseline::Relationship, void const* p_payload) {
                ++dependent->stamp;
                dependent->changed(Baseline::Implicit, p_payload);
            });
        }
    }
    ~SignalsGraph() {
        while (!_nodes.empty()) {
            _nodes.pop_back();
        }
    }

    /// Stamps node 0 and emits its signal.
    void TouchHead() {
        Node& head = *_nodes[0];
        ++head.stamp;
        head.changed(Baseline::Explicit, nullptr);
    }

    bool StampsAre(Shape const& p_shape, std::uint64_t p_headTouches) const {
        for (std::size_t i = 0; i < _nodes.size(); ++i) {
            if (_nodes[i]->stamp != p_shape.paths[i] * p_headTouches) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<std::unique_ptr<Node>> _nodes;
};

/// A graph kept from one run of a benchmark to the next. Building the big
/// ones costs far more than running them (a fan-out of 100,000 reallocates
/// its list on every insertion), and the benchmark library calls a function
/// several times while it settles the iteration count. `headTouches` counts
/// every touch of node 0 over all runs, for the stamp checks.
template <class Graph>
struct CachedGraph {
    explicit CachedGraph(Shape p_shape) : shape(std::move(p_shape)), graph(shape) {}
    Shape const shape;
    Graph graph;
    std::uint64_t headTouches = 0;
};

/// The cached graphs of a binary, by key. `Clear()` must run before the
/// end of `main`, while the library's statics (the logger that node
/// deletion writes to) still exist.
class GraphCache {
public:
    template <class Graph, class MakeShape>
    static CachedGraph<Graph>& Get(std::string const& p_key, MakeShape p_makeShape) {
        std::string const key = p_key + "@" + typeid(Graph).name();
        for (auto& entry : Entries()) {
            if (entry.first == key) {
                return *static_cast<CachedGraph<Graph>*>(entry.second.get());
            }
        }
        auto graph = std::make_shared<CachedGraph<Graph>>(p_makeShape());
        Entries().emplace_back(key, graph);
        return *graph;
    }

    /// Destroys the graphs, newest first.
    static void Clear() {
        while (!Entries().empty()) {
            Entries().pop_back();
        }
    }

private:
    static std::vector<std::pair<std::string, std::shared_ptr<void>>>& Entries() {
        static std::vector<std::pair<std::string, std::shared_ptr<void>>> entries;
        return entries;
    }
};

/// The `main` of every benchmark binary: runs the benchmarks, then frees
/// the cached graphs.
#define QEL_BENCHMARK_MAIN()                                      \
    int main(int argc, char** argv) {                             \
        benchmark::Initialize(&argc, argv);                       \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) { \
            return 1;                                             \
        }                                                         \
        benchmark::RunSpecifiedBenchmarks();                      \
        benchmark::Shutdown();                                    \
        QelBench::GraphCache::Clear();                            \
        return 0;                                                 \
    }

/// Reports work per item: items per second, and the time per item as the
/// counter "per_item" (in seconds, printed with an SI prefix).
/// True as soon as one of `p_watchers`, in order, reports `Modified()`: the
/// loop a client writes over watchers of its own.
template <class Watchers>
bool AnyModifiedLoop(Watchers const& p_watchers) {
    for (auto const& watcher : p_watchers) {
        if (watcher.Modified()) {
            return true;
        }
    }
    return false;
}

/// Runs the timed loop of a poll; returns how many polls answered clean.
template <class Poll>
std::int64_t CleanPolls(benchmark::State& p_state, Poll p_poll) {
    std::int64_t clean = 0;
    for (auto _ : p_state) {
        clean += p_poll() ? 0 : 1;
    }
    return clean;
}

/// Nodes (objects) made and then dropped together by the create + destroy
/// rows of the library, the baseline and the peers: a batch as a model
/// that loads or rebuilds makes, and a model of 100,000 made and dropped
/// whole.
constexpr std::size_t kBatch = 1000;
constexpr std::size_t kLargeBatch = 100000;

inline void SetPerItem(benchmark::State& p_state, std::uint64_t p_itemsPerIteration) {
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_itemsPerIteration));
    p_state.counters["per_item"] =
        benchmark::Counter(static_cast<double>(p_itemsPerIteration),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace QelBench

#endif
