#include "ChartUtility.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

using Qel::Chart::Utility::Exception;
using Qel::Chart::Utility::LightString_Base;
using Qel::Chart::Utility::TypeInfo;

namespace {
struct UtilityTestBase {
    virtual ~UtilityTestBase() = default;
};
struct UtilityTestDerived : UtilityTestBase {};
}  // namespace

TEST(ChartUtilityExceptionTest, CopiesKeepTheMessage) {
    auto original = std::make_unique<Exception>(std::string("the message"));
    Exception copy(*original);
    Exception assigned(std::string("other"));
    assigned = *original;
    original.reset();
    EXPECT_STREQ(copy.what(), "the message");
    EXPECT_STREQ(assigned.what(), "the message");
    std::exception const& base = copy;
    EXPECT_STREQ(base.what(), "the message");
}

TEST(ChartUtilityTypeInfoTest, OrderAndEqualityFollowTypeInfo) {
    UtilityTestDerived derived;
    UtilityTestBase const& base = derived;
    std::vector<std::type_info const*> types = {&typeid(int), &typeid(UtilityTestBase), &typeid(base), &typeid(void)};
    for (auto const* left : types) {
        for (auto const* right : types) {
            EXPECT_EQ(TypeInfo(*left) < TypeInfo(*right), left->before(*right));
            EXPECT_EQ(TypeInfo(*left) == TypeInfo(*right), *left == *right);
        }
    }
    EXPECT_TRUE(TypeInfo(typeid(base)) == TypeInfo(typeid(UtilityTestDerived)));
}

TEST(ChartUtilityLightStringTest, InserterWritesExactlyTheCharacters) {
    std::ostringstream out;
    out << "[" << LightString_Base<char>() << "][" << LightString_Base<char>(std::string("short")) << "]["
        << LightString_Base<char>(std::string("longer than thirteen")) << "]["
        << LightString_Base<char>(std::string("a\0b", 3)) << "]";
    EXPECT_EQ(out.str(), std::string("[][short][longer than thirteen][a\0b]", 36));
}

TEST(ChartUtilityDebugStreamBufTest, ForwardsLineByLine) {
    qeldebug::capture cap;
    {
        Qel::Chart::Utility::DebugStreamBuf buffer(Qel::Chart::Utility::GetLogger().dout("NodeTypeInfo"));
        std::ostream stream(&buffer);
        stream << "first line\nsecond";
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::dout), std::vector<std::string>{"first line"});
        stream.put(' ');
        stream << 2 << '\n' << "third" << std::endl;
    }
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::dout),
              (std::vector<std::string>{"first line", "second 2", "third"}));
    EXPECT_EQ(cap.records().size(), 3u);
    EXPECT_EQ(cap.records()[0].category, "NodeTypeInfo");
}
