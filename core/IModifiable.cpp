#include "IModifiable.h"

namespace Qel {
namespace Chart {
namespace Core {

IModifiable::~IModifiable() {}

// The instantiations the library itself uses, so that their type information
// and code live in this library.
template class Modifiable<0>;
template class Modifiable<1>;
template class Modifiable<2>;

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

using Qel::Chart::Core::IModifiable;

std::ostream& operator<<(std::ostream& p_stream, IModifiable::Change const& p_change) {
    static char const* const texts[] = {"edit", "clear", "add", "remove", "deallocate", "force"};
    p_stream << "change(";
    int const value = static_cast<int>(p_change);
    if (value >= 0 && value <= 5) {
        p_stream << texts[value];
    } else {
        Qel::Chart::Utility::GetLogger().sentry(
            "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
            "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
            "Qel::Chart::Core::IModifiable::Change &) @line78");
    }
    p_stream << ")";
    return p_stream;
}

std::ostream& operator<<(std::ostream& p_stream, IModifiable::ModifiableType const& p_type) {
    static char const* const texts[] = {"node", "property", "explicit-ref"};
    p_stream << "type(";
    int const value = static_cast<int>(p_type);
    if (value >= 0 && value <= 2) {
        p_stream << texts[value];
    } else if (value >= static_cast<int>(IModifiable::TypeUser)) {
        p_stream << "user=";
        p_stream << value;
    } else {
        Qel::Chart::Utility::GetLogger().sentry(
            "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
            "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
            "Qel::Chart::Core::IModifiable::ModifiableType &) @line54");
    }
    p_stream << ")";
    return p_stream;
}

std::ostream& operator<<(std::ostream& p_stream, IModifiable::Relationship const& p_relationship) {
    static char const* const texts[] = {"self", "explicit", "implicit"};
    p_stream << "relationship(";
    int const value = static_cast<int>(p_relationship);
    if (value >= 0 && value <= 2) {
        p_stream << texts[value];
    } else {
        Qel::Chart::Utility::GetLogger().sentry(
            "class std::basic_ostream<char,struct std::char_traits<char> > &__cdecl operator <<(class "
            "std::basic_ostream<char,struct std::char_traits<char> > &,const enum "
            "Qel::Chart::Core::IModifiable::Relationship &) @line33");
    }
    p_stream << ")";
    return p_stream;
}
