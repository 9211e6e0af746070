// Qt 6 beside the library on the fan-out shape: one source, N dependents,
// each stamped on every change of the source. Built when Qt 6 is found.
#include "BenchSupport.h"

#include <QObject>
#include <QProperty>
#include <QString>

#include <memory>
#include <vector>

namespace QelBench {
namespace {

// A dependent: a QObject as the connection's context, and its stamp.
struct QtDependent {
    QObject context;
    std::uint64_t stamp = 0;
};

// Every change emits `objectNameChanged` to N lambda slots, direct
// connections, each stamping its dependent.
void BM_FanOutQtSignal(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    QObject source;
    std::vector<std::unique_ptr<QtDependent>> dependents;
    dependents.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        dependents.push_back(std::make_unique<QtDependent>());
        QtDependent* const dependent = dependents.back().get();
        QObject::connect(&source, &QObject::objectNameChanged, &dependent->context,
                         [dependent] { ++dependent->stamp; });
    }
    // Two names in turn: a name set again unchanged emits nothing.
    QString const names[2] = {QStringLiteral("a"), QStringLiteral("b")};
    std::uint64_t changes = 0;
    for (auto _ : p_state) {
        source.setObjectName(names[changes++ % 2]);
    }
    for (auto const& dependent : dependents) {
        if (dependent->stamp != changes) {
            p_state.SkipWithError("a dependent was not stamped once per change");
            return;
        }
    }
    SetPerItem(p_state, count + 1);
}

// Every change of a QProperty runs its N notifiers, each stamping its
// dependent: Qt's notifier. The dependents are the signal row's objects,
// each a heap object of its own, as the library's dependent nodes are.
void BM_FanOutQtNotifier(benchmark::State& p_state) {
    std::size_t const count = static_cast<std::size_t>(p_state.range(0));
    QProperty<int> source(0);
    std::vector<std::unique_ptr<QtDependent>> dependents;
    std::vector<QPropertyNotifier> notifiers;
    dependents.reserve(count);
    notifiers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        dependents.push_back(std::make_unique<QtDependent>());
        QtDependent* const dependent = dependents.back().get();
        notifiers.push_back(source.addNotifier([dependent] { ++dependent->stamp; }));
    }
    std::uint64_t changes = 0;
    for (auto _ : p_state) {
        source.setValue(static_cast<int>(++changes));
    }
    for (auto const& dependent : dependents) {
        if (dependent->stamp != changes) {
            p_state.SkipWithError("a notifier did not run once per change");
            return;
        }
    }
    SetPerItem(p_state, count + 1);
}

}  // namespace

void RegisterQtPropagationRows() {
    benchmark::RegisterBenchmark("FanOut/QtSignal", BM_FanOutQtSignal)->Arg(1000)->Arg(100000);
    benchmark::RegisterBenchmark("FanOut/QtNotifier", BM_FanOutQtNotifier)->Arg(1000)->Arg(100000);
}

}  // namespace QelBench
