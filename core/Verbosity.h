// The level of detail of a node dump.
#ifndef QEL_CORE_VERBOSITY_H
#define QEL_CORE_VERBOSITY_H

#include <cstdint>

namespace Qel {
namespace Chart {
namespace Core {

/// Compared by number; each level includes those below it. Values below 0
/// dump as 0, values above 3 as 3.
enum Verbosity : std::int32_t {
    DumpHeader = 0,      ///< the rule line and the node line only
    DumpRefs = 1,        ///< adds the explicit references, each with its own dump
    DumpProperties = 2,  ///< adds the properties with their values
    DumpDependents = 3   ///< adds the dependents
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
