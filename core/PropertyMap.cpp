#include "PropertyMap.h"

#include "DebugStream.h"
#include "NamedTable.h"
#include "PropertyCreator.h"

#include <climits>

namespace Qel {
namespace Chart {
namespace Core {

void IProperty::RegisterOn(Node& p_owner, IProperty& p_property) {
    PropertyCreator::CreatePropertyEntry(p_owner, p_property);
}

void IProperty::UnregisterFrom(Node& p_owner, IProperty const& p_property, char const* p_text) noexcept {
    PropertyCreator::RemovePropertyEntry(p_owner, p_property, p_text);
}

std::uint64_t PropertyMap::Size() const { return _properties.Size(); }

void PropertyMap::Create(IProperty& p_property) {
    Private::AppendUniqueName(_properties, p_property, Private::ReportText(Private::Report::PropertyNameTaken));
}

bool PropertyMap::Remove(IProperty const& p_property) { return Private::EraseEntry(_properties, &p_property); }

int PropertyMap::Find(std::string const& p_name) const { return Private::FindByName(_properties, p_name); }

IProperty& PropertyMap::Get(std::string const& p_name) const {
    int const index = Find(p_name);
    if (index == -1) {
        char const* const where = Private::ReportText(Private::Report::PropertyNameNotFound);
        Utility::GetLogger().sentry(where);
        // No property can stand in for the missing one.
        throw qeldebug::check_failed(where);
    }
    return *_properties[static_cast<std::size_t>(index)];
}

IProperty& PropertyMap::Get(std::uint64_t p_index) const {
    std::uint64_t const size = _properties.Size();
    if (p_index >= size) {
        char const* const text = Private::ReportText(Private::Report::PropertyIndexOutOfRange);
        // Indices past INT_MAX are shown as INT_MAX so that the report never
        // shows a wrapped index that looks valid.
        int const shown = p_index > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(p_index);
        Utility::GetLogger().chkrng(0, static_cast<int>(size), shown, text);
        throw qeldebug::check_failed(text);
    }
    return *_properties[static_cast<std::size_t>(p_index)];
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
