// The baseline node's own members; the walk and the searches are in Walk.cpp.
#include "Baseline.h"

namespace QelBench {
namespace Baseline {

namespace {
// Plain counters: the baseline is used from one thread.
std::uint64_t g_constructed = 0;
std::uint64_t g_destroyed = 0;
}  // namespace

BaseNode::BaseNode() noexcept : _stamp(0), _dependents(), _onPath(false) { ++g_constructed; }

BaseNode::~BaseNode() { ++g_destroyed; }

void BaseNode::Touch(Relationship /*p_relationship*/, void const* /*p_payload*/) { ++_stamp; }

std::uint64_t BaseNode::Time() const { return _stamp; }

std::uint64_t BaseNode::Constructed() { return g_constructed; }
std::uint64_t BaseNode::Destroyed() { return g_destroyed; }

BaseNode* NewNode() { return new BaseNode(); }

void DeleteNode(BaseNode* p_node) { delete p_node; }

unsigned short NameCache::GenerateId(std::string const& p_name) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto const found = _ids.find(p_name);
    if (found != _ids.end()) {
        return found->second;
    }
    unsigned short const id = static_cast<unsigned short>(_names.size());
    _names.push_back(p_name);
    _ids.emplace(p_name, id);
    return id;
}

std::string const& NameCache::FindName(unsigned short p_id) {
    std::lock_guard<std::mutex> lock(_mutex);
    return _names.at(p_id);
}

}  // namespace Baseline
}  // namespace QelBench
