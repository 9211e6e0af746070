// Internal: what the property and explicit-reference tables share. Not part
// of the public interface.
#ifndef QEL_CORE_NAMEDTABLE_H
#define QEL_CORE_NAMEDTABLE_H

#include "DebugStream.h"

#include "LightArray.h"

#include <cstddef>
#include <string>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

/// The position of the first entry whose `Name()` equals `p_name` (exact
/// bytes), or -1. Calls `Name()` on each entry until one matches.
/// Drops the first entry that points at `p_entry`; false when there is none.
template <class T>
bool EraseEntry(Utility::LightArray<T*>& p_entries, T const* p_entry) {
    for (std::size_t i = 0; i < p_entries.Size(); ++i) {
        if (p_entries[i] == p_entry) {
            p_entries.Erase(i);  // within the table: it does not throw
            return true;
        }
    }
    return false;
}

template <class T>
int FindByName(Utility::LightArray<T*> const& p_entries, std::string const& p_name) {
    std::size_t const count = p_entries.Size();
    for (std::size_t i = 0; i < count; ++i) {
        if (p_entries[i]->Name() == p_name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

/// Appends `p_entry` (reallocating to the exact new count) unless an entry
/// of its name is there already: then the check is asked once more, fails
/// through `ensure` with `p_text`, and ends the operation; nothing is added.
template <class T>
void AppendUniqueName(Utility::LightArray<T*>& p_entries, T& p_entry, char const* p_text) {
    if (FindByName(p_entries, p_entry.Name()) != -1) {
        bool const outcome = FindByName(p_entries, p_entry.Name()) == -1;
        Utility::GetLogger().ensure(outcome, p_text);
        throw qeldebug::check_failed(p_text);
    }
    p_entries.Append(&p_entry);
}

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
