// Helpers shared by the unit tests: report inspection and allocation counting.
#ifndef QEL_TESTS_TESTSUPPORT_H
#define QEL_TESTS_TESTSUPPORT_H

#include <qeldebug.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Qel::Chart::Core {
class Node;
}  // namespace Qel::Chart::Core

namespace qeltest {

/// Records of one kind from a capture, in order.
std::vector<qeldebug::record> OfKind(qeldebug::capture const& p_capture, qeldebug::reportkind p_kind);

/// The texts of all records of one kind.
std::vector<std::string> Texts(qeldebug::capture const& p_capture, qeldebug::reportkind p_kind);

/// Counts calls of the global operator new on the current thread while it lives.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    std::size_t Deallocations() const;
    /// Sizes asked for, in order.
    std::vector<std::size_t> const& Sizes() const { return _sizes; }

private:
    std::size_t _startDelete;
    std::vector<std::size_t> _sizes;
    AllocationCounter* _previous;
    friend void RecordAllocation(std::size_t);
};

/// The `E` that `p_action` throws, or nothing when it returns.
template <class E, class F>
std::optional<E> Thrown(F&& p_action) {
    try {
        p_action();
    } catch (E const& e) {
        return e;
    }
    return std::nullopt;
}

/// The text of the `E` that `p_action` throws, or "<returned>" when it returns.
template <class E, class F>
std::string ThrownText(F&& p_action) {
    try {
        p_action();
    } catch (E const& e) {
        return e.what();
    }
    return "<returned>";
}

/// The text of the `qeldebug::check_failed` that `p_action` throws, or "<returned>".
template <class F>
std::string CheckFailure(F&& p_action) {
    return ThrownText<qeldebug::check_failed>(p_action);
}

/// Runs `p_action` under each failure policy and expects exactly one report,
/// of `p_kind` with `p_text`, and the check failure it throws; when
/// `p_returns`, the returning policy lets the action return instead.
void ExpectRefused(std::function<void()> const& p_action, qeldebug::reportkind p_kind, std::string const& p_text,
                   bool p_returns = false);

/// The nodes that a node's dependents entries name, in order: null for an
/// expired entry or one that is no node. Walks the const list by range-for.
std::vector<Qel::Chart::Core::Node const*> DependentsOf(Qel::Chart::Core::Node const& p_node);

int LiveNodes();  ///< Nodes counted alive.
int NodeBytes();  ///< Memory counted for live nodes.

/// Live nodes, node memory, tracked blocks and tracked bytes: what a failed
/// operation must leave as it found, and a finished one as it was before.
struct Counters {
    int nodes = LiveNodes();
    int nodeBytes = NodeBytes();
    std::size_t blocks = qeldebug::allocationtracker::blocks_in_use();
    std::size_t bytes = qeldebug::allocationtracker::bytes_in_use();
    bool operator==(Counters const& p_other) const {
        return nodes == p_other.nodes && nodeBytes == p_other.nodeBytes && blocks == p_other.blocks &&
               bytes == p_other.bytes;
    }
};
std::ostream& operator<<(std::ostream& p_stream, Counters const& p_counters);

/// Block sizes asked of operator new, in order.
using Sizes = std::vector<std::size_t>;

/// What an action did on the heap: the sizes it asked for and the blocks it freed.
struct HeapUse {
    Sizes sizes;
    std::size_t frees = 0;
};

/// Runs `p_action` under an AllocationCounter. The results are snapshotted
/// inside the counter's life into storage made beforehand, so that neither
/// reading them nor the test's own expectations are counted.
template <class F>
HeapUse MeasureHeap(F&& p_action) {
    HeapUse use;
    use.sizes.reserve(64);
    {
        AllocationCounter counter;
        p_action();
        use.frees = counter.Deallocations();
        use.sizes.assign(counter.Sizes().begin(), counter.Sizes().end());
    }
    return use;
}

}  // namespace qeltest

#endif
