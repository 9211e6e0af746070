#include "Ptr.h"

namespace Qel {
namespace Chart {
namespace Core {

NullPtrException::NullPtrException(char const* p_text) : Utility::Exception(std::string(p_text)) {}
NullPtrException::NullPtrException(NullPtrException const& p_other) : Utility::Exception(p_other) {}
NullPtrException& NullPtrException::operator=(NullPtrException const& p_other) {
    Utility::Exception::operator=(p_other);
    return *this;
}
NullPtrException::~NullPtrException() = default;

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
