#include <ModificationWatcher.h>
#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <typeinfo>

using namespace graphtest;
using qeldebug::allocationtracker;
using qeltest::Counters;

namespace {

// Registers a property and asks for its identity, then refuses to be made.
struct ThrowsOnConstruction : Node {
    ThrowsOnConstruction() : width(*this, "width") {
        sink = static_cast<IModifiable const&>(*this).Id();
        throw std::runtime_error("refused");
    }
    Property<int> width;
    static inline IModifiable::Identifier sink;
};

// Refuses its deallocation, so that the deleter fails; the test ends it by hand.
struct RefusesToGo : Node {
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {
        throw std::runtime_error("not now");
    }
};

// Each class is first created by one test; 8 and 9 letters are spelled with 25 and 26 characters.
struct Exactly8 : Node {};
struct NineChars : Node {};
struct NeedsArgument : Node {
    explicit NeedsArgument(int) {}
};
struct Spawned : Node {};
struct NoDataOfItsOwn : Node {};

// Creates a node of a class not registered yet when `spawn` is set.
struct Spawner : Node {
    Spawner() {
        if (spawn) {
            Node::Create<Spawned>();
        }
    }
    static inline bool spawn = false;
};

// Asks for a clone of itself before the creation step has recorded its type id.
struct ClonesTooEarly : Node {
    ClonesTooEarly() {
        failure = CheckFailure([&] { CreateTypeOf(Ptr<Node>(boost::shared_ptr<Node>(this, [](Node*) {}))); });
    }
    std::string failure;
};

// A live dependent whose identifier names no object.
struct Nameless : IModifiable {
    Nameless() : anchor(static_cast<IModifiable*>(this), [](IModifiable*) {}) {}
    void TouchThis(ModifiableType, Change, Relationship, WeakPtr<Node> const&, std::string const&,
                   boost::any const&) override {}
    Identifier Id() const override { return Identifier(nullptr, anchor); }
    TimeStamp const Time() const override { return TimeStamp(); }
    boost::shared_ptr<IModifiable> anchor;
};

struct Dumped : Node {
    Property<int> width{*this, "width", 10}, count{*this, "count"};
    ExplicitRef parent{*this, "parent"};
    ExplicitRefList children{*this, "children"};
};

// The node line, with the class name as given or whole.
std::string Line(Ptr<Node> const& p_node, std::string const& p_type = "", std::string const& p_name = "") {
    Node const& node = *p_node;
    return "id(" + std::to_string(UniqueIdOf(p_node)) + ") name(" + p_name + ") type.id(" +
           std::to_string(TypeIdOf(p_node)) + ") type(" + (p_type.empty() ? typeid(node).name() : p_type) + ") ";
}

std::string DumpOf(Node const& p_node, int p_verbosity, std::size_t p_indent) {
    std::ostringstream stream;
    p_node.Dump(stream, static_cast<Verbosity>(p_verbosity), p_indent);
    return stream.str();
}

}  // namespace

