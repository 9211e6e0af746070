// libFuzzer target: the input is decoded, four bytes per operation, by the
// same driver as the randomized model test (tests/model/Driver.h), and every
// operation runs on the library and on the reference model side by side. A
// divergence prints the step, the difference and the operations so far, and
// aborts, so that libFuzzer keeps the input as a crash.
//
// Build and run: bash scripts/fuzz.sh [seconds]. A saved crash replays with
//   build-fuzz/fuzz/fuzz_operations <crash file>
#include "Driver.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Long inputs add little that a shorter one could not reach, and cost time
// per execution.
constexpr std::size_t kMaxSteps = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* p_data, std::size_t p_size) {
    std::string const failure = qelmodel::RunBytes(p_data, p_size, kMaxSteps);
    if (!failure.empty()) {
        std::fprintf(stderr, "library and model diverged: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
