#include "IModifiable.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::Modifiable;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::TimeStamp;
using Qel::Chart::Core::WeakPtr;
using Lines = std::vector<std::string>;

namespace {

template <class T>
std::string Printed(T const& p_value) {
    std::ostringstream out;
    out << p_value;
    return out.str();
}

char const* const kChangeSentry =
    "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
    "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
    "Qel::Chart::Core::IModifiable::Change &) @line78";
char const* const kTypeSentry =
    "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
    "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
    "Qel::Chart::Core::IModifiable::ModifiableType &) @line54";
char const* const kRelationshipSentry =
    "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
    "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
    "Qel::Chart::Core::IModifiable::Relationship &) @line33";

struct TouchRefused : std::runtime_error {
    TouchRefused() : std::runtime_error("refused by the client") {}
};

// A client modifiable that records the notifications it receives.
template <int N>
class RecordingModifiable : public Modifiable<N> {
public:
    struct Call {
        IModifiable::ModifiableType type;
        IModifiable::Change change;
        IModifiable::Relationship relationship;
        bool originatorExpired;
        std::string name;
        bool payloadEmpty;
    };

    void TouchThis(IModifiable::ModifiableType p_type, IModifiable::Change p_change,
                   IModifiable::Relationship p_relationship, WeakPtr<Node> const& p_originator,
                   std::string const& p_name, boost::any const& p_value) override {
        if (_refuse) {
            throw TouchRefused();
        }
        _calls.push_back(Call{p_type, p_change, p_relationship, p_originator.Expired(), p_name, p_value.empty()});
    }
    IModifiable::Identifier Id() const override { return IModifiable::Identifier(); }
    TimeStamp const Time() const override { return TimeStamp(); }
    std::string const Name() const override { return _name; }

    std::vector<Call> _calls;
    std::string _name = "recorder";
    bool _refuse = false;
};

template <class T>
class ModifiableTouchTest : public ::testing::Test {};
using ModifiableKinds = ::testing::Types<std::integral_constant<int, 0>, std::integral_constant<int, 1>,
                                         std::integral_constant<int, 2>, std::integral_constant<int, 1007>>;
TYPED_TEST_SUITE(ModifiableTouchTest, ModifiableKinds);

}  // namespace

TYPED_TEST(ModifiableTouchTest, TouchIsAForcedSelfChangeOfItsOwnType) {
    qeldebug::capture cap;
    RecordingModifiable<TypeParam::value> object;
    object.Touch();
    object._name = "renamed";
    object.Touch();
    ASSERT_EQ(object._calls.size(), 2u);
    auto const& call = object._calls[0];
    EXPECT_EQ(call.type, static_cast<IModifiable::ModifiableType>(TypeParam::value));
    EXPECT_EQ(call.change, IModifiable::Force);
    EXPECT_EQ(call.relationship, IModifiable::Self);
    EXPECT_TRUE(call.originatorExpired);
    EXPECT_EQ(call.name, "recorder");
    EXPECT_TRUE(call.payloadEmpty);
    EXPECT_EQ(object._calls[1].name, "renamed") << "the name is asked for at every touch";
    EXPECT_TRUE(cap.records().empty()) << "a live object touches without warnings";

    object._refuse = true;
    EXPECT_THROW(object.Touch(), TouchRefused) << "the client's exception passes through";
    EXPECT_FALSE(object.IsDeallocated());
    object._refuse = false;
    object.Touch();
    EXPECT_EQ(object._calls.size(), 3u);
}

TEST(ModificationVocabularyPrintTest, TextsOfEveryValue) {
    Lines const changes = {"change(edit)",   "change(clear)",      "change(add)",
                           "change(remove)", "change(deallocate)", "change(force)"};
    for (int value = 0; value < 6; ++value) {
        EXPECT_EQ(Printed(static_cast<IModifiable::Change>(value)), changes[value]);
    }
    EXPECT_EQ(Printed(IModifiable::TypeNode), "type(node)");
    EXPECT_EQ(Printed(IModifiable::TypeProperty), "type(property)");
    EXPECT_EQ(Printed(IModifiable::TypeExplicitRef), "type(explicit-ref)");
    EXPECT_EQ(Printed(IModifiable::TypeUser), "type(user=1000)");
    EXPECT_EQ(Printed(static_cast<IModifiable::ModifiableType>(INT_MAX)), "type(user=2147483647)");
    EXPECT_EQ(Printed(IModifiable::Self), "relationship(self)");
    EXPECT_EQ(Printed(IModifiable::Explicit), "relationship(explicit)");
    EXPECT_EQ(Printed(IModifiable::Implicit), "relationship(implicit)");

    // The client kind's number goes through the stream's own int inserter.
    std::ostringstream hex;
    hex << std::hex << static_cast<IModifiable::ModifiableType>(1002);
    EXPECT_EQ(hex.str(), "type(user=3ea)");
}

TEST(ModificationVocabularyPrintTest, ValuesOutsideTheTablesReportASentry) {
    qeldebug::capture cap(qeldebug::failpolicy::throwing);
    std::ostringstream out;
    out << static_cast<IModifiable::Change>(6) << static_cast<IModifiable::Change>(-1) << '|'
        << static_cast<IModifiable::ModifiableType>(999) << static_cast<IModifiable::ModifiableType>(-1)
        << static_cast<IModifiable::ModifiableType>(3) << '|' << static_cast<IModifiable::Relationship>(3);
    EXPECT_EQ(out.str(), "change()change()|type()type()type()|relationship()");
    EXPECT_TRUE(out.good());
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::sentry),
              (Lines{kChangeSentry, kChangeSentry, kTypeSentry, kTypeSentry, kTypeSentry, kRelationshipSentry}));
}