TEST(NodeLifetimeTest, DeletionTellsTheDependentsAndLeavesNoTraceAsAThrowingConstructorOrAFailedDeletion) {
    std::string log;
    auto child = Node::Create<RecordingNode>("c", &log);
    auto const before = Counters();
    auto const [nodes, memory, blocks, bytes] = before;
    auto doomed = Node::Create<RecordingNode>("doomed", &log);
    IModifiable::Identifier const id = doomed->Id();
    EXPECT_EQ(Counters(),
              (Counters{nodes + 1, memory + int{sizeof(RecordingNode)}, blocks + 1, bytes + sizeof(RecordingNode)}));
    doomed->Deps().Insert(*child);
    doomed->touchWhenDestroyed = true;
    std::string const trace = "delete node id(" + std::to_string(UniqueIdOf(doomed)) + ") type(" +
                              std::to_string(TypeIdOf(doomed)) + ") : count = " + std::to_string(nodes + 1);
    {
        capture cap;
        doomed = Ptr<RecordingNode>();
        EXPECT_EQ(log, "doomedS-:D0doomed cE-:D0doomed");  // and nothing after the announcement
        EXPECT_EQ(qeltest::Texts(cap, reportkind::dout), Names{trace});
        EXPECT_EQ(cap.records().at(0).category, "Trace");
        EXPECT_EQ(qeltest::Texts(cap, reportkind::derr),
                  Names{"WARNING : Event propagation after node is deallocated!"});
        EXPECT_EQ(cap.records().size(), 2u);
    }
    EXPECT_TRUE(id.Expired());
    EXPECT_EQ(Counters(), before);
    EXPECT_THROW(Node::Create<ThrowsOnConstruction>(), std::runtime_error);
    EXPECT_TRUE(ThrowsOnConstruction::sink.Expired()) << "the identity handed out ends with the refusal";
    ThrowsOnConstruction::sink = IModifiable::Identifier();
    EXPECT_EQ(Counters(), before);  // its registered property included
    auto node = Node::Create<RefusesToGo>();
    RefusesToGo* const raw = node.Get();
    auto const alive = Counters();
    capture cap(failpolicy::throwing);
    EXPECT_NO_THROW(node = Ptr<RefusesToGo>());
    ASSERT_EQ(cap.records().size(), 3u);  // the trace first
    EXPECT_EQ(cap.records()[1].kind, reportkind::derr);
    EXPECT_EQ(cap.records()[1].category, "");
    EXPECT_EQ(cap.records()[1].text,
              "WARNING: \"false && \"Exception caught while deallocating a node!\"\" - void __cdecl "
              "Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line239");
    EXPECT_EQ(cap.records()[2].kind, reportkind::handleexcept);
    EXPECT_EQ(cap.records()[2].text,
              "void __cdecl Qel::Chart::Core::Node::Deleter(class Qel::Chart::Core::Node *) throw() @line240");
    EXPECT_EQ(Counters(), alive);
    raw->~RefusesToGo();
    Node::_debugNodeMemUsage.add(-static_cast<int>(allocationtracker::deallocate(raw)));
    EXPECT_EQ(Counters(), before);
}

TEST(NodeRegistryTest, ClassesGetConsecutiveIdsAreTracedOnceAndCloneUnlessTheFactoryCannotRun) {
    capture cap;
    Ptr<Node> const first = Node::Create<Exactly8>(), second = Node::Create<NineChars>(),
                    firstAgain = Node::Create<Exactly8>();
    unsigned const id = TypeIdOf(first);
    EXPECT_EQ(TypeIdOf(second), id + 1);
    EXPECT_EQ(TypeIdOf(firstAgain), id);
    EXPECT_EQ(qeltest::Texts(cap, reportkind::dout),
              (Names{"id(" + std::to_string(id) + ") name(" + typeid(Exactly8).name() + ")",
                     "id(" + std::to_string(id + 1) + ") name(" + typeid(NineChars).name() + ")"}));
    EXPECT_EQ(cap.records()[0].category, "NodeTypeInfo");
    first->Touch();
    Ptr<Node> const clone = Node::CreateTypeOf(first);
    EXPECT_EQ(TypeIdOf(clone), id);
    EXPECT_EQ(clone->Time(), TimeStamp());  // nothing is copied
    EXPECT_THROW(Node::CreateTypeOf(Ptr<Node>()), NullPtrException);
    auto needsArgument = Node::Create<NeedsArgument>(7);  // so its factory is empty
    Counters const made;
    EXPECT_EQ(qeltest::ThrownText<boost::bad_function_call>([&] { Node::CreateTypeOf(needsArgument); }),
              "call to empty boost::function");
    EXPECT_EQ(Counters(), made);
    // Up to 25 characters the class name is shown whole, beyond only its last 25.
    NodeAccess(first).SetName("flow");
    std::ostringstream firstLine, secondLine;
    firstLine << *first;
    secondLine << second;
    EXPECT_EQ(firstLine.str(), Line(first, "N12_GLOBAL__N_18Exactly8E", "flow"));
    EXPECT_EQ(secondLine.str(), Line(second, "...12_GLOBAL__N_19NineCharsE"));
    // A factory that registers a class fails to lock the registry.
    auto spawner = Node::Create<Spawner>();
    auto const before = Counters();
    Spawner::spawn = true;
    // Thrown inside the library, which names its files relative to the source tree.
    std::string const text =
        qeltest::ThrownText<qelthreads::mutex_base<1>::bad_mutex>([&] { Node::CreateTypeOf(spawner); });
    std::string const ending = " : failed to lock";
    EXPECT_EQ(text.rfind("platform/QelThreads.h:", 0), 0u) << text;
    EXPECT_TRUE(text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending) << text;
    EXPECT_EQ(Counters(), before);
    // Outside a factory the class registers normally, and the lock is free again.
    cap.clear();
    auto direct = Node::Create<Spawner>();
    EXPECT_NE(cap.records().at(0).text.find(std::string(") name(") + typeid(Spawned).name() + ")"), std::string::npos);
    EXPECT_EQ(Node::CreateTypeOf(spawner)->Type().Get(), typeid(Spawner));
    Spawner::spawn = false;
}

