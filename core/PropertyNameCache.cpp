#include "PropertyNameCache.h"

#include "DebugStream.h"

#include "QelThreads.h"

#include <boost/functional/hash.hpp>
#include <boost/unordered_map.hpp>

#include <deque>
#include <limits>
#include <mutex>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {
namespace PropertyMetaData {

namespace {

// A deque keeps entries where they are as it grows, so references handed
// out by FindName never dangle.
std::deque<Utility::LightString_Base<char>>& IdToString() {
    static std::deque<Utility::LightString_Base<char>> table;
    return table;
}

boost::unordered_map<std::string, unsigned short, boost::hash<std::string>, std::equal_to<std::string>>& StringToId() {
    static boost::unordered_map<std::string, unsigned short, boost::hash<std::string>, std::equal_to<std::string>>
        table;
    return table;
}

qelthreads::mutex_base<1>& CacheMutex() {
    static qelthreads::mutex_base<1> mutex;
    return mutex;
}

// Constructed in this order so that both tables outlive the lock's users.
struct Statics {
    Statics() {
        IdToString();
        StringToId();
        CacheMutex();
    }
};

void MakeStatics() { static Statics const statics; }

}  // namespace

unsigned short PropertyNameCache::GenerateId(Utility::LightString_Base<char> const& p_name) {
    MakeStatics();
    std::lock_guard<qelthreads::mutex_base<1>> lock(CacheMutex());
    std::string const text = p_name.ToString();
    auto const found = StringToId().find(text);
    if (found != StringToId().end()) {
        return found->second;
    }
    unsigned short const newId = static_cast<unsigned short>(IdToString().size());
    if (!(IdToString().size() < std::numeric_limits<unsigned short>::max())) {
        FailEnsure(Report::TooManyPropertyNames);
    }
    IdToString().push_back(p_name);
    try {
        StringToId().insert(std::make_pair(text, newId));
    } catch (...) {
        IdToString().pop_back();  // both tables stay in step
        throw;
    }
    return newId;
}

Utility::LightString_Base<char> const& PropertyNameCache::FindName(unsigned short p_id) {
    MakeStatics();
    std::lock_guard<qelthreads::mutex_base<1>> lock(CacheMutex());
    if (!(p_id < IdToString().size())) {
        FailEnsure(Report::UnknownPropertyNameId);
    }
    return IdToString()[p_id];
}

std::size_t PropertyNameCache::Count() {
    MakeStatics();
    std::lock_guard<qelthreads::mutex_base<1>> lock(CacheMutex());
    return IdToString().size();
}

}  // namespace PropertyMetaData
}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
