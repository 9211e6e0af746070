#include "Subscription.h"

#include "Property.h"
#include "WatchTestSupport.h"

#include <memory>
#include <stdexcept>

using namespace qelwatchtest;

namespace {

// A node with two int properties; `label` names it in the logs.
class Gauge : public Node {
public:
    explicit Gauge(std::string p_label = "") : label(std::move(p_label)) {}
    std::string const Name() const override { return label; }
    std::string const label;
    Property<int> _width{*this, "width"};
    Property<int> _height{*this, "height", 0};
};

void Add(std::string& p_log, std::string const& p_entry) { p_log += (p_log.empty() ? "" : " ") + p_entry; }

// Logs every touch of `p_node` as label, relationship (S, E, I) and originator ("-" if none).
Subscription LogTouches(Ptr<Gauge> const& p_node, std::string& p_log) {
    Gauge* const node = p_node.Get();
    return node->OnTouched([node, &p_log](TouchEvent const& p_event) {
        Add(p_log, node->label + "SEI"[p_event.relationship] +
                       (p_event.originator.Expired() ? "-" : p_event.originator.Lock()->Name()));
    });
}

}  // namespace

TEST(SubscriptionTest, UpdateSetsOnlyWhatDiffersAndOnChangedHearsEveryChangeOfTheValue) {
    Ptr<Gauge> owner = Node::Create<Gauge>("o");
    Ptr<RecordingNode> dependent = Node::Create<RecordingNode>();
    owner->Deps().Insert(*dependent);
    std::vector<std::string> heard;
    Subscription const changed = owner->_width.OnChanged([&](Property<int> const& p_property) {
        heard.push_back(p_property.IsValueDefined() ? std::to_string(p_property.Get()) : "undefined");
    });

    EXPECT_TRUE(owner->_width.Update(4)) << "an undefined value always changes";
    TimeStamp const property = owner->_width.Time(), node = owner->Time();
    EXPECT_FALSE(owner->_width.Update(4));
    EXPECT_TRUE(owner->_width.Time() == property && owner->Time() == node && dependent->_touches.size() == 1u)
        << "an unchanged value stamps nothing and walks nowhere";
    EXPECT_TRUE(owner->_width.Update(5));
    owner->_width.Set(5);  // Set touches every time
    owner->_width.Touch();
    owner->_width.SetValue(boost::any(6));
    owner->_width.ResetValue();
    EXPECT_EQ(heard, (std::vector<std::string>{"4", "5", "5", "6", "undefined"})) << "Touch changes no value";
    EXPECT_EQ(dependent->_touches.size(), 6u);
}

TEST(SubscriptionTest, CallbacksRunInOrderAfterTheStampAndBeforeTheWalkGoesOn) {
    Ptr<Gauge> a = Node::Create<Gauge>("a"), b = Node::Create<Gauge>("b");
    a->Deps().Insert(*b);
    std::string log;
    TimeStamp bStampInA;
    Subscription const first = a->OnTouched([&](TouchEvent const& p_event) {
        log += " a1";
        bStampInA = b->Time();
        EXPECT_EQ(p_event.type, IM::TypeProperty);
        EXPECT_EQ(p_event.change, IM::Edit);
        EXPECT_EQ(p_event.relationship, IM::Self);
        EXPECT_TRUE(p_event.originator.Expired());
        EXPECT_EQ(p_event.name, "width");
        EXPECT_EQ(boost::any_cast<int>(p_event.value), 7);
        EXPECT_EQ(a->Time().Counter(), 1u) << "the stamp has advanced";
    });
    Subscription const second = a->OnTouched([&](TouchEvent const&) { log += " a2"; });
    Subscription const dependent = b->OnTouched([&](TouchEvent const& p_event) {
        log += " b";
        EXPECT_EQ(p_event.relationship, IM::Explicit);
        EXPECT_EQ(p_event.originator.Lock(), Ptr<Node>(a));
    });
    Subscription const changed = a->_width.OnChanged([&](Property<int> const&) {
        log += " p";
        EXPECT_EQ(b->Time().Counter(), 1u) << "the change has propagated";
    });
    a->_width.Set(7);
    EXPECT_EQ(log, " a1 a2 b p");
    EXPECT_TRUE(bStampInA == TimeStamp()) << "a's subscribers ran before the walk reached b";
}

