// What the node's own files share and no client sees: the one class that may
// reach into a node's private parts for the deleter, the dump and the links.
#ifndef QEL_CORE_NODEINTERNALS_H
#define QEL_CORE_NODEINTERNALS_H

#include "Node.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

// Called as a node's memory of `p_bytes` at `p_block` goes back: the
// once-per-object walks running on the thread forget what they met there.
void NoteNodeMemoryEnded(void const* p_block, std::size_t p_bytes) noexcept;

// The deletion of one node, in its fixed order, and the node line;
// defined beside the deleter and the dump.
class NodeInternals {
public:
    static void DeleteOne(Node* p_node) noexcept;
    static void WriteLine(std::ostream& p_stream, Node const& p_node);
    // "id(..) name(..)", how refusals name a node.
    static std::string Describe(Node const& p_node);

    // The stored name, without a copy.
    static std::string_view StoredName(Node const& p_node) {
        std::size_t length = 0;
        char const* const chars = Utility::LightString_Base<char>::GetPtr(p_node._name, length);
        return chars == nullptr ? std::string_view() : std::string_view(chars, length);
    }

    static PropertyMap const& Properties(Node const& p_node) { return p_node._propertyMap; }
    static ExplicitRefMap const& Refs(Node const& p_node) { return p_node._explicitRefMap; }
};

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