TEST(NodeDumpTest, EachVerbosityAddsASectionTheIndentPrefixesEveryLineDumpDebugSendsLinesAndRefusalsAreReported) {
    auto node = Node::Create<Dumped>();
    auto first = Node::Create<Spawner>();
    node->children.Attach(first);
    node->Deps().Insert(*first);
    node->Deps().Insert(*Node::Create<Spawner>());  // expired at once
    node->Deps().Insert(node->width);
    std::string const head = std::string(80, '-') + "\n+ " + Line(node) + "\n";
    std::string const refs = "\tref     : parent\n\tref-list: children\n\t-> " + Line(first) + "\n";
    std::string const properties = "\twidth = 10\n\tcount = <undefined>\n" + refs;
    EXPECT_EQ(DumpOf(*node, -1, 0), head);
    EXPECT_EQ(DumpOf(*node, DumpHeader, 0), head);
    EXPECT_EQ(DumpOf(*node, DumpRefs, 0), head + refs);
    EXPECT_EQ(DumpOf(*node, DumpProperties, 0), head + properties);
    EXPECT_EQ(DumpOf(*node, DumpDependents, 0), head + properties + "\tdependents: \n\t    [0] " + Line(first) +
                                                    "\n\t    [1] ** expired **\n\t    [2] ## unknown (property?) ##\n");
    EXPECT_EQ(DumpOf(*node, DumpRefs, 2), "\t\t" + std::string(78, '-') + "\n\t\t+ " + Line(node) +
                                              "\n\t\t\tref     : parent\n\t\t\tref-list: children\n\t\t\t-> " +
                                              Line(first) + "\n");
    {
        capture cap;  // DumpDebug sends the same dump line by line
        node->DumpDebug(Qel::Chart::Utility::GetLogger().dout("Dump"), DumpDependents, 1);
        Names lines;
        std::istringstream dump(DumpOf(*node, DumpDependents, 1));
        for (std::string line; std::getline(dump, line);) {
            lines.push_back(line);
        }
        EXPECT_EQ(qeltest::Texts(cap, reportkind::dout), lines);
    }
    node->Deps().Remove(node->width);
    for (std::size_t indent : {80u, 81u}) {
        std::string const tabs(indent, '\t');
        EXPECT_EQ(DumpOf(*first, 7, indent), tabs + "\n" + tabs + "+ " + Line(first) + "\n");
    }
    std::string const clone =
        "\"it != NodeFactory::Register().end()\" - class Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> "
        "__cdecl Qel::Chart::Core::Node::CreateTypeOf(const class Qel::Chart::Core::Ptr<class "
        "Qel::Chart::Core::Node> &)";
    std::string const text =
        "\"ptr\" - void __cdecl Qel::Chart::Core::Node::Dump(class std::basic_ostream<char,struct "
        "std::char_traits<char> > &,const enum Qel::Chart::Core::Verbosity,const unsigned __int64) const";
    Nameless nameless;
    first->Deps().Insert(nameless);
    std::string const written = std::string(80, '-') + "\n+ " + Line(first) + "\n\tdependents: \n\t    [0] ";
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        bool const thrown = policy == failpolicy::throwing;
        capture cap(policy);
        std::ostringstream stream;
        EXPECT_EQ(CheckFailure([&] { first->Dump(stream, DumpDependents, 0); }), thrown ? text : "<returned>");
        EXPECT_EQ(stream.str(), thrown ? written : written + "## unknown (property?) ##\n");
        EXPECT_EQ(Node::Create<ClonesTooEarly>()->failure, clone);  // either policy: there is no factory to call
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), (Names{text, clone}));
    }
}