TEST(SubscriptionTest, CancellingAndSubscribingDuringARoundTakeEffectAtOnceAndNextRound) {
    Ptr<Gauge> node = Node::Create<Gauge>();
    std::string log;
    auto token = std::make_shared<int>(0);
    Subscription first, second, third, late;
    first = node->OnTouched([&, token](TouchEvent const&) {
        log += "1";
        second.Cancel();
        first.Cancel();  // its own callable stays alive until the round ends
        EXPECT_EQ(*token, 0);
    });
    second = node->OnTouched([&](TouchEvent const&) { log += "2"; });
    third = node->OnTouched([&](TouchEvent const&) {
        log += "3";
        if (!late.Active()) {
            late = node->OnTouched([&](TouchEvent const&) { log += "4"; });
        }
    });
    token.reset();
    node->Touch();
    EXPECT_EQ(log, "13");
    EXPECT_FALSE(first.Active() || second.Active());
    EXPECT_TRUE(third.Active() && late.Active());
    log.clear();
    node->Touch();
    EXPECT_EQ(log, "34");
    third.Cancel();
    late = Subscription();  // assigning over a subscription cancels it
    log.clear();
    node->Touch();
    EXPECT_EQ(log, "");
}

// A's list is being walked when b's callback sets a property of a: the
// nested walk is a walk of its own and walks that list again.
TEST(SubscriptionTest, ACallbackThatSetsAPropertyStartsAWalkThatReachesEveryone) {
    Ptr<Gauge> a = Node::Create<Gauge>("a"), b = Node::Create<Gauge>("b"), c = Node::Create<Gauge>("c");
    a->Deps().Insert(*b);
    a->Deps().Insert(*c);
    std::string log;
    Subscription const logs[] = {LogTouches(a, log), LogTouches(b, log), LogTouches(c, log)};
    bool once = true;
    Subscription const setter = b->OnTouched([&](TouchEvent const&) {
        if (std::exchange(once, false)) {
            a->_height.Set(1);
        }
    });
    a->Touch();
    EXPECT_EQ(log, "aS- bEa aS- bEa cEa cEa");
    EXPECT_FALSE(a->Deps().IsBeingWalked());
}

TEST(SubscriptionTest, SubscriptionsOutliveTheirObjectsAndReleaseTheirCallablesWithThem) {
    auto token = std::make_shared<int>(0);
    Subscription touched, changed, moved;
    {
        Ptr<Gauge> node = Node::Create<Gauge>();
        touched = node->OnTouched([token](TouchEvent const&) {});
        changed = node->_width.OnChanged([token](Property<int> const&) {});
        moved = std::move(changed);
        EXPECT_FALSE(changed.Active());
        EXPECT_TRUE(touched.Active() && moved.Active());
        EXPECT_EQ(token.use_count(), 3);
    }
    EXPECT_FALSE(touched.Active() || moved.Active());
    EXPECT_EQ(token.use_count(), 1) << "the callables went with their objects";
    touched.Cancel();
    touched.Cancel();
    EXPECT_FALSE(Subscription().Active());
}

