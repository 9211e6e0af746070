#include <QelChartIO.h>

#include "IOModel.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace qeliotest;
using qeltest::Counters;
using qeltest::DependentsOf;

namespace {

std::vector<Ptr<Node>> Targets(IExplicitRef const& p_ref) { return p_ref.GetReferencees(); }

/// Typed references, one of each kind linking its owner as a dependent.
class Typed : public Node {
public:
    TypedRef<Plain> _axis{*this, "axis", RefLink::Dependent};
    TypedRefList<Plain> _series{*this, "series", RefLink::Dependent};
    TypedRef<Plain> _plain{*this, "plain"};
};

/// Counts the ends of others it hears of as a dependent.
class Hearing : public Plain {
public:
    static int heard;

protected:
    void TouchThis(ModifiableType type, Change change, Relationship relationship, WeakPtr<Node> const& p_originator,
                   std::string const& name, boost::any const& value) override {
        heard += change == Deallocate && relationship != Self ? 1 : 0;
        Plain::TouchThis(type, change, relationship, p_originator, name, value);
    }
};
int Hearing::heard = 0;

class Unregistered : public Node {};
class Odd : public Node {
public:
    Property<std::vector<int>> _list{*this, "list", std::vector<int>{1}};
};

}  // namespace

// The sample saved from its roots and as a model: Load and LoadModel make
// what saves the same text again, and nothing of it outlives the result.
TEST(IORoundTrip, SavesWhatLoadAndLoadModelMakeAgainByteForByte) {
    std::string text, modelText;
    {
        Sample const sample = MakeSample();
        text = IO::Save(sample._roots);
        Model model;
        model.Add(sample._roots[1]);  // `empty` first: model order, not the roots'
        model.Add(sample._roots[0]);
        model.Add(sample._roots[1]);
        modelText = IO::Save(model);
    }
    Counters const before;
    {
        std::vector<Ptr<Node>> const roots = IO::Load(text);
        EXPECT_EQ(IO::Save(roots), text);
        ASSERT_EQ(roots.size(), 2u);
        Ptr<Everything> const full = DynamicPtrCast<Everything>(roots[0]);
        Ptr<Everything> const empty = DynamicPtrCast<Everything>(roots[1]);
        EXPECT_EQ(full->Name(), "full / ~ \"ü\"");
        unsigned int tag = 0;
        Accessors::NodeAccess(full).GetUserTag(tag);
        EXPECT_EQ(tag, 7u);
        EXPECT_FALSE(full->_bool.Get());
        EXPECT_EQ(full->_int.Get(), std::numeric_limits<int>::min());
        EXPECT_EQ(full->_unsignedLongLong.Get(), std::numeric_limits<unsigned long long>::max());
        EXPECT_EQ(full->_float.Get(), 0.1f);
        EXPECT_TRUE(std::signbit(full->_double.Get()));
        EXPECT_EQ(full->_string.Get(), "tab\t, quote \", unicode \xe2\x82\xac");
        EXPECT_EQ(full->_colour.Get(), (Colour{0x12, 0xab, 0xff}));
        EXPECT_FALSE(empty->_bool.IsValueDefined() || empty->_double.IsValueDefined() ||
                     empty->_string.IsValueDefined())
            << "left out means undefined, defaults too";

        // `shared` is one node behind three references; `tail` lives though
        // only a dependents list names it; the expired entries are gone.
        Ptr<Plain> const shared = DynamicPtrCast<Plain>(full->_one.Get());
        EXPECT_EQ(empty->_one.Get(), shared);
        EXPECT_EQ(shared->_next.Get(), shared);
        EXPECT_EQ(Targets(full->_many), (std::vector<Ptr<Node>>{empty, shared}));
        EXPECT_EQ(DependentsOf(*full), (std::vector<Node const*>{empty.Get(), empty.Get()}));
        EXPECT_EQ(DependentsOf(*empty), (std::vector<Node const*>{full.Get()}));
        ASSERT_EQ(DependentsOf(*shared).size(), 1u);
        Plain const* const tail = dynamic_cast<Plain const*>(DependentsOf(*shared)[0]);
        ASSERT_NE(tail, nullptr);
        EXPECT_FALSE(tail->_x.IsValueDefined());
        EXPECT_EQ(shared->_x.Get(), 1e-300);

        // The loaded model propagates: a change of `shared` reaches `tail`.
        ModificationWatcher watcher(*tail);
        shared->_x.Set(2.0);
        EXPECT_TRUE(watcher.Modified());
    }
    EXPECT_EQ(Counters(), before) << "the model ends with its last root";
    {
        Model loaded = IO::LoadModel(modelText);
        // `empty` and `full`, then `shared` and `tail`, which only they reach.
        ASSERT_EQ(loaded.Size(), 4u);
        EXPECT_EQ(IO::Save(loaded), modelText);
        std::istringstream in(modelText);
        EXPECT_EQ(IO::Save(IO::LoadModel(in)), modelText);
        EXPECT_EQ(loaded.Nodes()[0], loaded.Find("empty"));
        Ptr<Plain> const shared = loaded.Find<Plain>("shared");
        ASSERT_TRUE(shared);
        EXPECT_FALSE(loaded.Find<Plain>("empty")) << "a name of a node of another class";
        EXPECT_FALSE(loaded.Find("gone"));
        std::vector<Ptr<Node>> const roots = IO::Load(modelText);
        EXPECT_EQ(roots.size(), 4u) << "a model's document names every node a root";

        EXPECT_TRUE(loaded.Remove(*shared));
        EXPECT_FALSE(loaded.Remove(*shared));
        EXPECT_EQ(loaded.Size(), 3u);
        EXPECT_THROW(loaded.Add(Ptr<Node>()), NullPtrException);
        Ptr<Plain> const made = loaded.Create<Plain>("made");
        EXPECT_EQ(loaded.Find<Plain>("made"), made);
        EXPECT_EQ(loaded.Nodes().back(), made);
    }
    EXPECT_EQ(Counters(), before) << "the nodes end with the model";
    EXPECT_THROW(IO::LoadModel("{\"format\":1,\"nodes\":[{\"class\":\"Plain\"},{\"class\":\"Nope\"}],\"roots\":[]}"),
                 IO::LoadError);
    EXPECT_EQ(Counters(), before) << "nothing of a failed load survives";
}

