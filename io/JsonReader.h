// Parsing a document within the limits that IO::Load states (internal).
#ifndef QEL_IO_JSONREADER_H
#define QEL_IO_JSONREADER_H

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace Qel {
namespace Chart {
namespace IO {
namespace Private {

/// The value of `p_text`, built without recursion. Malformed JSON, a
/// duplicate key, more than `kMaxValues` values or nesting deeper than
/// `kMaxDepth` throw `LoadError` at the place where the parser was.
nlohmann::json ReadJson(std::string_view p_text);

/// `p_token` as one reference token of a JSON pointer: "~" as "~0", "/" as "~1".
std::string PointerToken(std::string const& p_token);

}  // namespace Private
}  // namespace IO
}  // namespace Chart
}  // namespace Qel

#endif
