// Process-wide interning of property names as 16-bit ids.
#ifndef QEL_CORE_PROPERTYNAMECACHE_H
#define QEL_CORE_PROPERTYNAMECACHE_H

#include "QelCoreExport.h"

#include "LightString.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {
namespace PropertyMetaData {

/// Hands out a dense 16-bit id for each distinct name (compared byte for
/// byte) and turns ids back into names. At most 65,535 names; nothing is
/// ever removed. Every call takes the cache's own lock.
///
/// Stored names live at stable addresses: a reference returned by
/// `FindName` stays valid for the life of the process.
class QELCORE_API PropertyNameCache {
public:
    PropertyNameCache& operator=(PropertyNameCache const&) { return *this; }

    /// The id of `p_name`, interning it first if it is new. The 65,536th
    /// distinct name fails the check and is not added.
    static unsigned short GenerateId(Utility::LightString_Base<char> const& p_name);
    /// The name whose id is `p_id`; an id never issued fails the check.
    static Utility::LightString_Base<char> const& FindName(unsigned short p_id);

    /// The number of names interned so far.
    static std::size_t Count();

private:
    PropertyNameCache() = delete;
};

}  // namespace PropertyMetaData
}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