TEST(IORoundTrip, FormatStreamsAndOddValues) {
    RegisterModel();
    Ptr<Plain> const plain = Named<Plain>("p");
    plain->_x.Set(1.5);
    // The document layout itself; docs/file-format.md shows the same.
    EXPECT_EQ(IO::Save({plain}),
              R"({"format":1,"nodes":[{"class":"Plain","name":"p","properties":{"x":{"type":"double","value":1.5}}}],)"
              R"("roots":[0]})");

    // JSON has no NaN or infinity; they travel as strings.
    Ptr<Everything> const odd = Node::Create<Everything>();
    odd->_float.Set(-std::numeric_limits<float>::infinity());
    odd->_double.Set(std::nan(""));
    std::ostringstream out;
    IO::Save(out, {odd, plain, odd});
    std::istringstream in(out.str());
    std::vector<Ptr<Node>> const roots = IO::Load(in);
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0], roots[2]);
    Ptr<Everything> const loaded = DynamicPtrCast<Everything>(roots[0]);
    EXPECT_TRUE(std::isinf(loaded->_float.Get()) && loaded->_float.Get() < 0);
    EXPECT_TRUE(std::isnan(loaded->_double.Get()));
    EXPECT_EQ(IO::Save(roots), out.str());

    // Only dependents that are nodes are saved.
    plain->Deps().Insert(plain->_x);
    EXPECT_EQ(IO::Save({plain}).find("dependents"), std::string::npos);
    plain->Deps().Remove(plain->_x);
}

