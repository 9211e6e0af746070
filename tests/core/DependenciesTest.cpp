#include <Dependencies.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace graphtest;

namespace {

char const* const kRemoveMissingText =
    "\"found != _list.End()\" - void __cdecl Qel::Chart::Core::Dependencies::Remove(const class "
    "Qel::Chart::Core::IModifiable &)";

std::vector<IModifiable const*> Expect(std::initializer_list<IModifiable const*> p_entries) { return p_entries; }

}  // namespace

// ---------------------------------------------------------------------------
// Order, duplicates and storage

TEST(DependenciesTest, AnEmptyListHoldsNoStorage) {
    Dependencies list;
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
    list.Clear();
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);

    // Removing the only entry frees the storage again.
    TestModifiable a;
    list.Insert(a);
    ASSERT_NE(list.Begin(), nullptr);
    list.Remove(a);
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
}

TEST(DependenciesTest, KeepsInsertionOrderAndDuplicatesAndRemovesTheFirstMatch) {
    TestModifiable a, b;
    Dependencies list;
    list.Insert(a);
    list.Insert(b);
    list.Insert(a);
    EXPECT_EQ(Entries(list), Expect({&a, &b, &a}));
    EXPECT_EQ(list.End() - list.Begin(), 3);

    // Removing moves the tail forward inside the same block.
    IModifiable::Identifier const* const before = list.Begin();
    list.Remove(a);
    EXPECT_EQ(Entries(list), Expect({&b, &a}));
    EXPECT_EQ(list.Begin(), before);
}

TEST(DependenciesTest, EveryInsertMovesTheEntriesAndAllocatesExactlyOnce) {
    TestModifiable a, b;
    Dependencies list;
    list.Insert(a);
    for (int i = 0; i < 3; ++i) {
        IModifiable::Identifier const* const before = list.Begin();
        qeltest::AllocationCounter counter;
        list.Insert(b);
        EXPECT_EQ(NewCalls(counter), 1u);
        EXPECT_EQ(counter.Deallocations(), 1u);  // the old block
        EXPECT_NE(list.Begin(), before);
    }
    EXPECT_EQ(Entries(list), Expect({&a, &b, &b, &b}));
}

TEST(DependenciesTest, ExpiredObjectsAreAcceptedAndStillCompareByAddress) {
    TestModifiable a, b, gone;
    gone.Expire();
    Dependencies list;
    list.Insert(gone);  // nothing is checked
    list.Insert(a);
    list.Insert(b);
    EXPECT_TRUE(list.Begin()->Expired());
    a.Expire();
    list.Remove(a);
    EXPECT_EQ(Entries(list), Expect({&gone, &b}));
}

// ---------------------------------------------------------------------------
// Squeze

TEST(DependenciesTest, SquezeDropsExpiredEntriesAndKeepsTheOrderOfTheOthers) {
    TestModifiable a, x, b, y, c;
    Dependencies list;
    for (TestModifiable* m : {&a, &x, &b, &y, &c}) {
        list.Insert(*m);
    }
    x.Expire();
    y.Expire();
    list.Squeze();
    EXPECT_EQ(Entries(list), Expect({&a, &b, &c}));

    a.Expire();
    b.Expire();
    c.Expire();
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
}

TEST(DependenciesTest, SquezeWithoutExpiredEntriesLeavesTheStorageUntouched) {
    TestModifiable a, b;
    Dependencies list;
    list.Insert(a);
    list.Insert(b);
    IModifiable::Identifier const* const before = list.Begin();
    qeltest::AllocationCounter counter;
    list.Squeze();
    EXPECT_EQ(NewCalls(counter), 0u);
    EXPECT_EQ(counter.Deallocations(), 0u);
    EXPECT_EQ(list.Begin(), before);
    EXPECT_EQ(Entries(list), Expect({&a, &b}));
}

// ---------------------------------------------------------------------------
// Failures

TEST(DependenciesTest, RemovingAMissingEntryIsReportedAndChangesNothing) {
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        TestModifiable a, b, missing;
        Dependencies list, empty;
        list.Insert(a);
        list.Insert(b);
        IModifiable::Identifier const* const before = list.Begin();
        capture cap(policy);
        EXPECT_EQ(CheckFailure([&] { list.Remove(missing); }), kRemoveMissingText);
        EXPECT_EQ(CheckFailure([&] { empty.Remove(a); }), kRemoveMissingText);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), std::vector<std::string>(2, kRemoveMissingText));
        EXPECT_EQ(list.Begin(), before);
        EXPECT_EQ(Entries(list), Expect({&a, &b}));
        EXPECT_EQ(empty.Begin(), nullptr);
    }
}
