#include "DebugStream.h"

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

void ReportEnsure(char const* p_text) { Utility::GetLogger().ensure(false, p_text); }

void FailEnsure(char const* p_text) {
    Utility::GetLogger().ensure(false, p_text);
    throw qeldebug::check_failed(p_text);
}

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel
