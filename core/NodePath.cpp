#include "NodePath.h"

#include "DebugStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace Qel {
namespace Chart {
namespace Core {

NodePath::NodePath() : _path() {}

NodePath::NodePath(NodePath const& p_other)
    : boost::less_than_comparable<NodePath>(), boost::equality_comparable<NodePath>(), _path(p_other._path) {}

NodePath::NodePath(NodePath&& p_other) noexcept
    : boost::less_than_comparable<NodePath>(), boost::equality_comparable<NodePath>(), _path() {
    _path.Swap(p_other._path);
}

NodePath::NodePath(Utility::LightArray<int> const& p_ids) : _path(p_ids) {}

NodePath::~NodePath() = default;

NodePath& NodePath::operator=(NodePath const& p_other) {
    _path = p_other._path;
    return *this;
}

NodePath& NodePath::operator=(NodePath&& p_other) noexcept {
    if (this != &p_other) {
        _path.Clear();
        _path.Swap(p_other._path);
    }
    return *this;
}

bool NodePath::operator==(NodePath const& p_other) const {
    std::size_t const count = _path.Size();
    if (count != p_other._path.Size()) {
        return false;
    }
    // Paths that share a parent differ, if at all, near their ends.
    for (std::size_t i = count; i > 0; --i) {
        if (_path[i - 1] != p_other._path[i - 1]) {
            return false;
        }
    }
    return true;
}

bool NodePath::operator<(NodePath const& p_other) const {
    std::size_t const count = std::min(_path.Size(), p_other._path.Size());
    for (std::size_t i = 0; i < count; ++i) {
        if (_path[i] != p_other._path[i]) {
            return _path[i] < p_other._path[i];
        }
    }
    return static_cast<std::uint32_t>(_path.Size()) < static_cast<std::uint32_t>(p_other._path.Size());
}

int const* NodePath::Begin() const { return _path.Begin(); }

int const* NodePath::End() const { return _path.End(); }

int NodePath::Count() const { return static_cast<int>(_path.Size()); }

bool NodePath::IsDefined() const { return !_path.Empty(); }

int NodePath::NodeId() const {
    if (_path.Empty()) {
        Private::FailEnsure(Private::Report::NodeIdOfEmptyPath);
    }
    return _path[_path.Size() - 1];
}

NodePath NodePath::Parent() const {
    if (_path.Empty()) {
        Private::FailEnsure(Private::Report::ParentOfEmptyPath);
    }
    NodePath parent;
    std::size_t const count = _path.Size() - 1;
    // One block of exactly the parent's ids; none for the parent of a one-id path.
    parent._path.Resize(count);
    std::copy(_path.Begin(), _path.Begin() + count, parent._path.Begin());
    return parent;
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::NodePath const& p_path) {
    for (int const* id = p_path.Begin(); id != p_path.End(); ++id) {
        // Each id follows its separator, the first one the empty string: a
        // width set on the stream pads that empty separator, not the first id.
        p_stream << (id == p_path.Begin() ? "" : ".") << *id;
    }
    return p_stream;
}
