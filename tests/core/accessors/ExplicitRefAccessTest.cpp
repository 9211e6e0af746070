#include "ExplicitRefAccess.h"

#include "../WatchTestSupport.h"
#include "ExplicitRef.h"

#include <cstdint>

using namespace qelwatchtest;
using Qel::Chart::Core::Accessors::ExplicitRefAccess;

namespace {
char const* const kNameMissText =
    "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class Qel::Chart::Core::IExplicitRef "
    "&__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class std::basic_string<char,struct "
    "std::char_traits<char>,class std::allocator<char> > &) const";
char const* const kIndexMissText =
    "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
    "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const";

class LinkedNode : public Node {
public:
    ExplicitRef _parent{*this, "parent"};
    ExplicitRefList _children{*this, "children"};
};
}  // namespace

TEST(ExplicitRefAccessTest, MissesFailTheirChecksAndOnlyALiveAccessorKeepsTheNode) {
    Ptr<LinkedNode> node = Node::Create<LinkedNode>();
    Ptr<PlainNode> empty = Node::Create<PlainNode>();
    WeakPtr<LinkedNode> weak(node);
    for (qeldebug::failpolicy policy : kPolicies) {
        qeldebug::capture cap(policy);
        EXPECT_THROW(ExplicitRefAccess(node, std::string("Parent")), qeldebug::check_failed);
        EXPECT_THROW(ExplicitRefAccess(node, std::uint64_t{2}), qeldebug::check_failed) << "one past the end";
        EXPECT_THROW(ExplicitRefAccess(empty, std::uint64_t{0}), qeldebug::check_failed);
        EXPECT_EQ(qeltest::Texts(cap, qeldebug::reportkind::ensure),
                  (std::vector<std::string>{kNameMissText, kIndexMissText, kIndexMissText}));
    }
    EXPECT_EQ(weak.Weak().use_count(), 1) << "failed constructors released their node reference";
    ExplicitRefAccess access(node, std::string("children"));
    node = Ptr<LinkedNode>();
    EXPECT_FALSE(weak.Expired()) << "the accessor keeps its node alive";
}
