// Editing a model: K property sets on one axis with N dependents, inside and
// outside a ChangeBatch, and the undo of a transaction of 10,000 changes
// against making those changes. Times are per benchmark iteration; the undo
// rows also report the heap bytes the stack holds per recorded change.
#include <QelChart/ChangeBatch.h>
#include <QelChart/Node.h>
#include <QelChart/Property.h>
#include <QelChart/UndoStack.h>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <vector>

namespace {

using namespace Qel::Chart::Core;

struct Plain : Node {};
struct Axis : Node {
    Property<double> max{*this, "max", 1.0};
};

struct AxisWithSeries {
    explicit AxisWithSeries(std::size_t p_dependents) : axis(Node::Create<Axis>()) {
        series.reserve(p_dependents);
        axis->Deps().Reserve(p_dependents);
        for (std::size_t i = 0; i < p_dependents; ++i) {
            series.push_back(Node::Create<Plain>());
            axis->Deps().Insert(*series.back());
        }
    }
    ~AxisWithSeries() {
        axis = Ptr<Axis>();
        while (!series.empty()) {
            series.pop_back();
        }
    }
    AxisWithSeries(AxisWithSeries const&) = delete;
    AxisWithSeries& operator=(AxisWithSeries const&) = delete;
    Ptr<Axis> axis;
    std::vector<Ptr<Plain>> series;
};

// args: K sets, N dependents.
void SetsUnbatched(benchmark::State& p_state) {
    AxisWithSeries model(static_cast<std::size_t>(p_state.range(1)));
    double value = 0.0;
    for (auto _ : p_state) {
        for (std::int64_t k = 0; k < p_state.range(0); ++k) {
            model.axis->max.Set(value += 1.0);
        }
    }
}

void SetsBatched(benchmark::State& p_state) {
    AxisWithSeries model(static_cast<std::size_t>(p_state.range(1)));
    double value = 0.0;
    for (auto _ : p_state) {
        ChangeBatch batch;
        for (std::int64_t k = 0; k < p_state.range(0); ++k) {
            model.axis->max.Set(value += 1.0);
        }
        batch.Commit();
    }
}

// What a set costs without the walk: K stamps of a node without dependents.
void SetsWithoutDependents(benchmark::State& p_state) {
    AxisWithSeries model(0);
    double value = 0.0;
    for (auto _ : p_state) {
        for (std::int64_t k = 0; k < p_state.range(0); ++k) {
            model.axis->max.Set(value += 1.0);
        }
    }
}

// arg: changes, spread over 100 axes without dependents.
struct Axes {
    Axes() {
        for (int i = 0; i < 100; ++i) {
            nodes.push_back(Node::Create<Axis>());
        }
    }
    void Edit(std::int64_t p_changes, double p_value) {
        for (std::int64_t i = 0; i < p_changes; ++i) {
            nodes[static_cast<std::size_t>(i) % nodes.size()]->max.Set(p_value + static_cast<double>(i));
        }
    }
    std::vector<Ptr<Axis>> nodes;
};

void MakeChanges(benchmark::State& p_state) {
    Axes axes;
    double value = 0.0;
    for (auto _ : p_state) {
        axes.Edit(p_state.range(0), value += 1.0);
    }
}

void UndoChanges(benchmark::State& p_state) {
    Axes axes;
    UndoStack stack;
    double value = 0.0;
    std::size_t held = 0;
    for (auto _ : p_state) {
        p_state.PauseTiming();
        stack.Clear();
        std::size_t const before = mallinfo2().uordblks;
        {
            UndoStack::Transaction edit(stack, "edit");
            axes.Edit(p_state.range(0), value += 1.0);
            edit.Commit();
        }
        held = mallinfo2().uordblks - before;
        p_state.ResumeTiming();
        stack.Undo();
    }
    p_state.counters["bytes_per_change"] = static_cast<double>(held) / static_cast<double>(p_state.range(0));
}

}  // namespace

BENCHMARK(SetsUnbatched)
    ->Args({1, 1000})
    ->Args({100, 1000})
    ->Args({10000, 1000})
    ->Args({1, 100000})
    ->Args({100, 100000});
BENCHMARK(SetsBatched)
    ->Args({1, 1000})
    ->Args({100, 1000})
    ->Args({10000, 1000})
    ->Args({1, 100000})
    ->Args({100, 100000})
    ->Args({10000, 100000});
BENCHMARK(SetsWithoutDependents)->Arg(1)->Arg(100)->Arg(10000);
BENCHMARK(MakeChanges)->Arg(10000);
BENCHMARK(UndoChanges)->Arg(10000);

BENCHMARK_MAIN();
