#include "ModifiablePtr.h"

#include "DebugStream.h"

namespace Qel {
namespace Chart {
namespace Core {

ModifiablePtr::ModifiablePtr() noexcept : _id() {}

// The identifier is taken by value, as the handle's interface promises.
ModifiablePtr::ModifiablePtr(IModifiable::Identifier p_id) : _id(p_id) {  // NOLINT(performance-unnecessary-value-param)
    if (p_id.Expired()) {
        Private::ReportEnsure(Private::Report::ExpiredPointer);
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
