// libFuzzer target over IO::Load: the input is a document. A load either
// fails with a LoadError and leaves every counter as it was, or succeeds, and
// then the model saves to a document that loads and saves to itself byte for
// byte. Anything else (a crash, another exception, a counter off, a round
// trip that differs) aborts, so that libFuzzer keeps the input.
//
// Build and run: bash scripts/fuzz.sh [seconds]. A saved crash replays with
//   build-fuzz/fuzz/fuzz_load <crash file>
#include "IOModel.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace qeliotest;

[[noreturn]] void Fail(char const* p_what, std::string const& p_detail) {
    std::fprintf(stderr, "fuzz_load: %s: %s\n", p_what, p_detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* p_data, std::size_t p_size) {
    RegisterModel();
    std::string_view const text(reinterpret_cast<char const*>(p_data), p_size);
    // Deleting a model walks each ended node's dependents; along every path,
    // a dense enough graph would take exponential time, which is no fault
    // of loading. Once per object it is linear.
    PropagationScope const once(Propagation::OncePerObject);
    int const nodes = Node::_debugNodeCount.load();
    int const nodeBytes = Node::_debugNodeMemUsage.load();
    std::size_t const trackedBytes = qeldebug::allocationtracker::bytes_in_use();
    try {
        std::string saved;
        {
            std::vector<Ptr<Node>> const roots = IO::Load(text);
            saved = IO::Save(roots);
        }
        std::string const again = IO::Save(IO::Load(saved));
        if (again != saved) {
            Fail("a saved document saves differently once loaded", saved + "\n" + again);
        }
    } catch (IO::LoadError const& e) {
        // Refused: nothing to check but the counters below.
    } catch (std::exception const& e) {
        Fail("an exception other than IO::LoadError", e.what());
    }
    if (Node::_debugNodeCount.load() != nodes || Node::_debugNodeMemUsage.load() != nodeBytes ||
        qeldebug::allocationtracker::bytes_in_use() != trackedBytes) {
        Fail("nodes or tracked bytes left behind", std::string(text));
    }
    return 0;
}
