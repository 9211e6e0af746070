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

// Both tables and their lock. A deque keeps entries where they are as it
// grows, so references handed out by FindName never dangle.
struct Tables {
    std::deque<Utility::LightString_Base<char>> idToString;
    boost::unordered_map<std::string, unsigned short, boost::hash<std::string>, std::equal_to<std::string>> stringToId;
    qelthreads::mutex_base<1> mutex;
};

// Never destroyed: a client's static may intern or look up a name in its
// destructor, in whatever order the statics of the process end.
Tables& TheTables() {
    alignas(Tables) static unsigned char storage[sizeof(Tables)];
    static Tables* const tables = ::new (static_cast<void*>(storage)) Tables();
    return *tables;
}

// Built when the library loads, before any client code runs.
Tables& g_builtAtLoad = TheTables();

}  // namespace

unsigned short PropertyNameCache::GenerateId(Utility::LightString_Base<char> const& p_name) {
    Tables& tables = TheTables();
    std::lock_guard<qelthreads::mutex_base<1>> lock(tables.mutex);
    std::string const text = p_name.ToString();
    auto const found = tables.stringToId.find(text);
    if (found != tables.stringToId.end()) {
        return found->second;
    }
    unsigned short const newId = static_cast<unsigned short>(tables.idToString.size());
    if (!(tables.idToString.size() < std::numeric_limits<unsigned short>::max())) {
        FailEnsure(Report::TooManyPropertyNames);
    }
    tables.idToString.push_back(p_name);
    try {
        tables.stringToId.insert(std::make_pair(text, newId));
    } catch (...) {
        tables.idToString.pop_back();  // both tables stay in step
        throw;
    }
    return newId;
}

Utility::LightString_Base<char> const& PropertyNameCache::FindName(unsigned short p_id) {
    Tables& tables = TheTables();
    std::lock_guard<qelthreads::mutex_base<1>> lock(tables.mutex);
    if (!(p_id < tables.idToString.size())) {
        FailEnsure(Report::UnknownPropertyNameId);
    }
    return tables.idToString[p_id];
}

std::size_t PropertyNameCache::Count() {
    Tables& tables = TheTables();
    std::lock_guard<qelthreads::mutex_base<1>> lock(tables.mutex);
    return tables.idToString.size();
}

}  // namespace PropertyMetaData
}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
