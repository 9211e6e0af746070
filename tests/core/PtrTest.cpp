#include "Ptr.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <functional>
#include <string>

using Qel::Chart::Core::DynamicPtrCast;
using Qel::Chart::Core::NullPtrException;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::WeakPtr;

namespace {

// A second base, so that a base pointer and the object's own address can differ.
struct PtrTestBase {
    static inline int s_uncounted = 0;
    explicit PtrTestBase(int* p_destroyed = &s_uncounted) : _destroyed(p_destroyed) {}
    virtual ~PtrTestBase() { ++*_destroyed; }
    int* _destroyed;
};
struct PtrTestOtherBase {
    virtual ~PtrTestOtherBase() = default;
    int _other = 7;
};
struct PtrTestDerived : PtrTestBase, PtrTestOtherBase {
    using PtrTestBase::PtrTestBase;
};
struct PtrTestSibling : PtrTestBase {};

template <class T>
Ptr<T> Make(T* p_object) {
    return Ptr<T>(boost::shared_ptr<T>(p_object));
}

// The message of the NullPtrException that `p_action` throws.
template <class F>
std::string NullPtrMessage(F p_action) {
    try {
        p_action();
    } catch (NullPtrException const& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(PtrOwnershipTest, NullIsRefusedAndOwnershipShared) {
    EXPECT_EQ(NullPtrMessage([] { Ptr<PtrTestBase> p{boost::shared_ptr<PtrTestBase>()}; }),
              "null pointer passed to Core::Ptr");
    EXPECT_THROW(Ptr<PtrTestBase>{boost::shared_ptr<PtrTestBase>()}, Qel::Chart::Utility::Exception);

    int destroyed = 0;
    boost::shared_ptr<PtrTestBase> raw(new PtrTestBase(&destroyed));
    {
        Ptr<PtrTestBase> first(raw);
        EXPECT_EQ(&*first, raw.get());
        Ptr<PtrTestBase> second = Make(new PtrTestBase(&destroyed));
        second = first;
        EXPECT_EQ(destroyed, 1) << "the replaced object had its last owner";
        EXPECT_EQ(raw.use_count(), 3);
    }
    EXPECT_EQ(raw.use_count(), 1);
}

TEST(PtrConversionTest, DerivedConvertsToBaseAndShares) {
    int destroyed = 0;
    Ptr<PtrTestDerived> derived = Make(new PtrTestDerived(&destroyed));
    Ptr<PtrTestBase> base = derived;
    Ptr<PtrTestOtherBase> other = derived;
    EXPECT_EQ(other.Get(), static_cast<PtrTestOtherBase*>(derived.Get()));
    EXPECT_EQ(other->_other, 7);
    derived = Make(new PtrTestDerived());
    base = derived;
    EXPECT_EQ(destroyed, 0) << "the second base still owns the first object";
    other = derived;
    EXPECT_EQ(destroyed, 1);
}

TEST(PtrConversionTest, CastsSucceedOrThrow) {
    boost::shared_ptr<PtrTestBase> shared(new PtrTestDerived());
    Ptr<PtrTestDerived> down(shared);
    EXPECT_EQ(static_cast<PtrTestBase*>(down.Get()), shared.get());
    Ptr<PtrTestOtherBase> across = DynamicPtrCast<PtrTestOtherBase>(Ptr<PtrTestBase>(shared));
    EXPECT_EQ(across.Get(), static_cast<PtrTestOtherBase*>(down.Get()));
    EXPECT_EQ(shared.use_count(), 3);

    boost::shared_ptr<PtrTestBase> sibling(new PtrTestSibling());
    EXPECT_EQ(NullPtrMessage([&] { Ptr<PtrTestDerived> p(sibling); }), "failed to cast Core::Ptr to type!");
    EXPECT_EQ(NullPtrMessage([] { Ptr<PtrTestDerived> p{boost::shared_ptr<PtrTestBase>()}; }),
              "failed to cast Core::Ptr to type!");
    EXPECT_EQ(NullPtrMessage([&] { DynamicPtrCast<PtrTestDerived>(Ptr<PtrTestBase>(sibling)); }),
              "failed to cast Core::Ptr to type!");
    EXPECT_EQ(sibling.use_count(), 1);
}

TEST(PtrComparisonTest, ComparesByObjectAddressWhateverTheBase) {
    Ptr<PtrTestBase> a = Make(new PtrTestBase());
    Ptr<PtrTestBase> b = Make(new PtrTestBase());
    Ptr<PtrTestBase> alsoA = a;
    EXPECT_TRUE(a == alsoA);
    EXPECT_FALSE(a != alsoA);
    EXPECT_FALSE(a < alsoA || alsoA < a);
    EXPECT_TRUE(a != b);
    bool const aFirst = std::less<PtrTestBase*>()(a.Get(), b.Get());
    EXPECT_EQ(a < b, aFirst);
    EXPECT_EQ(b < a, !aFirst);

    Ptr<PtrTestDerived> derived = Make(new PtrTestDerived());
    Ptr<PtrTestBase> base = derived;
    Ptr<PtrTestOtherBase> other = derived;
    EXPECT_TRUE(derived == base);
    EXPECT_TRUE(derived == other);
    EXPECT_FALSE(derived != other);
    EXPECT_FALSE(derived < other || other < derived) << "one object is neither before nor after itself";
}

TEST(WeakPtrTest, ObservesWithoutKeepingAlive) {
    WeakPtr<PtrTestBase> weak;
    EXPECT_TRUE(weak.Expired());
    EXPECT_EQ(NullPtrMessage([&] { weak.Lock(); }), "null pointer passed to Core::Ptr");

    int destroyed = 0;
    WeakPtr<PtrTestBase> fromDerived;
    {
        Ptr<PtrTestDerived> owner = Make(new PtrTestDerived(&destroyed));
        weak = Ptr<PtrTestBase>(owner);
        fromDerived = WeakPtr<PtrTestBase>(owner);
        WeakPtr<PtrTestBase> const copy(weak);
        EXPECT_FALSE(copy.Expired());
        EXPECT_EQ(owner.Shared().use_count(), 1) << "observers hold no strong count";
        Ptr<PtrTestBase> locked = weak.Lock();
        EXPECT_EQ(locked.Get(), static_cast<PtrTestBase*>(owner.Get()));
        EXPECT_EQ(owner.Shared().use_count(), 2);
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(weak.Expired());
    EXPECT_TRUE(fromDerived.Expired());
    EXPECT_EQ(NullPtrMessage([&] { weak.Lock(); }), "null pointer passed to Core::Ptr");
}
