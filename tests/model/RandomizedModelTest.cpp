// Seeded operations run on the library and on the model (Model.h) side by
// side, compared after every step. A longer run, and the replay of one seed:
//   QEL_MODEL_SEEDS=5000 QEL_MODEL_STEPS=300 build/tests/model/model_tests
//   QEL_MODEL_SEED=<seed> QEL_MODEL_STEPS=<step + 1> build/tests/model/model_tests
#include "Driver.h"

#include <gtest/gtest.h>

#ifdef QEL_MODEL_TEST_IO
#include "IOModel.h"
#endif

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

#ifdef QEL_MODEL_TEST_IO
// Random models of linking references, lists of roots and links taken back:
// whatever Save writes loads, as distinct nodes, and saves the same again.
TEST(RandomizedModelTest, EverySavedModelLoadsExactlyAsDistinctNodes) {
    using namespace qeliotest;
    RegisterModel();
    for (std::uint64_t seed = 1; seed <= FromEnvironment("QEL_MODEL_SEEDS", 200); ++seed) {
        std::mt19937_64 random(seed);
        auto pick = [&random](std::size_t p_count) { return static_cast<std::size_t>(random() % p_count); };
        std::vector<Ptr<Plain>> plains;
        std::vector<Ptr<Mutual>> mutuals;
        Ptr<Everything> const holder = Node::Create<Everything>();
        for (std::size_t i = 0, count = 2 + pick(4); i < count; ++i) {
            plains.push_back(Node::Create<Plain>());
            mutuals.push_back(Node::Create<Mutual>());
        }
        for (int step = 0; step < 24; ++step) {
            Mutual& m = *mutuals[pick(mutuals.size())];
            Ptr<Plain> const& p = plains[pick(plains.size())];
            try {
                switch (pick(6)) {
                    case 0:
                        m._other.Attach(mutuals[pick(mutuals.size())]);
                        break;
                    case 1:
                        m._plains.Attach(p);
                        break;
                    case 2:
                        m.StopDependingOn(*mutuals[pick(mutuals.size())]);
                        break;
                    case 3:
                        m.DependOn(*mutuals[pick(mutuals.size())]);
                        break;
                    case 4:
                        holder->_many.Attach(p);
                        break;
                    default:
                        p->_next.Attach(mutuals[pick(mutuals.size())]);
                        break;
                }
            } catch (CyclicDependencyFoundExcept const&) {
                // Refused and unchanged: the model goes on as it was.
            }
        }
        std::vector<Ptr<Node>> roots{holder};
        for (std::size_t i = 0, count = 1 + pick(3); i < count; ++i) {
            roots.push_back(plains[pick(plains.size())]);
        }
        std::string const text = IO::Save(roots);
        std::vector<Ptr<Node>> const loaded = IO::Load(text);
        ASSERT_EQ(IO::Save(loaded), text) << "seed " << seed;
        for (std::size_t i = 0; i < roots.size(); ++i) {
            for (std::size_t j = 0; j < roots.size(); ++j) {
                ASSERT_EQ(loaded[i] == loaded[j], roots[i] == roots[j]) << "seed " << seed;
            }
        }
    }
}
#endif

}  // namespace