namespace {
// Owns another node, and may react to its own Deallocate.
struct Holder : RecordingNode {
    using RecordingNode::RecordingNode;
    Ptr<Node> owned;
    std::function<void()> onDeallocate;
    void TouchThis(ModifiableType type, Change change, Relationship relationship, WeakPtr<Node> const& p_originator,
                   std::string const& name, boost::any const& value) override {
        RecordingNode::TouchThis(type, change, relationship, p_originator, name, value);
        if (change == Deallocate && relationship != Self && onDeallocate) {
            onDeallocate();
        }
    }
};

using TypeIdTag = MemberTag<unsigned short Node::*>;
using UserTagTag = MemberTag<unsigned int Node::*>;
}  // namespace

template struct graphtest::PrivateMember<TypeIdTag, &Node::_typeId>;
template struct graphtest::PrivateMember<UserTagTag, &Node::_userTag>;

namespace {

// What a node holds between its construction and the creation step.
struct Fresh : Node {
    Fresh() : typeId(this->*TypeIdTag::pointer), userTag(this->*UserTagTag::pointer), name(Name()), time(Time()) {}
    unsigned short typeId;
    unsigned int userTag;
    std::string name;
    TimeStamp time;
};
}  // namespace

TEST(NodeLifetimeTest, ANestedDeletionRunsInsideTheOneThatCausedItInTheDesignsOrder) {
    std::string log;
    Counters const before;
    auto outer = Node::Create<Holder>("outer", &log);
    auto inner = Node::Create<Holder>("inner", &log);
    auto watcher = Node::Create<RecordingNode>("watcher", &log);
    inner->Deps().Insert(*watcher);
    outer->owned = inner;
    auto line = [](Ptr<Holder> const& p_node, int p_count) {
        return "delete node id(" + std::to_string(UniqueIdOf(p_node)) + ") type(" + std::to_string(TypeIdOf(p_node)) +
               ") : count = " + std::to_string(p_count);
    };
    Names const trace{line(outer, before.nodes + 3), line(inner, before.nodes + 3)};  // outer still counted
    inner = Ptr<Holder>();
    {
        capture cap;
        outer = Ptr<Holder>();
        EXPECT_EQ(qeltest::Texts(cap, reportkind::dout), trace);
    }
    EXPECT_EQ(log, "outerS-:D0outer innerS-:D0inner watcherE-:D0inner");
    watcher = Ptr<RecordingNode>();
    EXPECT_EQ(Counters(), before);

    // A dependent whose last owner lets go during a Deallocate walk is gone
    // at once: the walk finds it expired and does not touch it.
    log.clear();
    auto doomed = Node::Create<Holder>("doomed", &log);
    auto x = Node::Create<Holder>("x", &log);
    auto y = Node::Create<Holder>("y", &log);
    IModifiable::Identifier const yId = y->Id(), yAgain = y->Id();
    doomed->Deps().Insert(*x);
    doomed->Deps().Insert(*y);
    x->onDeallocate = [&] { y = Ptr<Holder>(); };
    doomed = Ptr<Holder>();
    EXPECT_EQ(log, "doomedS-:D0doomed xE-:D0doomed yS-:D0y");
    EXPECT_TRUE(yId.Expired() && yAgain.Expired());  // both identifiers of one node expire with it
}

