#include "ModifiablePtr.h"
#include "Ptr.h"

#include "ExpectedReports.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::ModifiablePtr;
using Qel::Chart::Core::Ptr;

namespace {

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
