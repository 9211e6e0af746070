// Seeded operations run on the library and on the model (Model.h) side by
// side, compared after every step. A longer run, and the replay of one seed:
//   QEL_MODEL_SEEDS=5000 QEL_MODEL_STEPS=300 build/tests/model/model_tests
//   QEL_MODEL_SEED=<seed> QEL_MODEL_STEPS=<step + 1> build/tests/model/model_tests
#include "Driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::size_t FromEnvironment(char const* p_name, std::size_t p_default) {
    char const* text = std::getenv(p_name);
    return text == nullptr || *text == '\0' ? p_default : static_cast<std::size_t>(std::strtoull(text, nullptr, 10));
}

std::vector<std::uint8_t> BytesFor(std::uint64_t p_seed, std::size_t p_steps) {
    std::mt19937_64 random(p_seed);
    std::vector<std::uint8_t> bytes(p_steps * qelmodel::kOperationBytes);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    }
    return bytes;
}

TEST(RandomizedModelTest, LibraryAgreesWithTheModel) {
    std::size_t const steps = FromEnvironment("QEL_MODEL_STEPS", 300);
    bool const one = std::getenv("QEL_MODEL_SEED") != nullptr;
    std::uint64_t const first = one ? FromEnvironment("QEL_MODEL_SEED", 1) : 1;
    std::uint64_t const last = one ? first : FromEnvironment("QEL_MODEL_SEEDS", 200);
    for (std::uint64_t seed = first; seed <= last; ++seed) {
        std::vector<std::uint8_t> const bytes = BytesFor(seed, steps);
        // The first divergence is the one worth reading; later seeds mostly repeat it.
        ASSERT_EQ(qelmodel::RunBytes(bytes.data(), bytes.size(), steps), "") << "replay with QEL_MODEL_SEED=" << seed;
    }
}

TEST(RandomizedModelTest, ComparisonCatchesACorruptedModel) {
    std::vector<std::uint8_t> const bytes = BytesFor(7, 40);
    ASSERT_EQ(qelmodel::RunBytes(bytes.data(), bytes.size(), 40), "");
    // Clearing the lists touches nothing: the corrupted stamp is the only difference.
    std::string const failure = qelmodel::RunBytes(bytes.data(), bytes.size(), 40, true);
    EXPECT_NE(failure.find("state differs"), std::string::npos) << failure;
    EXPECT_NE(failure.find("stamps"), std::string::npos) << failure;
}

}  // namespace
