#include "TestSupport.h"

#include <Node.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace qeltest {

namespace {
thread_local std::size_t t_deletes = 0;
thread_local AllocationCounter* t_counter = nullptr;
thread_local bool t_inRecord = false;
}  // namespace

void RecordAllocation(std::size_t p_size) {
    if (t_counter != nullptr && !t_inRecord) {
        t_inRecord = true;  // the vector below allocates too
        t_counter->_sizes.push_back(p_size);
        t_inRecord = false;
    }
}

// Counted from the end of the constructor, so that the reserve is not (it frees nothing).
AllocationCounter::AllocationCounter() : _startDelete(t_deletes), _previous(t_counter) {
    _sizes.reserve(64);
    t_counter = this;
}
AllocationCounter::~AllocationCounter() { t_counter = _previous; }
std::size_t AllocationCounter::Deallocations() const { return t_deletes - _startDelete; }

void ExpectRefused(std::function<void()> const& p_action, qeldebug::reportkind p_kind, std::string const& p_text,
                   bool p_returns) {
    for (qeldebug::failpolicy policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        SCOPED_TRACE(policy == qeldebug::failpolicy::throwing ? "throwing policy" : "returning policy");
        qeldebug::capture cap(policy);
        bool const returns = p_returns && policy == qeldebug::failpolicy::returning;
        EXPECT_EQ(CheckFailure(p_action), returns ? "<returned>" : p_text);
        EXPECT_EQ(Texts(cap, p_kind), std::vector<std::string>{p_text});
        EXPECT_EQ(cap.records().size(), 1u) << "one report";
    }
}

std::vector<Qel::Chart::Core::Node const*> DependentsOf(Qel::Chart::Core::Node const& p_node) {
    std::vector<Qel::Chart::Core::Node const*> result;
    for (Qel::Chart::Core::IModifiable::Identifier const& entry : p_node.Deps()) {
        result.push_back(dynamic_cast<Qel::Chart::Core::Node const*>(entry.Get()));
    }
    return result;
}

int LiveNodes() { return Qel::Chart::Core::Node::_debugNodeCount.load(); }
int NodeBytes() { return Qel::Chart::Core::Node::_debugNodeMemUsage.load(); }

std::ostream& operator<<(std::ostream& p_stream, Counters const& p_counters) {
    return p_stream << p_counters.nodes << " nodes of " << p_counters.nodeBytes << " bytes, " << p_counters.blocks
                    << " tracked blocks of " << p_counters.bytes << " bytes";
}

std::vector<qeldebug::record> OfKind(qeldebug::capture const& p_capture, qeldebug::reportkind p_kind) {
    std::vector<qeldebug::record> result;
    for (auto const& r : p_capture.records()) {
        if (r.kind == p_kind) {
            result.push_back(r);
        }
    }
    return result;
}

std::vector<std::string> Texts(qeldebug::capture const& p_capture, qeldebug::reportkind p_kind) {
    std::vector<std::string> result;
    for (auto const& r : OfKind(p_capture, p_kind)) {
        result.push_back(r.text);
    }
    return result;
}

namespace {

// Every test binary ends by checking that nothing it tracked was left behind:
// no block in the allocation tracker, no node counted alive.
class LeakCheckEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), 0u) << "tracked blocks left at exit";
        EXPECT_EQ(qeldebug::allocationtracker::bytes_in_use(), 0u) << "tracked bytes left at exit";
        EXPECT_EQ(LiveNodes(), 0) << "nodes left alive at exit";
    }
};

::testing::Environment* const g_leakCheck = ::testing::AddGlobalTestEnvironment(new LeakCheckEnvironment);

}  // namespace
}  // namespace qeltest

// Counting replacements of the global allocation functions. They serve
// AllocationCounter; the counts are per thread so parallel threads in a test
// do not disturb each other.
void* operator new(std::size_t p_size) {
    qeltest::RecordAllocation(p_size);
    if (void* p = std::malloc(p_size == 0 ? 1 : p_size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t p_size) { return operator new(p_size); }
void operator delete(void* p_block) noexcept {
    if (p_block != nullptr) {
        ++qeltest::t_deletes;
    }
    std::free(p_block);
}
void operator delete[](void* p_block) noexcept { operator delete(p_block); }
void operator delete(void* p_block, std::size_t) noexcept { operator delete(p_block); }
void operator delete[](void* p_block, std::size_t) noexcept { operator delete(p_block); }
