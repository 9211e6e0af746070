// Qt 6 beside the library on node lifetime and watcher polls: QObject made
// and deleted in batches, and QPointer watchers. Built when Qt 6 is found.
#include "BenchSupport.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

namespace QelBench {
namespace {

template <std::size_t Batch>
void BM_CreateDestroyQtObject(benchmark::State& p_state) {
    std::vector<QObject*> batch;
    batch.reserve(Batch);
    std::uint64_t made = 0;
    for (auto _ : p_state) {
        for (std::size_t i = 0; i < Batch; ++i) {
            batch.push_back(new QObject());
        }
        benchmark::DoNotOptimize(batch.data());
        made += batch.size();
        for (QObject* object : batch) {
            delete object;
        }
        batch.clear();
    }
    if (made != static_cast<std::uint64_t>(p_state.iterations()) * Batch) {
        p_state.SkipWithError("a batch made other than its count of objects");
        return;
    }
    SetPerItem(p_state, Batch);
}

// A subject with a stamp, watched through a QPointer (null once deleted)
// and the stamp remembered: the watcher of a hand-written Qt model.
struct QtSubject : QObject {
    std::uint64_t stamp = 0;
};
struct QtWatcher {
    QPointer<QtSubject> subject;
    std::uint64_t last;
    bool Modified() const { return subject.isNull() || subject->stamp != last; }
};

void BM_WatcherPollQtPointer(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    std::vector<std::unique_ptr<QtSubject>> subjects;
    std::vector<QtWatcher> watchers;
    subjects.reserve(count);
    watchers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        subjects.push_back(std::make_unique<QtSubject>());
        watchers.push_back(QtWatcher{subjects.back().get(), 0});
    }
    auto poll = [&watchers] { return AnyModifiedLoop(watchers); };
    std::int64_t const clean = CleanPolls(p_state, poll);
    ++subjects[count - 1]->stamp;
    if (clean != p_state.iterations() || !poll()) {
        p_state.SkipWithError("a poll of clean watchers reported a change, or missed one");
        return;
    }
    SetPerItem(p_state, count);
}

}  // namespace

void RegisterQtNodeRows() {
    benchmark::RegisterBenchmark("CreateDestroy/QtObject", BM_CreateDestroyQtObject<kBatch>);
    benchmark::RegisterBenchmark("CreateDestroy/QtObject/100000", BM_CreateDestroyQtObject<kLargeBatch>);
    benchmark::RegisterBenchmark("WatcherPoll/QtPointer", BM_WatcherPollQtPointer)->Arg(1000)->Arg(100000);
}

}  // namespace QelBench