TEST(NodeLifetimeTest, ANewNodeStartsBlankWithTheDefaults) {
    int const before = Node::_debugNodeCount.load();
    auto node = Node::Create<Fresh>();
    EXPECT_EQ(Node::_debugNodeCount.load(), before + 1);
    EXPECT_EQ(node->typeId, 0xFFFF);
    EXPECT_EQ(node->userTag, 4294967295u);
    EXPECT_EQ(node->name, "");
    EXPECT_TRUE(node->time == TimeStamp());
    EXPECT_TRUE(node->Deps().Empty());

    // A class without data of its own is made without T()'s zeroing: its
    // start must not depend on what the memory held before.
    for (int round = 0; round < 2; ++round) {
        auto const plain = Node::Create<NoDataOfItsOwn>();
        EXPECT_EQ(plain.Get()->*UserTagTag::pointer, 4294967295u);
        EXPECT_EQ(plain->Name(), "");
        EXPECT_TRUE(plain->Time() == TimeStamp());
        EXPECT_FALSE(plain->IsDeallocated());
        EXPECT_TRUE(plain->Deps().Empty());
        (plain.Get()->*UserTagTag::pointer) = 7;  // the next round may get this memory back
        plain->Touch();
    }
    EXPECT_NE(TypeIdOf(node), 0xFFFF);  // set by the creation step
}

namespace {

struct Identified : Node {};

// Asks for its identity while it is made and again while it ends.
struct IdentifiedEarlyAndLate : Node {
    IdentifiedEarlyAndLate() : early(static_cast<IModifiable const&>(*this).Id()) {}
    ~IdentifiedEarlyAndLate() override { *late = static_cast<IModifiable const&>(*this).Id(); }
    IModifiable::Identifier early;
    IModifiable::Identifier* late = nullptr;
};

}  // namespace

// The anchor's count of a node made by Create sits in the node's count
// block; its identifiers must behave as they would with an anchor of its own.
TEST(NodeIdentityTest, IdentifiersStayLiveThroughTheDeallocationExpireAfterItOutliveTheNodeAndAreItsOwnFromTheStart) {
    auto const before = Counters();
    IModifiable::Identifier id;
    WeakPtr<Node> weak;
    bool liveDuringDeallocation = false;
    {
        Ptr<Node> node = Node::Create<Identified>();
        weak = node;
        // Handing out the first identifier takes no heap block.
        qeltest::HeapUse const first = qeltest::MeasureHeap([&] { id = static_cast<IModifiable const&>(*node).Id(); });
        EXPECT_TRUE(first.sizes.empty()) << first.sizes.size() << " blocks for the first identifier";
        EXPECT_EQ(static_cast<IModifiable const&>(*node).Id(), id);
        EXPECT_EQ(id.Get(), static_cast<IModifiable*>(node.Get()));
        EXPECT_NE(boost::get_deleter<Private::NodeDeleter>(node.Shared()), nullptr);
        // A subscriber hears the Deallocate change while the node's identity still holds.
        Subscription const heard = node->OnTouched([&](TouchEvent const& p_event) {
            if (p_event.change == IModifiable::Deallocate) {
                liveDuringDeallocation = !id.Expired();
            }
        });
        Ptr<Node> const second = node;
        node = Ptr<Node>();
        EXPECT_FALSE(id.Expired()) << "a second owner keeps the node";
    }
    EXPECT_TRUE(liveDuringDeallocation);
    EXPECT_TRUE(id.Expired());
    EXPECT_EQ(id.Get(), nullptr);
    EXPECT_TRUE(weak.Expired());
    EXPECT_EQ(Counters(), before);
    // Copies made after the end still compare equal and expire together.
    IModifiable::Identifier const copy = id;
    EXPECT_EQ(copy, id);
    id = IModifiable::Identifier();
    weak = WeakPtr<Node>();
    EXPECT_TRUE(copy.Expired());
    // One asked for while the node is made, or while it ends, is the node's own.
    IModifiable::Identifier late;
    IModifiable::Identifier early;
    {
        Ptr<IdentifiedEarlyAndLate> node = Node::Create<IdentifiedEarlyAndLate>();
        node->late = &late;
        early = node->early;
        EXPECT_FALSE(early.Expired());
        EXPECT_EQ(static_cast<IModifiable const&>(*node).Id(), early);
        Ptr<Node> const head = Node::Create<Identified>();
        head->Deps().Insert(*node);
        head->Touch();
        EXPECT_EQ(node->Time().Counter(), 1u);
    }
    EXPECT_TRUE(early.Expired());
    EXPECT_TRUE(late.Expired());
    EXPECT_EQ(late, early);
    early = late = IModifiable::Identifier();
    EXPECT_EQ(Counters(), before);
}