TEST(SubscriptionTest, ACallbackMayEndTheObjectItListensTo) {
    Ptr<Gauge> node = Node::Create<Gauge>("n");
    Ptr<Gauge> dependent = Node::Create<Gauge>("d");
    node->Deps().Insert(*dependent);
    std::string log;
    Subscription const ender = node->OnTouched([&](TouchEvent const& p_event) {
        Add(log, "end");
        if (p_event.change == IM::Force) {
            node = Ptr<Gauge>();  // the last owner
        }
    });
    Subscription const after = node->OnTouched(
        [&](TouchEvent const& p_event) { Add(log, p_event.change == IM::Deallocate ? "deallocate" : "after"); });
    Subscription const heard = LogTouches(dependent, log);
    Gauge* const raw = node.Get();
    raw->Touch();
    EXPECT_EQ(log, "end end deallocate dE-") << "the walk does not go on from a node that ended";
    EXPECT_FALSE(ender.Active() || after.Active());

    // A property whose owner ends while the change propagates is not called back.
    Ptr<Gauge> owner = Node::Create<Gauge>("o");
    owner->Deps().Insert(*dependent);
    bool called = false;
    Subscription const ownerEnder = dependent->OnTouched([&](TouchEvent const&) { owner = Ptr<Gauge>(); });
    Subscription const changed = owner->_width.OnChanged([&](Property<int> const&) { called = true; });
    owner->_width.Set(1);
    EXPECT_FALSE(called || changed.Active());

    // A dependent that its own callback ends is not followed: the walk
    // must not read the list of a node that is gone (AddressSanitizer
    // reports such a read, the tracker's kept memory included).
    Ptr<Gauge> top = Node::Create<Gauge>("t"), middle = Node::Create<Gauge>("m");
    Ptr<Gauge> const low = Node::Create<Gauge>("l");
    top->Deps().Insert(*middle);
    middle->Deps().Insert(*low);
    log.clear();
    Subscription const middleEnder = middle->OnTouched([&](TouchEvent const& p_event) {
        if (p_event.change == IM::Force) {
            middle = Ptr<Gauge>();
        }
    });
    Subscription const lowHeard = LogTouches(low, log);
    top->Touch();
    EXPECT_EQ(log, "lE-") << "only the end of the middle node reaches the low one";
    EXPECT_FALSE(middle);

    // A one-shot callback whose callable holds the node's last owner: the
    // node ends when the round releases the callable, and neither its own
    // walk nor the walk that reached it as a dependent reads it afterwards.
    for (bool const asDependent : {false, true}) {
        Ptr<Gauge> source = Node::Create<Gauge>("s");
        Ptr<Gauge> kept = Node::Create<Gauge>("k");
        if (asDependent) {
            source->Deps().Insert(*kept);
        }
        kept->Deps().Insert(*low);
        log.clear();
        auto once = std::make_shared<Subscription>();
        *once = kept->OnTouched([once, keep = kept](TouchEvent const&) { once->Cancel(); });
        Gauge* const keptRaw = kept.Get();
        kept = Ptr<Gauge>();
        if (asDependent) {
            source->_height.Set(2);
        } else {
            keptRaw->_height.Set(2);
        }
        EXPECT_EQ(log, "lE-") << "only the end of the kept node reaches its dependent";
        EXPECT_FALSE(once->Active());
    }
}

TEST(SubscriptionTest, AThrowingCallbackReachesTheCallerLeavingNoListMarkedAndNoSubscriptionLost) {
    Ptr<Gauge> a = Node::Create<Gauge>("a"), b = Node::Create<Gauge>("b"), c = Node::Create<Gauge>("c");
    a->Deps().Insert(*b);
    a->Deps().Insert(*c);
    std::string log;
    bool fail = true;
    Subscription const thrower = b->OnTouched([&](TouchEvent const&) {
        if (fail) {
            throw std::runtime_error("refused");
        }
    });
    Subscription const logs[] = {LogTouches(a, log), LogTouches(b, log), LogTouches(c, log)};
    Subscription const changed = a->_width.OnChanged([&](Property<int> const&) { log += " changed"; });
    EXPECT_THROW(a->_width.Set(1), std::runtime_error);
    EXPECT_EQ(log, "aS-") << "b's later subscribers, c and the property's subscribers were skipped";
    EXPECT_FALSE(a->Deps().IsBeingWalked() || b->Deps().IsBeingWalked());
    EXPECT_TRUE(thrower.Active() && logs[1].Active() && changed.Active());
    fail = false;
    log.clear();
    a->_width.Set(2);
    EXPECT_EQ(log, "aS- bEa cEa changed");
}

// Objects keep their size: the subscribed flag shares the word of the
// deallocated flag, and subscribers live beside the object.
static_assert(sizeof(Modifiable<0>) == 2 * sizeof(void*), "Modifiable<N> is a vtable pointer and one word of flags");
static_assert(sizeof(Modifiable<1>) == sizeof(Modifiable<0>), "every Modifiable<N> is laid out alike");

TEST(SubscriptionTest, SubscribedTouchesAndUnchangedUpdatesAllocateNothing) {
    Ptr<Gauge> a = Node::Create<Gauge>(), b = Node::Create<Gauge>();
    a->Deps().Insert(*b);
    int calls = 0;
    Subscription const onA = a->OnTouched([&](TouchEvent const&) { ++calls; });
    Subscription const onB = b->OnTouched([&](TouchEvent const&) { ++calls; });
    Subscription const onWidth = a->_width.OnChanged([&](Property<int> const&) { ++calls; });
    a->_width.Set(1);
    qeltest::HeapUse const use = qeltest::MeasureHeap([&] {
        a->Touch();
        a->_width.Update(1);
    });
    EXPECT_EQ(use.sizes, qeltest::Sizes{});
    EXPECT_EQ(calls, 5);
}
