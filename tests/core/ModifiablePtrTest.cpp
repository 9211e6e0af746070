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

// Stands in for a node: its identity anchor points at itself with a deleter
// that does nothing and is the only strong reference, made on the first Id().
// Given an owner, it stands in for a composite property instead: its own
// address, its owner's lifetime.
class AnchoredObject : public Modifiable<0> {
public:
    explicit AnchoredObject(AnchoredObject const* p_owner = nullptr) : _owner(p_owner) {}
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {
        _time.Touch();
    }
    Identifier Id() const override {
        auto* self = const_cast<AnchoredObject*>(this);
        if (_owner != nullptr) {
            return Identifier(self, _owner->Id().Lifetime());
        }
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
    AnchoredObject const* _owner;
    mutable boost::shared_ptr<IModifiable> _anchor;
    TimeStamp _time;
};

}  // namespace

TEST(IdentifierTest, IdentifiersOfOneObjectAreEqual) {
    AnchoredObject object;
    IModifiable::Identifier const first = object.Id();
    object.Touch();
    IModifiable::Identifier const second = object.Id();
    EXPECT_TRUE(first == second);
    EXPECT_FALSE(first != second);
    EXPECT_FALSE(first < second || second < first);
    EXPECT_EQ(first.Get(), &object);
    EXPECT_EQ((std::set<IModifiable::Identifier>{first, second}.size()), 1u);
    EXPECT_EQ(object.AnchorOwners(), 1) << "identifiers hold no strong reference";

    IModifiable::Identifier const empty;
    EXPECT_TRUE(empty.Expired());
    EXPECT_EQ(empty.Get(), nullptr);
}

TEST(IdentifierTest, DifferentObjectsAreOrderedByAddress) {
    AnchoredObject a;
    AnchoredObject b;
    bool const aFirst = reinterpret_cast<std::uintptr_t>(static_cast<IModifiable*>(&a)) <
                        reinterpret_cast<std::uintptr_t>(static_cast<IModifiable*>(&b));
    EXPECT_EQ(a.Id() < b.Id(), aFirst);
    EXPECT_EQ(b.Id() < a.Id(), !aFirst);
    EXPECT_TRUE(a.Id() != b.Id());

    // Expiry changes neither identity nor order.
    IModifiable::Identifier const early = a.Id();
    a.ReleaseAnchor();
    EXPECT_TRUE(early.Expired());
    EXPECT_EQ(early.Get(), nullptr);
    EXPECT_EQ(early < b.Id(), aFirst);
    IModifiable::Identifier const late = a.Id();
    EXPECT_TRUE(early.Expired()) << "a new anchor does not revive old identifiers";
    EXPECT_TRUE(early == late);
}

TEST(IdentifierTest, PartAndOwnerDifferButExpireTogether) {
    auto owner = std::make_unique<AnchoredObject>();
    AnchoredObject part(owner.get());
    IModifiable::Identifier const ownerId = owner->Id();
    IModifiable::Identifier const partId = part.Id();
    EXPECT_TRUE(ownerId != partId);
    EXPECT_EQ(partId.Get(), &part);
    owner.reset();
    EXPECT_TRUE(ownerId.Expired());
    EXPECT_TRUE(partId.Expired());
    EXPECT_EQ(partId.Get(), nullptr);
    EXPECT_TRUE(ownerId != partId) << "expired identifiers still compare by address";
}

// ---------------------------------------------------------------------------

TEST(ModifiablePtrTest, DefaultAndItsCopiesAreFalse) {
    ModifiablePtr const empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.operator->(), nullptr);
    EXPECT_FALSE(ModifiablePtr(empty));
    AnchoredObject object;
    ModifiablePtr assigned(object.Id());
    ASSERT_TRUE(assigned);
    assigned = empty;
    EXPECT_FALSE(assigned);
}

TEST(ModifiablePtrTest, GivesAccessUntilTheObjectGoes) {
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
