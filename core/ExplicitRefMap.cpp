#include "ExplicitRefMap.h"

#include "DebugStream.h"
#include "Node.h"

namespace Qel {
namespace Chart {
namespace Core {

void IExplicitRef::RegisterOn(Node& p_owner, IExplicitRef& p_ref) { p_owner._explicitRefMap.Register(p_ref); }

ExplicitRefMap::ExplicitRefMap() noexcept : _refs() {}
ExplicitRefMap::ExplicitRefMap(ExplicitRefMap const& p_other) : _refs(p_other._refs) {}
ExplicitRefMap& ExplicitRefMap::operator=(ExplicitRefMap const& p_other) {
    _refs = p_other._refs;  // LightArray's assignment copies, then frees the old block
    return *this;
}
ExplicitRefMap::~ExplicitRefMap() = default;

std::uint64_t ExplicitRefMap::Size() const { return _refs.Size(); }

void ExplicitRefMap::Register(IExplicitRef& p_ref) {
    if (Find(p_ref.Name()) != -1) {
        char const* const text =
            "\"(Find(p_ref.Name()) == -1) && \"Explicit Ref of the given name is already registered!\"\" - void "
            "__cdecl Qel::Chart::Core::ExplicitRefMap::Register(class Qel::Chart::Core::IExplicitRef &)";
        bool const outcome = Find(p_ref.Name()) == -1;
        Utility::GetLogger().ensure(outcome, text);
        throw qeldebug::check_failed(text);
    }
    _refs.Append(&p_ref);
}

int ExplicitRefMap::Find(std::string const& p_name) const {
    std::size_t const count = _refs.Size();
    for (std::size_t i = 0; i < count; ++i) {
        if (_refs[i]->Name() == p_name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

IExplicitRef& ExplicitRefMap::Get(std::string const& p_name) const {
    int const idx = Find(p_name);
    if (idx == -1) {
        Private::FailEnsure(
            "\"(idx != -1) && \"Failed to find Explicit Ref with given name!\"\" - class "
            "Qel::Chart::Core::IExplicitRef &__cdecl Qel::Chart::Core::ExplicitRefMap::Get(const class "
            "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const");
    }
    return *_refs[static_cast<std::size_t>(idx)];
}

IExplicitRef& ExplicitRefMap::Get(std::uint64_t p_index) const {
    if (p_index >= _refs.Size()) {
        Private::FailEnsure(
            "\"p_index >= 0 && p_index < _refs.Size()\" - class Qel::Chart::Core::IExplicitRef &__cdecl "
            "Qel::Chart::Core::ExplicitRefMap::Get(const unsigned __int64) const");
    }
    return *_refs[static_cast<std::size_t>(p_index)];
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
