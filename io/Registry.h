// The process-wide tables of saved classes and value codecs (internal).
#ifndef QEL_IO_REGISTRY_H
#define QEL_IO_REGISTRY_H

#include "QelChartIO.h"

#include <functional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace IO {
namespace Private {

struct ClassEntry {
    std::type_info const* type;  // null for a class registered by name alone
    std::string name;
    NodeFactory factory;
};

struct ValueEntry {
    std::type_info const* type;
    std::string name;
    ValueSaver save;
    ValueLoader load;
};

// Lookups; null when nothing is registered. Entries never move or go, so
// the pointers stay valid and their functions are called without a lock.
ClassEntry const* FindClass(std::type_info const& p_type);
ClassEntry const* FindClass(std::string const& p_name);
ValueEntry const* FindValue(std::type_info const& p_type);
using ClassNamer = std::function<std::string(Core::Node const&)>;
ClassNamer const* FindNamer(std::type_info const& p_type);
ValueEntry const* FindValue(std::string const& p_name);

/// A per-operation memo in front of a lookup, so that a save or load of many
/// nodes of a few classes takes the registry lock once per class or type.
template <class Key, class Entry>
class Memo {
public:
    template <class Find>
    Entry const* Get(Key const& p_key, Find p_find) {
        for (auto const& known : _known) {
            if (known.first == p_key) {
                return known.second;
            }
        }
        Entry const* entry = p_find(p_key);
        if (entry != nullptr) {
            _known.emplace_back(p_key, entry);
        }
        return entry;
    }

private:
    std::vector<std::pair<Key, Entry const*>> _known;
};

}  // namespace Private
}  // namespace IO
}  // namespace Chart
}  // namespace Qel

#endif
