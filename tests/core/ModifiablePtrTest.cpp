#include "ModifiablePtr.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::Modifiable;
using Qel::Chart::Core::ModifiablePtr;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::TimeStamp;
using Qel::Chart::Core::WeakPtr;

namespace {

char const* const kExpiredText =
    "\"!p_id.Expired() && \"Cannot pass an expired pointer\"\" - __cdecl "
    "Qel::Chart::Core::ModifiablePtr::ModifiablePtr(class Qel::Chart::Core::IModifiable::Identifier)";

void IgnoreAnchor(void*) {}

// A node stand-in: the only strong reference to its identity anchor is its
// own, made on the first Id().
class AnchoredObject : public Modifiable<0> {
public:
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {
        _time.Touch();
    }
    Identifier Id() const override {
        auto* self = const_cast<AnchoredObject*>(this);
        if (!_anchor) {
            _anchor = boost::shared_ptr<IModifiable>(self, &IgnoreAnchor);
        }
        return Identifier(self, _anchor);
    }
    TimeStamp const Time() const override { return _time; }
    std::string const Name() const override { return "anchored"; }

    // What a node's destructor does: every identifier made so far expires.
    void ReleaseAnchor() { _anchor.reset(); }
    long AnchorOwners() const { return _anchor.use_count(); }

private:
    mutable boost::shared_ptr<IModifiable> _anchor;
    TimeStamp _time;
};

}  // namespace

TEST(IdentifierTest, EqualForOneObjectOrderedByAddressAlsoWhenExpired) {
    AnchoredObject a;
    AnchoredObject b;
    IModifiable::Identifier const early = a.Id();
    a.Touch();
    EXPECT_TRUE(early == a.Id());
    EXPECT_FALSE(early != a.Id());
    EXPECT_FALSE(early < a.Id() || a.Id() < early);
    EXPECT_EQ((std::set<IModifiable::Identifier>{early, a.Id()}.size()), 1u);
    EXPECT_EQ(early.Get(), &a);
    EXPECT_EQ(a.AnchorOwners(), 1) << "identifiers hold no strong reference";
    EXPECT_TRUE(IModifiable::Identifier().Expired());
    EXPECT_EQ(IModifiable::Identifier().Get(), nullptr);

    bool const aFirst = reinterpret_cast<std::uintptr_t>(static_cast<IModifiable*>(&a)) <
                        reinterpret_cast<std::uintptr_t>(static_cast<IModifiable*>(&b));
    EXPECT_EQ(a.Id() < b.Id(), aFirst);
    EXPECT_EQ(b.Id() < a.Id(), !aFirst);
    EXPECT_TRUE(a.Id() != b.Id());
    a.ReleaseAnchor();
    EXPECT_TRUE(early.Expired());
    EXPECT_EQ(early.Get(), nullptr);
    EXPECT_EQ(early < b.Id(), aFirst) << "expiry changes neither identity nor order";
    IModifiable::Identifier const late = a.Id();
    EXPECT_TRUE(early.Expired()) << "a new anchor does not revive old identifiers";
    EXPECT_TRUE(early == late);
}

TEST(ModifiablePtrTest, GivesAccessUntilTheObjectGoesAndEmptyIsFalse) {
    auto object = std::make_unique<AnchoredObject>();
    IModifiable* const address = object.get();
    ModifiablePtr handle(object->Id());
    ModifiablePtr copy;
    copy = handle;
    EXPECT_TRUE(copy);
    EXPECT_EQ(handle.operator->(), address);
    copy->TouchThis(IModifiable::TypeNode, IModifiable::Edit, IModifiable::Self, WeakPtr<Node>(), "x", boost::any());
    EXPECT_EQ(object->Time().Counter(), 1u);
    EXPECT_EQ(object->AnchorOwners(), 1) << "handles hold no strong reference";

    object.reset();
    EXPECT_FALSE(handle);
    EXPECT_FALSE(copy);
    EXPECT_EQ(handle.operator->(), nullptr);
    EXPECT_EQ(static_cast<ModifiablePtr const&>(copy).operator->(), nullptr);
    EXPECT_EQ(handle.Id().Address(), address) << "the identity it was made for stays";

    ModifiablePtr const empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.operator->(), nullptr);
    EXPECT_FALSE(ModifiablePtr(empty));
    AnchoredObject other;
    ModifiablePtr assigned(other.Id());
    ASSERT_TRUE(assigned);
    assigned = empty;
    EXPECT_FALSE(assigned);
}

TEST(ModifiablePtrTest, ExpiredIdentifierIsRefused) {
    AnchoredObject object;
    IModifiable::Identifier const id = object.Id();
    object.ReleaseAnchor();
    {
        qeldebug::capture cap(qeldebug::failpolicy::throwing);
        try {
            ModifiablePtr handle(id);
            ADD_FAILURE() << "an expired identifier was accepted";
        } catch (qeldebug::check_failed const& e) {
            EXPECT_STREQ(e.what(), kExpiredText);
        }
    }
    qeldebug::capture cap(qeldebug::failpolicy::returning);
    ModifiablePtr const handle(id);
    ModifiablePtr const fromEmpty{IModifiable::Identifier()};
    EXPECT_FALSE(handle);
    EXPECT_FALSE(fromEmpty);
    EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
              (std::vector<std::string>{kExpiredText, kExpiredText}));
}
