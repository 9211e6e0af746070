#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <typeinfo>

using namespace graphtest;

namespace {

// Class names chosen for their length as the compiler spells them: "N12_GLOBAL__N_1" + length + name + "E".
class Plain : public Node {};
class Exactly8 : public Node {};
class NineChars : public Node {};

class Dumped : public Node {
public:
    TestProperty width{this, "width", true, "10"}, count{this, "count", false, "0"};
    TestRef parent{this, "parent"}, children{this, "children", true};
};

// The node line; the class name is shown whole unless `p_type` says otherwise.
std::string Line(Ptr<Node> const& p_node, std::string const& p_type = "") {
    return "id(" + std::to_string(UniqueIdOf(p_node)) + ") name() type.id(" + std::to_string(TypeIdOf(p_node)) +
           ") type(" + (p_type.empty() ? typeid(*p_node).name() : p_type) + ") ";
}

std::string DumpOf(Node const& p_node, int p_verbosity, std::size_t p_indent) {
    std::ostringstream stream;
    p_node.Dump(stream, static_cast<Verbosity>(p_verbosity), p_indent);
    return stream.str();
}

std::string const kRule(80, '-');

}  // namespace

TEST(NodeDumpTest, EachVerbosityAddsASectionAndTheIndentPrefixesEveryLine) {
    auto node = Node::Create<Dumped>();
    auto first = Node::Create<Plain>();
    TestModifiable notANode;
    node->Deps().Insert(*first);
    node->Deps().Insert(*Node::Create<Plain>());  // expired at once
    node->Deps().Insert(notANode);
    std::string const head = kRule + "\n+ " + Line(node) + "\n";
    auto withVerbosity = [](std::string const& p_v) {
        return "\tref     : parent\n\t[parent v" + p_v + "]\n\tref-list: children\n\t[children v" + p_v + "]\n";
    };
    for (int outside : {-1, int{DumpHeader}}) {
        EXPECT_EQ(DumpOf(*node, outside, 0), head);
    }
    EXPECT_EQ(DumpOf(*node, DumpRefs, 0), head + withVerbosity("1"));
    EXPECT_EQ(DumpOf(*node, DumpProperties, 0), head + "\twidth = 10\n\tcount = <0>\n" + withVerbosity("2"));
    EXPECT_EQ(DumpOf(*node, DumpDependents, 0), head + "\twidth = 10\n\tcount = <0>\n" + withVerbosity("3") +
                                                    "\tdependents: \n\t    [0] " + Line(first) +
                                                    "\n\t    [1] ** expired **\n\t    [2] ## unknown (property?) ##\n");
    EXPECT_EQ(node->Deps().Size(), 3u);  // the dump only reads
    node->Deps().Remove(notANode);
    EXPECT_EQ(DumpOf(*node, DumpRefs, 2), "\t\t" + std::string(78, '-') + "\n\t\t+ " + Line(node) +
                                              "\n\t\t\tref     : parent\n\t\t\t[parent v1]\n\t\t\tref-list: children\n"
                                              "\t\t\t[children v1]\n");
    for (std::size_t indent : {80u, 81u}) {
        std::string const tabs(indent, '\t');
        EXPECT_EQ(DumpOf(*first, 7, indent), tabs + "\n" + tabs + "+ " + Line(first) + "\n");
    }
}

TEST(NodeDumpTest, ClassNamesAreShownWholeUpTo25CharactersAndByTheirLast25Beyond) {
    Ptr<Node> const exact = Node::Create<Exactly8>(), longer = Node::Create<NineChars>();
    ASSERT_EQ(std::string(typeid(Exactly8).name()), "N12_GLOBAL__N_18Exactly8E");
    NodeAccess(exact).SetName("flow");
    std::ostringstream exactLine, longerLine;
    exactLine << *exact;
    longerLine << longer;
    EXPECT_EQ(exactLine.str(), "id(" + std::to_string(UniqueIdOf(exact)) + ") name(flow) type.id(" +
                                   std::to_string(TypeIdOf(exact)) + ") type(N12_GLOBAL__N_18Exactly8E) ");
    EXPECT_EQ(longerLine.str(), Line(longer, "...12_GLOBAL__N_19NineCharsE"));
}

TEST(NodeDumpTest, ALiveDependentWithoutObjectIsReported) {
    std::string const text =
        "\"ptr\" - void __cdecl Qel::Chart::Core::Node::Dump(class std::basic_ostream<char,struct "
        "std::char_traits<char> > &,const enum Qel::Chart::Core::Verbosity,const unsigned __int64) const";
    auto node = Node::Create<Plain>();
    TestModifiable nameless;
    nameless.nullAddress = true;
    node->Deps().Insert(nameless);
    std::string const written = kRule + "\n+ " + Line(node) + "\n\tdependents: \n\t    [0] ";
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        std::ostringstream stream;
        bool const thrown = policy == failpolicy::throwing;
        EXPECT_EQ(CheckFailure([&] { node->Dump(stream, DumpDependents, 0); }), thrown ? text : "<returned>");
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Names{text});
        EXPECT_EQ(stream.str(), thrown ? written : written + "## unknown (property?) ##\n");
    }
    node->Deps().Remove(nameless);
}