TEST(IORoundTrip, TypedReferencesKeepTheirTargetsAndTheListsAsSaved) {
    RegisterModel();
    static bool const registered = (IO::RegisterClass<Typed>("Typed"), true);
    (void)registered;
    Ptr<Typed> const typed = Node::Create<Typed>();
    Ptr<Plain> const a = Named<Plain>("a");
    Ptr<Plain> const b = Named<Plain>("b");
    typed->_axis.Attach(a);
    typed->_series.Attach(a);
    typed->_series.Attach(b);
    typed->_plain.Attach(b);
    // b keeps its link; a's list is emptied by hand behind the references.
    a->Deps().Clear();
    std::string const text = IO::Save({typed});
    Counters const before;
    {
        std::vector<Ptr<Node>> const roots = IO::Load(text);
        EXPECT_EQ(IO::Save(roots), text);
        Ptr<Typed> const loaded = DynamicPtrCast<Typed>(roots[0]);
        Ptr<Plain> const la = loaded->_axis.Get();
        ASSERT_EQ(loaded->_series.GetAll().size(), 2u);
        Ptr<Plain> const lb = loaded->_series.GetAll()[1];
        EXPECT_EQ(loaded->_series.GetAll()[0], la);
        EXPECT_EQ(loaded->_plain.Get(), lb);
        EXPECT_EQ(la->Name(), "a");
        EXPECT_TRUE(DependentsOf(*la).empty()) << "a list saved empty stays empty, links or not";
        EXPECT_EQ(DependentsOf(*lb), (std::vector<Node const*>{loaded.Get()}));
    }
    EXPECT_EQ(Counters(), before);

    // A document whose typed reference names a node of another class.
    std::string wrong = text;
    std::size_t const at = wrong.find("\"plain\":2");
    ASSERT_NE(at, std::string::npos) << text;
    wrong.replace(at, 9, "\"plain\":0");
    std::optional<IO::LoadError> const error = qeltest::Thrown<IO::LoadError>([&] { IO::Load(wrong); });
    ASSERT_TRUE(error) << "loaded " << wrong;
    EXPECT_NE(error->Cause().find("node 0 (class (anonymous namespace)::Typed): failed to cast Core::Ptr to type!"),
              std::string::npos)
        << error->what();
    EXPECT_EQ(error->Pointer(), "/nodes/0/references/plain");
    EXPECT_EQ(Counters(), before);
}

// Loaded nodes are ordinary nodes, each with a Ptr of its own; the roots
// together keep the rest of the model, which ends after the last of them.
TEST(IORoundTrip, LoadedNodesAreDistinctAndEveryModelSaveWritesLoads) {
    RegisterModel();
    Counters const before;
    std::string text;
    {
        Ptr<Plain> const a = Named<Plain>("a"), b = Named<Plain>("b");
        Ptr<Everything> const holder = Named<Everything>("holder");
        holder->_many.Attach(a);
        holder->_many.Attach(b);
        a->_next.Attach(holder);
        text = IO::Save({a, b});
    }
    {
        std::vector<Ptr<Node>> roots = IO::Load(text);
        ASSERT_EQ(roots.size(), 2u);
        EXPECT_NE(roots[0], roots[1]);
        EXPECT_EQ(IO::Save(roots), text);
        EXPECT_EQ(IO::Save({roots[0]->SelfPtr(), roots[1]}), text) << "a loaded node and its SelfPtr are one node";
        Ptr<Everything> const list = Node::Create<Everything>();
        list->_many.Attach(roots[0]);
        list->_many.Attach(roots[1]);
        EXPECT_EQ(Targets(list->_many), roots);
        list->_many.Detach(roots[1]);
        EXPECT_EQ(Targets(list->_many), std::vector<Ptr<Node>>{roots[0]});
        // The holder is reached only from a root's reference: either root keeps it.
        WeakPtr<Node> const holder = Targets(DynamicPtrCast<Plain>(roots[0])->_next)[0];
        roots.erase(roots.begin());
        ASSERT_FALSE(holder.Expired()) << "the second root keeps it";
        EXPECT_EQ(Targets(DynamicPtrCast<Everything>(holder.Lock())->_many), roots) << "the first root has ended";
    }
    EXPECT_EQ(Counters(), before) << "the last root takes the rest of the model with it";

    // Each points at the other and depends on it, but for one link taken
    // back: a legal model, which loads exactly as saved.
    {
        Ptr<Mutual> const x = Named<Mutual>("x"), y = Named<Mutual>("y");
        x->_other.Attach(y);
        x->StopDependingOn(*y);
        y->_other.Attach(x);
        text = IO::Save({x});
    }
    EXPECT_EQ(IO::Save(IO::Load(text)), text);
    EXPECT_EQ(Counters(), before);
}