namespace {
// What a node sees of its own end in its destructor.
struct EndSeen {
    TimeStamp time;
    bool deallocated = false;
    int names = 0;
    std::string heard;
};

struct SeesItsEnd : Node {
    explicit SeesItsEnd(EndSeen* p_seen) : seen(p_seen) {}
    ~SeesItsEnd() override {
        seen->time = Time();
        seen->deallocated = IsDeallocated();
    }
    EndSeen* seen;
};

struct NamesItself : SeesItsEnd {
    using SeesItsEnd::SeesItsEnd;
    std::string const Name() const override {
        ++seen->names;
        return "named";
    }
};

struct HearsItself : SeesItsEnd {
    using SeesItsEnd::SeesItsEnd;
    void TouchThis(ModifiableType type, Change change, Relationship relationship, WeakPtr<Node> const& p_originator,
                   std::string const& name, boost::any const& value) override {
        std::ostringstream text;
        text << change << relationship << "[" << name << "]";
        seen->heard += text.str();
        Node::TouchThis(type, change, relationship, p_originator, name, value);
    }
};

// Takes its base's override: the class itself declares neither call.
struct HearsThroughItsBase : HearsItself {
    using HearsItself::HearsItself;
};

using TakesTouchTag = MemberTag<bool (Node::*)() const noexcept>;
}  // namespace

template struct graphtest::PrivateMember<TakesTouchTag, &Node::TakesNodeTouch>;

namespace {
// Whether the walk may touch the node without the virtual call.
bool TakesNodeTouch(Node const& p_node) { return (p_node.*TakesTouchTag::pointer)(); }

template <class T>
EndSeen EndOf(std::function<void(Ptr<T> const&)> const& p_prepare = {}) {
    EndSeen seen;
    Ptr<T> node = Node::Create<T>(&seen);
    if (p_prepare) {
        p_prepare(node);
    }
    TimeStamp expected = node->Time();
    expected.Touch();
    node = Ptr<T>();
    EXPECT_EQ(seen.time, expected) << typeid(T).name() << ": the end advances the stamp once";
    EXPECT_TRUE(seen.deallocated) << typeid(T).name();
    return seen;
}
}  // namespace

// The deleter skips the calls of the Deallocate announcement where nobody
// would see them; every class and every listener must still see the same end.
TEST(NodeLifetimeTest, EveryNodeSeesTheSameEndWhateverItOverridesOrWhoeverListens) {
    // Only a class whose TouchThis is Node's own is touched without the call.
    EndSeen unused;
    EXPECT_TRUE(TakesNodeTouch(*Node::Create<SeesItsEnd>(&unused)));
    EXPECT_TRUE(TakesNodeTouch(*Node::Create<NamesItself>(&unused)));
    EXPECT_FALSE(TakesNodeTouch(*Node::Create<HearsItself>(&unused)));
    EXPECT_FALSE(TakesNodeTouch(*Node::Create<HearsThroughItsBase>(&unused)));

    EXPECT_EQ(EndOf<SeesItsEnd>().names, 0);
    EXPECT_EQ(EndOf<NamesItself>().names, 1) << "an own Name is asked once, for the announcement";
    EXPECT_EQ(EndOf<HearsItself>().heard, "change(deallocate)relationship(self)[]");
    EXPECT_EQ(EndOf<HearsThroughItsBase>().heard, "change(deallocate)relationship(self)[]");

    // A plain node with a listener or a dependent still announces its end.
    std::string log;
    Subscription heard;
    EndOf<SeesItsEnd>([&](Ptr<SeesItsEnd> const& p_node) {
        heard = p_node->OnTouched([&](TouchEvent const& p_event) {
            std::ostringstream text;
            text << p_event.change << p_event.relationship;
            log += text.str();
        });
    });
    EXPECT_EQ(log, "change(deallocate)relationship(self)");

    EndSeen dependentSeen;  // outlives the dependent, which writes to it as it ends
    auto const dependent = Node::Create<HearsItself>(&dependentSeen);
    EndOf<SeesItsEnd>([&](Ptr<SeesItsEnd> const& p_node) { p_node->Deps().Insert(*dependent); });
    EXPECT_EQ(dependentSeen.heard, "change(deallocate)relationship(explicit)[]");
}

