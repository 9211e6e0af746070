// Runs operations decoded from bytes on the library and on the reference
// model side by side, comparing the two after every step. The randomized
// test and the fuzzer share this decoder and this comparison.
#ifndef QEL_TESTS_MODEL_DRIVER_H
#define QEL_TESTS_MODEL_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qelmodel {

/// Bytes per operation. Slots are resolved against the current state, so
/// every byte string is a valid program.
constexpr std::size_t kOperationBytes = 4;

/// Runs `p_size / kOperationBytes` operations (at most `p_maxSteps`), then
/// clears every list and releases every node. Returns what diverged, with the
/// step and the operations so far, or "" when both sides agreed throughout.
/// `p_corruptModel` breaks the model before the clearing, as a self-test.
std::string RunBytes(std::uint8_t const* p_bytes, std::size_t p_size, std::size_t p_maxSteps,
                     bool p_corruptModel = false);

}  // namespace qelmodel

#endif
