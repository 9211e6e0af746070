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

TEST(DependenciesTest, KeepsOrderAndDuplicatesAndHoldsNoStorageWhenEmpty) {
    TestModifiable a, b;
    Dependencies list;
    list.Clear();
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);

    list.Insert(a);
    list.Insert(b);
    list.Insert(a);
    EXPECT_EQ(Entries(list), Expect({&a, &b, &a}));
    EXPECT_EQ(list.End() - list.Begin(), 3);
    // Removing takes the first match and moves the tail forward inside the same block.
    IModifiable::Identifier const* const before = list.Begin();
    list.Remove(a);
    EXPECT_EQ(Entries(list), Expect({&b, &a}));
    EXPECT_EQ(list.Begin(), before);
    list.Remove(b);
    list.Remove(a);
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
}

TEST(DependenciesTest, EveryInsertReallocatesOnceAndSquezeWithNothingExpiredNever) {
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
    IModifiable::Identifier const* const before = list.Begin();
    qeltest::AllocationCounter counter;
    list.Squeze();
    EXPECT_EQ(NewCalls(counter), 0u);
    EXPECT_EQ(counter.Deallocations(), 0u);
    EXPECT_EQ(list.Begin(), before);
    EXPECT_EQ(Entries(list), Expect({&a, &b, &b, &b}));
}

TEST(DependenciesTest, ExpiredEntriesStayUntilSquezeWhichKeepsTheOrderOfTheOthers) {
    TestModifiable a, x, b, y, c;
    x.Expire();  // inserted unchecked
    Dependencies list;
    for (TestModifiable* m : {&a, &x, &b, &y, &c}) {
        list.Insert(*m);
    }
    EXPECT_TRUE(list.Begin()[1].Expired());
    y.Expire();
    a.Expire();
    list.Remove(a);  // still found by address
    EXPECT_EQ(Entries(list), Expect({&x, &b, &y, &c}));
    list.Squeze();
    EXPECT_EQ(Entries(list), Expect({&b, &c}));

    b.Expire();
    c.Expire();
    list.Squeze();
    EXPECT_EQ(list.Begin(), nullptr);
    EXPECT_EQ(list.End(), nullptr);
}

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
