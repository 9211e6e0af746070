#include <Node.h>

#include "NodeTestSupport.h"

#include <gtest/gtest.h>

#include <boost/function.hpp>

#include <typeinfo>

using namespace graphtest;

namespace {

// Each class is created by one test only, which sees its first registration.
class RegisteredFirst : public Node {};
class RegisteredSecond : public Node {};
class NeedsArgument : public Node {
public:
    explicit NeedsArgument(int) {}
};
class Spawned : public Node {};

// Creates a node of a class not registered yet when `spawn` is set.
class Spawner : public Node {
public:
    Spawner() {
        if (spawn) {
            Node::Create<Spawned>();
        }
    }
    static inline bool spawn = false;
};

// Asks for a clone of itself before the creation step has recorded its type id.
class ClonesTooEarly : public Node {
public:
    ClonesTooEarly() {
        failure = CheckFailure([&] { Node::CreateTypeOf(Ptr<Node>(boost::shared_ptr<Node>(this, [](Node*) {}))); });
    }
    std::string failure;
};

Names TypeTraces(capture const& p_capture) {
    Names result;
    for (auto const& r : qeltest::OfKind(p_capture, reportkind::dout)) {
        if (r.category == "NodeTypeInfo") {
            result.push_back(r.text);
        }
    }
    return result;
}

std::string Trace(unsigned p_id, std::type_info const& p_type) {
    return "id(" + std::to_string(p_id) + ") name(" + p_type.name() + ")";
}

}  // namespace

TEST(NodeRegistryTest, ClassesGetConsecutiveIdsAreTracedOnceAndCloneToFreshNodes) {
    capture cap;
    Ptr<Node> const first = Node::Create<RegisteredFirst>(), second = Node::Create<RegisteredSecond>(),
                    firstAgain = Node::Create<RegisteredFirst>();
    first->Touch();
    unsigned const id = TypeIdOf(first);
    EXPECT_EQ(TypeIdOf(second), id + 1);
    EXPECT_EQ(TypeIdOf(firstAgain), id);
    EXPECT_EQ(TypeTraces(cap), (Names{Trace(id, typeid(RegisteredFirst)), Trace(id + 1, typeid(RegisteredSecond))}));
    Ptr<Node> const clone = Node::CreateTypeOf(first);
    EXPECT_NE(clone.Get(), first.Get());
    EXPECT_EQ(clone->Type().Get(), typeid(RegisteredFirst));
    EXPECT_EQ(TypeIdOf(clone), id);
    EXPECT_EQ(clone->Time(), TimeStamp());  // nothing is copied
    EXPECT_THROW(Node::CreateTypeOf(Ptr<Node>()), NullPtrException);
    // A class without default constructor has an empty factory.
    auto needsArgument = Node::Create<NeedsArgument>(7);
    int const nodes = Node::_debugNodeCount.load();
    try {
        Node::CreateTypeOf(needsArgument);
        ADD_FAILURE() << "an empty factory was called without an exception";
    } catch (boost::bad_function_call const& e) {
        EXPECT_STREQ(e.what(), "call to empty boost::function");
    }
    EXPECT_EQ(Node::_debugNodeCount.load(), nodes);
    EXPECT_NO_THROW(Node::CreateTypeOf(first));  // the registry lock was released
}

TEST(NodeRegistryTest, AFactoryThatRegistersAClassFailsToLockTheRegistry) {
    Spawner::spawn = false;
    auto spawner = Node::Create<Spawner>();
    int const nodes = Node::_debugNodeCount.load();
    std::size_t const blocks = qeldebug::allocationtracker::blocks_in_use();
    Spawner::spawn = true;
    try {
        Node::CreateTypeOf(spawner);
        ADD_FAILURE() << "the registry was locked twice by one thread";
    } catch (qelthreads::mutex_base<1>::bad_mutex const& e) {
        std::string const text = e.what(), ending = " : failed to lock";
        EXPECT_TRUE(text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending) << text;
    }
    EXPECT_EQ(Node::_debugNodeCount.load(), nodes);
    EXPECT_EQ(qeldebug::allocationtracker::blocks_in_use(), blocks);
    // Outside a factory the class registers normally, and the lock is free again.
    capture cap;
    auto direct = Node::Create<Spawner>();
    Names const traces = TypeTraces(cap);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_NE(traces[0].find(std::string(") name(") + typeid(Spawned).name() + ")"), std::string::npos);
    EXPECT_EQ(Node::CreateTypeOf(spawner)->Type().Get(), typeid(Spawner));
    Spawner::spawn = false;
}

TEST(NodeRegistryTest, CloningANodeWithoutTypeIdIsReported) {
    std::string const text =
        "\"it != NodeFactory::Register().end()\" - class Qel::Chart::Core::Ptr<class Qel::Chart::Core::Node> "
        "__cdecl Qel::Chart::Core::Node::CreateTypeOf(const class Qel::Chart::Core::Ptr<class "
        "Qel::Chart::Core::Node> &)";
    for (failpolicy policy : {failpolicy::throwing, failpolicy::returning}) {
        capture cap(policy);
        EXPECT_EQ(Node::Create<ClonesTooEarly>()->failure, text);
        EXPECT_EQ(qeltest::Texts(cap, reportkind::ensure), Names{text});
    }
}