namespace {
// Forwards its dependents to a list of its own and reports the stamp of a
// part as its own; records the verbosity its reference is dumped at.
class Forwarding : public Node {
public:
    Dependencies& Deps() override { return forwarded; }
    Dependencies const& Deps() const override { return forwarded; }
    TimeStamp const Time() const override { return part.Time(); }
    struct VerbosityRef : ExplicitRef {
        using ExplicitRef::ExplicitRef;
        void Dump(std::ostream& p_stream, Verbosity p_verbosity, int p_indent) const override {
            dumpedAt = p_verbosity;
            ExplicitRef::Dump(p_stream, p_verbosity, p_indent);
        }
        mutable int dumpedAt = -1;
    };
    Dependencies forwarded;
    Property<int> part{*this, "part", 0};
    VerbosityRef ref{*this, "ref"};
};
}  // namespace

// What a client class overrides is what the walk, the cycle search, the
// watchers and the dump call, wherever they have a faster way for Node's own.
TEST(NodeOverrideTest, TheWalkTheSearchTheWatchersAndTheDumpCallTheOverrides) {
    auto source = Node::Create<RecordingNode>("s"), below = Node::Create<RecordingNode>("b");
    Ptr<Forwarding> const forwarding = Node::Create<Forwarding>();
    std::string log;
    Subscription const heard = below->OnTouched([&](TouchEvent const& p_event) { log += "SEI"[p_event.relationship]; });
    source->Deps().Insert(*forwarding);
    forwarding->Deps().Insert(*below);
    EXPECT_TRUE(static_cast<Node&>(*forwarding).Node::Deps().Empty()) << "the node's own list is not used";
    source->Touch();
    forwarding->Touch();
    EXPECT_EQ(log, "IE") << "reached through the forwarded list, as a dependent and from itself";
    below->Deps().Insert(*source);
    EXPECT_TRUE(Dependencies::HasCyclicDependency(source->Id()));
    below->Deps().Clear();

    ModificationWatcher watcher = *forwarding;  // converts, as a watcher of the node
    ModificationWatcherList list;
    list.Append(*forwarding);
    forwarding->Touch();
    EXPECT_FALSE(watcher.Modified() || list.Modified()) << "the node's own stamp moved, the reported one did not";
    forwarding->part.Set(1);
    EXPECT_TRUE(watcher.Modified() && list.Modified());

    std::ostringstream dump;
    for (int verbosity : {1, 3, 7}) {
        forwarding->Dump(dump, static_cast<Verbosity>(verbosity), 0);
        EXPECT_EQ(forwarding->ref.dumpedAt, verbosity) << "handed on as given";
    }
}

// Conversions that client code writes as the listings give them.
static_assert(std::is_convertible<Node const&, ModificationWatcher>::value, "a watcher from a node");
static_assert(std::is_convertible<Ptr<IModifiable>, ModificationWatcher>::value, "a watcher from a Ptr");
static_assert(std::is_convertible<ModifiablePtr, bool>::value, "ModifiablePtr tests as bool");
static_assert(std::is_convertible<Ptr<Node>, NodeAccess>::value, "an accessor from a Ptr");
static_assert(std::is_convertible<char const*, NullPtrException>::value, "NullPtrException from a text");
static_assert(std::is_convertible<std::string, CyclicDependencyFoundExcept>::value, "a refusal from a text");
static_assert(std::is_same<decltype(std::declval<IProperty const&>().Name()), std::string>::value,
              "IProperty::Name returns std::string");
