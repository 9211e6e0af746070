#include "ExplicitRefMap.h"

#include "DebugStream.h"
#include "NamedTable.h"
#include "Node.h"

namespace Qel {
namespace Chart {
namespace Core {

void IExplicitRef::RegisterOn(Node& p_owner, IExplicitRef& p_ref) { p_owner._explicitRefMap.Register(p_ref); }

void IExplicitRef::UnregisterFrom(Node& p_owner, IExplicitRef const& p_ref, char const* p_text) noexcept {
    if (p_owner.IsDeallocated()) {
        return;  // the node is being deleted: its table goes with it
    }
    // One that was refused a place (a duplicate name) has nothing to report.
    bool removed = false;
    try {
        removed = p_owner._explicitRefMap.Unregister(p_ref);
    } catch (...) {
        // Erasing a pointer from within the table does not throw.
    }
    if (removed) {
        Private::ReportEndedEarly(p_owner, p_text);
    }
}

ExplicitRefMap::ExplicitRefMap(ExplicitRefMap const& p_other) : _refs(p_other._refs) {}
ExplicitRefMap& ExplicitRefMap::operator=(ExplicitRefMap const& p_other) {
    _refs = p_other._refs;  // LightArray's assignment copies, then frees the old block
    return *this;
}

std::uint64_t ExplicitRefMap::Size() const { return _refs.Size(); }

void ExplicitRefMap::Register(IExplicitRef& p_ref) {
    Private::AppendUniqueName(_refs, p_ref, Private::ReportText(Private::Report::ExplicitRefNameTaken));
}

bool ExplicitRefMap::Unregister(IExplicitRef const& p_ref) { return Private::EraseEntry(_refs, &p_ref); }

int ExplicitRefMap::Find(std::string const& p_name) const { return Private::FindByName(_refs, p_name); }

IExplicitRef& ExplicitRefMap::Get(std::string const& p_name) const {
    int const idx = Find(p_name);
    if (idx == -1) {
        Private::FailEnsure(Private::Report::ExplicitRefNameNotFound);
    }
    return *_refs[static_cast<std::size_t>(idx)];
}

IExplicitRef& ExplicitRefMap::Get(std::uint64_t p_index) const {
    if (p_index >= _refs.Size()) {
        Private::FailEnsure(Private::Report::ExplicitRefIndexOutOfRange);
    }
    return *_refs[static_cast<std::size_t>(p_index)];
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
