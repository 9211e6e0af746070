// A weak handle to a modifiable object.
#ifndef QEL_CORE_MODIFIABLEPTR_H
#define QEL_CORE_MODIFIABLEPTR_H

#include "IModifiable.h"
#include "QelCoreExport.h"

namespace Qel {
namespace Chart {
namespace Core {

/// Gives access to a modifiable object while its node lives, without owning
/// it: copies add weak references only. Test it with `operator bool` before
/// `->` when it may have expired.
class QELCORE_API ModifiablePtr {
public:
    ModifiablePtr() noexcept;
    /// Refuses an expired identifier through the "Cannot pass an expired pointer" assertion.
    ModifiablePtr(IModifiable::Identifier p_id);  // NOLINT: implicit by design
    ModifiablePtr(ModifiablePtr const& p_other) noexcept;
    ModifiablePtr& operator=(ModifiablePtr const& p_other) noexcept;
    ~ModifiablePtr();

    /// True while the object's node lives.
    operator bool() const noexcept { return !_id.Expired(); }
    /// The object, or null once expired.
    IModifiable* operator->() noexcept { return _id.Get(); }
    IModifiable const* operator->() const noexcept { return _id.Get(); }
    IModifiable::Identifier const& Id() const noexcept { return _id; }

private:
    IModifiable::Identifier _id;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
