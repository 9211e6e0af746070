// How a walk treats an object that it reaches along more than one path.
#ifndef QEL_CORE_PROPAGATION_H
#define QEL_CORE_PROPAGATION_H

#include "QelCoreExport.h"

namespace Qel {
namespace Chart {
namespace Core {

/// `EveryPath` (the default) touches an object once for every path that
/// reaches it, as the walk is specified. `OncePerObject` touches every
/// reachable live object exactly once per walk, at its first reach in the
/// same depth-first order and with that reach's relationship; later reaches
/// are skipped with everything below them. Cost linear in objects plus
/// entries, no allocation once warmed up.
enum class Propagation { EveryPath, OncePerObject };

/// Sets the propagation of the walks started on this thread while it lives;
/// scopes nest, and the previous choice comes back when one ends. A walk
/// keeps the choice that was current when it started.
class QELCORE_API PropagationScope {
public:
    explicit PropagationScope(Propagation p_propagation) noexcept;
    ~PropagationScope();
    PropagationScope(PropagationScope const&) = delete;
    PropagationScope& operator=(PropagationScope const&) = delete;

    /// The choice in force on this thread.
    static Propagation Current() noexcept;

private:
    Propagation _previous;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