TEST(IOSave, RefusesWhatItCannotNameAndWritesNothing) {
    RegisterModel();
    // The message of the refusal to save `p_root`, after checking that
    // nothing was written; "<returned>" when it was saved.
    auto const refusal = [](Ptr<Node> const& p_root) {
        std::ostringstream out;
        std::string const text = qeltest::ThrownText<IO::SaveError>([&] { IO::Save(out, {p_root}); });
        EXPECT_TRUE(text == "<returned>" || out.str().empty()) << text;
        return text;
    };
    auto const names = [](std::string const& p_text, std::vector<std::string> const& p_parts) {
        for (std::string const& part : p_parts) {
            EXPECT_NE(p_text.find(part), std::string::npos) << p_text;
        }
    };
    Ptr<Plain> const plain = Named<Plain>("known");
    Ptr<Unregistered> const stranger = Named<Unregistered>("stranger");
    plain->Deps().Insert(*stranger);  // reached through a dependents list
    names(refusal(plain), {"node \"stranger\"", "class (anonymous namespace)::Unregistered)", "IO::RegisterClass"});

    IO::RegisterClass<Odd>("Odd");
    Ptr<Odd> const odd = Named<Odd>("odd");
    names(refusal(odd), {"node \"odd\"", "property \"list\"", "type std::vector<int"});  // a value without a codec
    odd->_list.ResetValue();
    EXPECT_EQ(refusal(odd), "<returned>") << "an undefined value needs no codec";

    Ptr<Everything> const binary = Named<Everything>("binary");
    binary->_string.Set("\xff");  // not UTF-8
    names(refusal(binary), {"node \"binary\" (id ", "property \"string\""});
}

