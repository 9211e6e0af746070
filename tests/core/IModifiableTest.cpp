#include "IModifiable.h"
#include "ModifiablePtr.h"
#include "Ptr.h"
#include "TimeStamp.h"

#include "ExpectedReports.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <cstring>
#include <functional>
#include <iomanip>
#include <new>
#include <sstream>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::ModifiablePtr;
using Qel::Chart::Core::Ptr;
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

// Two bases, so that a base pointer and the object's own address differ.
struct PtrTestBase {
    virtual ~PtrTestBase() = default;
};
struct PtrTestOtherBase {
    virtual ~PtrTestOtherBase() = default;
};
struct PtrTestDerived : PtrTestBase, PtrTestOtherBase {};

template <class F>
std::string NullPtrMessage(F p_action) {
    return qeltest::ThrownText<Qel::Chart::Core::NullPtrException>(p_action);
}

void IgnoreAnchor(void*) {}

// A node stand-in: it holds the only strong reference to its identity anchor, made on the first Id().
class AnchoredObject : public Qel::Chart::Core::Modifiable<0> {
public:
    void TouchThis(ModifiableType, Change, Relationship, Qel::Chart::Core::WeakPtr<Qel::Chart::Core::Node> const&,
                   std::string const&, boost::any const&) override {}
    Identifier Id() const override {
        auto* self = const_cast<AnchoredObject*>(this);
        if (!_anchor) {
            _anchor = boost::shared_ptr<IModifiable>(self, &IgnoreAnchor);
        }
        return Identifier(self, _anchor);
    }
    Qel::Chart::Core::TimeStamp const Time() const override { return {}; }
    std::string const Name() const override { return "anchored"; }
    mutable boost::shared_ptr<IModifiable> _anchor;  // reset as a node's destructor does
};

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

TEST(PtrTest, NullAndFailedCastsAreRefusedOneObjectIsEqualThroughEveryBaseAndWeakPtrsDoNotOwn) {
    EXPECT_EQ(NullPtrMessage([] { Ptr<PtrTestBase>{boost::shared_ptr<PtrTestBase>()}; }),
              "null pointer passed to Core::Ptr");
    boost::shared_ptr<PtrTestBase> plain(new PtrTestBase());
    EXPECT_EQ(NullPtrMessage([&] { Ptr<PtrTestDerived>{plain}; }), "failed to cast Core::Ptr to type!");
    EXPECT_EQ(plain.use_count(), 1) << "a refused pointer keeps no share";

    Ptr<PtrTestDerived> derived{boost::shared_ptr<PtrTestDerived>(new PtrTestDerived())};
    Ptr<PtrTestBase> base = derived;
    Ptr<PtrTestOtherBase> other = Qel::Chart::Core::DynamicPtrCast<PtrTestOtherBase>(base);
    EXPECT_TRUE(derived == base && derived == other);
    EXPECT_FALSE(derived != other || derived < other || other < derived);
    Ptr<PtrTestBase> second{plain};
    EXPECT_TRUE(base != second);
    EXPECT_EQ(base < second, std::less<PtrTestBase*>()(base.Get(), second.Get()));
    EXPECT_EQ(second < base, !(base < second));

    Qel::Chart::Core::WeakPtr<PtrTestBase> assigned, constructed;
    EXPECT_TRUE(assigned.Expired());
    {
        Ptr<PtrTestDerived> owner{boost::shared_ptr<PtrTestDerived>(new PtrTestDerived())};
        assigned = owner;
        constructed = Qel::Chart::Core::WeakPtr<PtrTestBase>(owner);
        EXPECT_EQ(owner.Shared().use_count(), 1) << "observers hold no strong count";
        EXPECT_EQ(assigned.Lock().Get(), static_cast<PtrTestBase*>(owner.Get()));
    }
    EXPECT_TRUE(assigned.Expired() && constructed.Expired());
    EXPECT_EQ(NullPtrMessage([&] { assigned.Lock(); }), "null pointer passed to Core::Ptr");
}

TEST(IdentifierTest, HandlesGiveAccessUntilTheObjectGoesKeepTheirIdentityAndOrderAndCannotBeMadeAfter) {
    AnchoredObject a, b;
    IModifiable* const address = &a;
    IModifiable::Identifier const early = a.Id();
    ModifiablePtr handle(a.Id()), copy;
    copy = handle;
    EXPECT_TRUE(early == a.Id());
    EXPECT_FALSE(early != a.Id() || early < a.Id() || a.Id() < early);
    EXPECT_EQ(copy.operator->(), address);
    EXPECT_EQ(a._anchor.use_count(), 1) << "identifiers and handles hold no strong reference";
    bool const aFirst =
        reinterpret_cast<std::uintptr_t>(address) < reinterpret_cast<std::uintptr_t>(static_cast<IModifiable*>(&b));
    EXPECT_EQ(early < b.Id(), aFirst);
    EXPECT_EQ(b.Id() < early, !aFirst);

    a._anchor.reset();
    EXPECT_TRUE(early.Expired() && early.Get() == nullptr);
    EXPECT_FALSE(copy);
    EXPECT_EQ(copy.operator->(), nullptr);
    EXPECT_EQ(handle.Id().Address(), address);
    EXPECT_EQ(early < b.Id(), aFirst) << "expiry changes neither identity nor order";
    EXPECT_TRUE(early == a.Id());
    EXPECT_TRUE(early.Expired()) << "a new anchor does not revive old identifiers";
    ModifiablePtr assigned(b.Id());
    assigned = ModifiablePtr();
    EXPECT_FALSE(assigned);
    bool accepted = false;
    for (IModifiable::Identifier const& each : {early, IModifiable::Identifier()}) {
        qeltest::ExpectRefused([&] { accepted = accepted || bool(ModifiablePtr(each)); }, qeldebug::reportkind::ensure,
                               qeltest::kExpiredHandle, true);
    }
    EXPECT_FALSE(accepted);
}
