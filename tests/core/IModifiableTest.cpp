#include "IModifiable.h"
#include "TimeStamp.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <new>
#include <sstream>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::TimeStamp;
using Lines = std::vector<std::string>;

namespace {

TimeStamp TouchedTimes(int p_times) {
    TimeStamp stamp;
    for (int i = 0; i < p_times; ++i) {
        stamp.Touch();
    }
    return stamp;
}

}  // namespace

TEST(TimeStampTest, CounterWrapsAfter16384TouchesAndForcedStampsDifferOnlyInTheFlag) {
    TimeStamp stamp = TouchedTimes(5);
    TimeStamp const before = stamp;
    for (int i = 0; i < 16384; ++i) {
        stamp.Touch();
    }
    EXPECT_EQ(stamp, before);
    TimeStamp forced;
    forced.ForceTouch();
    EXPECT_FALSE(forced == TimeStamp());
    TimeStamp last = TouchedTimes(16383);
    std::ostringstream out;
    out << last << ' ';
    last.Touch();
    EXPECT_EQ(last, forced);
    last.ForceTouch();
    EXPECT_EQ(last, forced) << "forcing (0, touched) changes nothing";
    last.Touch();
    out << last << ' ';
    last.Reset();
    EXPECT_EQ(last, TimeStamp());
    out << std::boolalpha << TouchedTimes(3) << TimeStamp() << std::hex << std::noboolalpha << std::setw(4)
        << std::setfill('.') << TouchedTimes(255);
    EXPECT_EQ(out.str(), "16383[1] 1[1] 3[true]0[false]..ff[1]") << "the width is used up by the counter";
}

// Equality reads the stamp as one word: flipping any one of its bits must
// make the stamps unequal exactly when the counter or the flag changed.
TEST(TimeStampTest, EqualityTakesEveryValueBitAndNoSpareBit) {
    for (int touches : {0, 5, 16383}) {
        TimeStamp const stamp = TouchedTimes(touches);
        int valueBits = 0;
        for (int bit = 0; bit < 32; ++bit) {
            std::uint32_t word = 0;
            std::memcpy(&word, &stamp, sizeof word);
            word ^= std::uint32_t(1) << bit;
            TimeStamp flipped;
            std::memcpy(static_cast<void*>(&flipped), &word, sizeof word);
            bool const sameValue = flipped.Counter() == stamp.Counter() && flipped.Touched() == stamp.Touched();
            valueBits += sameValue ? 0 : 1;
            EXPECT_EQ(flipped == stamp, sameValue) << touches << " touches, bit " << bit;
            EXPECT_EQ(flipped != stamp, !sameValue) << touches << " touches, bit " << bit;
        }
        EXPECT_EQ(valueBits, 15) << "14 counter bits and the flag";
    }
    // A new stamp is all zero bytes: the word compare reads the padding too.
    unsigned char const zero[sizeof(TimeStamp)] = {};
    alignas(TimeStamp) unsigned char storage[sizeof(TimeStamp)];
    std::memset(storage, 0xFF, sizeof storage);
    auto const* const fresh = ::new (static_cast<void*>(storage)) TimeStamp();
    EXPECT_EQ(std::memcmp(fresh, zero, sizeof zero), 0);
}

TEST(ModificationVocabularyPrintTest, EveryTextAFieldWidthAndASentryForValuesOutsideTheTables) {
    std::string const head =
        "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
        "std::basic_ostream<char,struct std::char_traits<char> > &,const enum Qel::Chart::Core::IModifiable::";
    std::string const change = head + "Change &) @line78", type = head + "ModifiableType &) @line54",
                      relationship = head + "Relationship &) @line33";
    for (auto policy : {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning}) {
        qeldebug::capture cap(policy);
        std::ostringstream out;
        for (int value : {0, 1, 2, 3, 4, 5, 6, -1}) {
            out << static_cast<IModifiable::Change>(value) << static_cast<IModifiable::Relationship>(value % 4);
        }
        for (int value : {0, 1, 2, 1000, 2147483647, 3, 999, -1}) {
            out << static_cast<IModifiable::ModifiableType>(value);
        }
        out << std::hex << static_cast<IModifiable::ModifiableType>(1002);
        EXPECT_EQ(out.str(),
                  "change(edit)relationship(self)change(clear)relationship(explicit)change(add)relationship(implicit)"
                  "change(remove)relationship()change(deallocate)relationship(self)change(force)relationship(explicit)"
                  "change()relationship(implicit)change()relationship()type(node)type(property)type(explicit-ref)"
                  "type(user=1000)type(user=2147483647)type()type()type()type(user=3ea)");
        EXPECT_TRUE(out.good()) << "a value outside the table does not fail the stream";
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::sentry),
                  (Lines{relationship, change, change, relationship, type, type, type}));
        EXPECT_EQ(cap.records().size(), 7u);
    }
    std::ostringstream padded;  // a field width pads the whole opening
    padded << std::setw(10) << IModifiable::Edit << "|" << std::setw(9) << IModifiable::TypeNode << "|" << std::left
           << std::setw(16) << IModifiable::Self << "|";
    EXPECT_EQ(padded.str(), "   change(edit)|    type(node)|relationship(   self)|");
}
