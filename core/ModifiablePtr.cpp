#include "ModifiablePtr.h"

namespace Qel {
namespace Chart {
namespace Core {

char const* const Private::kExpiredPointerText =
    "\"!p_id.Expired() && \"Cannot pass an expired pointer\"\" - __cdecl "
    "Qel::Chart::Core::ModifiablePtr::ModifiablePtr(class Qel::Chart::Core::IModifiable::Identifier)";

ModifiablePtr::ModifiablePtr() noexcept : _id() {}

// The identifier is taken by value, as the handle's interface promises.
ModifiablePtr::ModifiablePtr(IModifiable::Identifier p_id) : _id(p_id) {  // NOLINT(performance-unnecessary-value-param)
    if (p_id.Expired()) {
        Private::ReportEnsure(Private::kExpiredPointerText);
    }
}

ModifiablePtr::ModifiablePtr(ModifiablePtr const& p_other) noexcept : _id(p_other._id) {}

ModifiablePtr& ModifiablePtr::operator=(ModifiablePtr const& p_other) noexcept {
    // boost::weak_ptr's assignment takes the new count before it drops the old.
    _id = p_other._id;
    return *this;
}

ModifiablePtr::~ModifiablePtr() = default;

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
