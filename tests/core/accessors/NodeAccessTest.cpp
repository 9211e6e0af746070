#include "NodeAccess.h"

#include "../WatchTestSupport.h"

using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::NodeAccess;

TEST(NodeAccessTest, ANameOf65536CharactersIsRefusedKeepingTheOldOne) {
    Ptr<PlainNode> node = Node::Create<PlainNode>();
    NodeAccess access(node);
    std::string const old(99, 'q');
    access.SetName(old);
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(access.SetName(std::string(65536, 'n')), qeldebug::check_failed);
        EXPECT_FALSE(qeltest::OfKind(cap, qeldebug::reportkind::ensure).empty());
        std::string name;
        access.GetName(name);
        EXPECT_EQ(name, old) << "the old name is kept";
    }
}
