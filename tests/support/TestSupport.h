// Helpers shared by the unit tests: report inspection and allocation counting.
#ifndef QEL_TESTS_TESTSUPPORT_H
#define QEL_TESTS_TESTSUPPORT_H

#include <qeldebug.h>

#include <cstddef>
#include <string>
#include <vector>

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
    std::size_t Allocations() const;
    std::size_t Deallocations() const;
    /// Sizes asked for, in order.
    std::vector<std::size_t> const& Sizes() const { return _sizes; }

private:
    std::size_t _startNew;
    std::size_t _startDelete;
    std::vector<std::size_t> _sizes;
    AllocationCounter* _previous;
    friend void RecordAllocation(std::size_t);
};

}  // namespace qeltest

#endif