TEST(IORegister, RefusesASecondNameForAClassOrValueTypeAndANameTwice) {
    RegisterModel();
    // A codec that is never called: only the registration is looked at.
    auto const value = [](auto p_type, char const* p_name) {
        using T = decltype(p_type);
        IO::RegisterValue<T>(
            p_name, [](T const&) { return nlohmann::json(); }, [](nlohmann::json const&) { return T(); });
    };
    // The refusals name classes and types as C++ writes them.
    std::pair<std::function<void()>, char const*> const cases[] = {
        {[] { IO::RegisterClass<Plain>("Plain again"); },
         "IO::RegisterClass: class qeliotest::Plain is registered already, as 'Plain'"},
        {[] { IO::RegisterClass<Unregistered>("Plain"); }, "IO::RegisterClass: the name 'Plain' is taken already"},
        {[&] { value(double(), "real"); }, "IO::RegisterValue: type double has a codec already, named 'double'"},
        {[&] { value(0.0L, "double"); }, "IO::RegisterValue: the name 'double' is taken already"},
        {[&] { value(char(), "colour"); }, "IO::RegisterValue: the name 'colour' is taken already"},
    };
    for (auto const& [action, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(qeltest::ThrownText<std::invalid_argument>(action), text);
    }
    // Refusals change nothing: the names still mean what they meant.
    EXPECT_EQ(IO::Save({Node::Create<Plain>()}).find("Plain again"), std::string::npos);
    EXPECT_THROW(IO::Save({Node::Create<Unregistered>()}), IO::SaveError);
    EXPECT_TRUE(IO::IsClassRegistered<Plain>() && IO::IsClassRegistered("Plain"));
    EXPECT_FALSE(IO::IsClassRegistered<Unregistered>() || IO::IsClassRegistered("Plain again") ||
                 IO::IsClassRegistered("plain"));
}

// Every cause, with the place it is reported at. Each document would load
// but for the one fault; each load must leave every counter as it was.
TEST(IOLoad, NamesThePlaceAndCauseAndLeavesNothingBehind) {
    RegisterModel();
    std::string const node0 = R"({"class":"Plain","name":"a","properties":{"x":{"type":"double","value":1}}})";
    auto const doc = [&](std::string const& p_nodes, std::string const& p_roots = "[0,1]") {
        return R"({"format":1,"nodes":[)" + node0 + "," + p_nodes + R"(],"roots":)" + p_roots + "}";
    };
    std::string const node1 = R"({"class":"Everything","dependents":[0],"references":{"many":[0,1]}})";
    struct Case {
        std::string document;
        std::string pointer;
        std::string cause;
    } const cases[] = {
        {"{\"format\":1,", "/format", "malformed JSON: parse error at line 1, column 13"},
        {doc(node1) + " x", "", "malformed JSON"},
        {R"({"format":1,"nodes":[{"class":"Plain","class":"Plain"}],"roots":[]})", "/nodes/0/class", "appears twice"},
        {R"({"format":1,"nodes":[{"class":"Plain","tag":1e400}],"roots":[]})", "/nodes/0/tag", "number overflow"},
        {"[]", "", "expected an object, found array"},
        {R"({"nodes":[],"roots":[]})", "", "no \"format\""},
        {R"({"format":2,"nodes":[],"roots":[]})", "/format", "unknown format 2"},
        {R"({"format":1,"nodes":{},"roots":[]})", "/nodes", "expected an array, found object"},
        {R"({"format":1,"nodes":[],"roots":[],"x/y":0})", "/x~1y", "unknown key \"x/y\""},
        {doc(R"({"class":"Nope"})"), "/nodes/1/class", "unknown class \"Nope\""},
        {doc(R"({"class":"Plain","tag":-1})"), "/nodes/1/tag", "expected a whole number"},
        {doc(R"({"class":"Plain","name":7})"), "/nodes/1/name", "expected a string, found number"},
        {doc(R"({"class":"Plain","properties":{"a~b":{}}})"), "/nodes/1/properties/a~0b",
         "class \"Plain\" has no property \"a~b\""},
        {doc(R"({"class":"Plain","properties":{"x":{"type":"real","value":1}}})"), "/nodes/1/properties/x/type",
         "unknown value type \"real\""},
        {doc(R"({"class":"Plain","properties":{"x":{"type":"string","value":"1"}}})"), "/nodes/1/properties/x/type",
         "the property holds \"double\", not \"string\""},
        {doc(R"({"class":"Plain","properties":{"x":{"value":1}}})"), "/nodes/1/properties/x", "no \"type\""},
        {doc(R"({"class":"Plain","properties":{"x":{"type":"double","value":"1"}}})"), "/nodes/1/properties/x/value",
         "expected a number, \"nan\", \"inf\" or \"-inf\" for double"},
        {doc(R"({"class":"Everything","properties":{"int":{"type":"int","value":2147483648}}})"),
         "/nodes/1/properties/int/value", "2147483648 is out of range for int"},
        {doc(R"({"class":"Everything","properties":{"unsigned":{"type":"unsigned","value":-1}}})"),
         "/nodes/1/properties/unsigned/value", "-1 is out of range for unsigned"},
        {doc(R"({"class":"Everything","properties":{"float":{"type":"float","value":1e39}}})"),
         "/nodes/1/properties/float/value", "is out of range for float"},
        {doc(R"({"class":"Everything","properties":{"int":{"type":"int","value":1.5}}})"),
         "/nodes/1/properties/int/value", "expected an integer for int, found number"},
        {doc(R"({"class":"Everything","properties":{"colour":{"type":"colour","value":"red"}}})"),
         "/nodes/1/properties/colour/value", "expected a colour \"#rrggbb\", found \"red\""},
        {doc(R"({"class":"Plain","references":{"prev":0}})"), "/nodes/1/references/prev",
         "class \"Plain\" has no reference \"prev\""},
        {doc(R"({"class":"Plain","references":{"next":[0]}})"), "/nodes/1/references/next",
         "expected a node number, found array"},
        {doc(R"({"class":"Everything","references":{"many":[0,"1"]}})"), "/nodes/1/references/many/1",
         "expected a node number, found string"},
        {doc(R"({"class":"Everything","references":{"one":2}})"), "/nodes/1/references/one",
         "node 2 is out of range: the document has 2 nodes"},
        {doc(R"({"class":"Plain","dependents":[1,-1]})"), "/nodes/1/dependents/1", "node -1 is out of range"},
        {doc(node1, "[0,5]"), "/roots/1", "node 5 is out of range"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.document);
        Counters const before;
        std::optional<IO::LoadError> const error = qeltest::Thrown<IO::LoadError>([&] { IO::Load(c.document); });
        ASSERT_TRUE(error) << "loaded";
        EXPECT_EQ(error->Pointer(), c.pointer);
        EXPECT_NE(error->Cause().find(c.cause), std::string::npos) << error->Cause();
        EXPECT_EQ(std::string(error->what()), "at \"" + error->Pointer() + "\": " + error->Cause());
        EXPECT_EQ(Counters(), before);
    }
    EXPECT_EQ(IO::Load(doc(node1)).size(), 2u) << "the document the cases start from loads";

    // The nodes of a failed load end as any node does: node 1 goes first,
    // and node 0, listed as its dependent, hears of it.
    static bool const registered = (IO::RegisterClass<Hearing>("Hearing"), true);
    (void)registered;
    Counters const before;
    Hearing::heard = 0;
    EXPECT_THROW(IO::Load(R"({"format":1,"nodes":[{"class":"Hearing"},{"class":"Plain","dependents":[0]}],)"
                          R"("roots":[2]})"),
                 IO::LoadError);
    EXPECT_EQ(Hearing::heard, 1);
    EXPECT_EQ(Counters(), before);
}

TEST(IOLoad, RefusesTooDeepAndTooLargeInputWithinItsLimits) {
    std::string const deep = std::string(1000000, '[') + std::string(1000000, ']');
    std::optional<IO::LoadError> error = qeltest::Thrown<IO::LoadError>([&] { IO::Load(deep); });
    ASSERT_TRUE(error) << "loaded a document nested a million deep";
    std::string pointer;
    for (std::size_t level = 0; level < IO::kMaxDepth; ++level) {
        pointer += "/0";
    }
    EXPECT_EQ(error->Pointer(), pointer);
    EXPECT_EQ(error->Cause(), "arrays and objects nest deeper than 64 levels");
    std::string values = "[";
    for (std::size_t value = 0; value < IO::kMaxValues; ++value) {
        values += "0,";
    }
    values += "0]";
    EXPECT_THROW(IO::Load(values), IO::LoadError);
    values.resize(IO::kMaxDocumentBytes + 1, ' ');
    error = qeltest::Thrown<IO::LoadError>([&] { IO::Load(values); });
    ASSERT_TRUE(error) << "loaded a document over the size limit";
    EXPECT_EQ(error->Pointer(), "");
    EXPECT_NE(error->Cause().find("more than the 268435456"), std::string::npos) << error->Cause();
}
