#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

using namespace graphtest;

namespace {

// Class names chosen for their length as the compiler spells them:
// "N12_GLOBAL__N_1" + length + name + "E".
class Plain : public Node {};
class Exactly8 : public Node {};
class NineChars : public Node {};

class Dumped : public Node {
public:
    Dumped()
        : _width(*this, "width", true, "10"),
          _count(*this, "count", false, "0"),
          _parent(*this, "parent"),
          _children(*this, "children", true) {}

private:
    TestProperty _width;
    TestProperty _count;
    TestRef _parent;
    TestRef _children;
};

// The node line; the class name is shown whole unless `p_type` says otherwise.
std::string Line(Ptr<Node> const& p_node, std::string const& p_name = "", std::string p_type = "") {
    return "id(" + std::to_string(UniqueIdOf(p_node)) + ") name(" + p_name + ") type.id(" +
           std::to_string(TypeIdOf(p_node)) + ") type(" + (p_type.empty() ? typeid(*p_node).name() : p_type) + ") ";
}

std::string DumpOf(Node const& p_node, int p_verbosity, std::size_t p_indent) {
    std::ostringstream stream;
    p_node.Dump(stream, static_cast<Verbosity>(p_verbosity), p_indent);
    return stream.str();
}

std::string const kRule(80, '-');

char const* const kNoObjectText =
    "\"ptr\" - void __cdecl Qel::Chart::Core::Node::Dump(class std::basic_ostream<char,struct "
    "std::char_traits<char> > &,const enum Qel::Chart::Core::Verbosity,const unsigned __int64) const";

}  // namespace

TEST(NodeDumpTest, EachVerbosityAddsASection) {
    auto node = Node::Create<Dumped>();
    auto first = Node::Create<Plain>();
    TestModifiable notANode;
    node->Deps().Insert(*first);
    {
        auto gone = Node::Create<Plain>();
        node->Deps().Insert(*gone);
    }
    node->Deps().Insert(notANode);
    std::string const head = kRule + "\n+ " + Line(node) + "\n";
    EXPECT_EQ(DumpOf(*node, DumpHeader, 0), head);
    EXPECT_EQ(DumpOf(*node, -1, 0), head);
    EXPECT_EQ(DumpOf(*node, DumpRefs, 0),
              head + "\tref     : parent\n\t[parent v1]\n\tref-list: children\n\t[children v1]\n");
    EXPECT_EQ(DumpOf(*node, DumpProperties, 0),
              head + "\twidth = 10\n\tcount = <0>\n\tref     : parent\n\t[parent v2]\n\tref-list: children\n" +
                  "\t[children v2]\n");
    // Dependents are numbered, expired ones included.
    EXPECT_EQ(DumpOf(*node, DumpDependents, 0),
              head + "\twidth = 10\n\tcount = <0>\n\tref     : parent\n\t[parent v3]\n\tref-list: children\n" +
                  "\t[children v3]\n\tdependents: \n\t    [0] " + Line(first) + "\n\t    [1] ** expired **\n" +
                  "\t    [2] ## unknown (property?) ##\n");
    EXPECT_EQ(node->Deps().Size(), 3u);  // the dump only reads
    node->Deps().Remove(notANode);
}

TEST(NodeDumpTest, TheIndentPrefixesEveryLineAndShortensTheRuleToNothingFrom80) {
    auto node = Node::Create<Dumped>();
    EXPECT_EQ(DumpOf(*node, DumpProperties, 2), "\t\t" + std::string(78, '-') + "\n\t\t+ " + Line(node) +
                                                    "\n\t\t\twidth = 10\n\t\t\tcount = <0>\n\t\t\tref     : parent\n"
                                                    "\t\t\t[parent v2]\n\t\t\tref-list: children\n"
                                                    "\t\t\t[children v2]\n");
    auto plain = Node::Create<Plain>();
    for (std::size_t indent : {80u, 81u}) {
        std::string const tabs(indent, '\t');
        EXPECT_EQ(DumpOf(*plain, DumpHeader, indent), tabs + "\n" + tabs + "+ " + Line(plain) + "\n");
    }
    // Without dependents there is no dependents line.
    EXPECT_EQ(DumpOf(*plain, DumpDependents, 0), kRule + "\n+ " + Line(plain) + "\n");
    EXPECT_EQ(DumpOf(*plain, 7, 0), kRule + "\n+ " + Line(plain) + "\n");
}

TEST(NodeDumpTest, TheNodeLineShowsIdNameTypeIdAndAShortenedClassName) {
    Ptr<Node> const plain = Node::Create<Plain>(), exact = Node::Create<Exactly8>(), longer = Node::Create<NineChars>();
    ASSERT_EQ(std::string(typeid(Exactly8).name()), "N12_GLOBAL__N_18Exactly8E");
    ASSERT_EQ(std::string(typeid(NineChars).name()), "N12_GLOBAL__N_19NineCharsE");
    NodeAccess(plain).SetName("flow");
    std::ostringstream byReference, byPointer, exactLine, longerLine;
    byReference << *plain;
    byPointer << plain;
    exactLine << *exact;
    longerLine << *longer;
    EXPECT_EQ(byReference.str(), Line(plain, "flow"));
    EXPECT_EQ(byPointer.str(), Line(plain, "flow"));
    // Up to 25 characters the class name is shown whole, beyond only its last 25.
    EXPECT_EQ(exactLine.str(), Line(exact, "", "N12_GLOBAL__N_18Exactly8E"));
    EXPECT_EQ(longerLine.str(), Line(longer, "", "...12_GLOBAL__N_19NineCharsE"));
}

TEST(NodeDumpTest, ALiveDependentWithoutObjectIsReported) {
    auto node = Node::Create<Plain>();
    TestModifiable nameless(true);
    node->Deps().Insert(nameless);
    std::string const written = kRule + "\n+ " + Line(node) + "\n\tdependents: \n\t    [0] ";
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        std::ostringstream stream;
        std::string const failure = CheckFailure([&] { node->Dump(stream, DumpDependents, 0); });
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), std::vector<std::string>{kNoObjectText});
        if (policy == failpolicy::throwing) {
            EXPECT_EQ(failure, kNoObjectText);
            EXPECT_EQ(stream.str(), written);
        } else {
            EXPECT_EQ(failure, "<returned>");
            EXPECT_EQ(stream.str(), written + "## unknown (property?) ##\n");
        }
    }
    node->Deps().Remove(nameless);
}

TEST(NodeDumpTest, DumpDebugSendsTheSameLinesToADebugStream) {
    auto node = Node::Create<Dumped>();
    auto dependent = Node::Create<Plain>();
    node->Deps().Insert(*dependent);
    std::string const text = DumpOf(*node, DumpDependents, 1);
    std::vector<std::string> expected;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        expected.push_back(line);
    }
    ASSERT_EQ(expected.size(), 10u);
    capture cap;
    node->DumpDebug(Qel::Chart::Utility::GetLogger().dout("DumpTest"), DumpDependents, 1);
    std::vector<std::string> received;
    for (auto const& r : qeltest::OfKind(cap, reportkind::dout)) {
        EXPECT_EQ(r.category, "DumpTest");
        received.push_back(r.text);
    }
    EXPECT_EQ(received, expected);
}
