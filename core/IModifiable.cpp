#include "IModifiable.h"

#include "ReportTexts.h"

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
using Qel::Chart::Core::Private::Report;

namespace {

// Writes "<prefix>(<text>)"; a value outside the table is reported through
// `sentry` and leaves the parentheses empty. Values from `p_userFrom` on (if
// any) print as "user=<value>".
std::ostream& WriteEnum(std::ostream& p_stream, char const* p_prefix, int p_value, char const* const* p_texts,
                        int p_count, Report p_report, int p_userFrom = -1) {
    // "change(" and the like are one item, so that a field width pads them whole.
    p_stream << (std::string(p_prefix) + "(");
    if (p_value >= 0 && p_value < p_count) {
        p_stream << p_texts[p_value];
    } else if (p_userFrom >= 0 && p_value >= p_userFrom) {
        p_stream << "user=";
        p_stream << p_value;
    } else {
        Qel::Chart::Utility::GetLogger().sentry(Qel::Chart::Core::Private::ReportText(p_report));
    }
    p_stream << ")";
    return p_stream;
}

}  // namespace

std::ostream& operator<<(std::ostream& p_stream, IModifiable::Change const& p_change) {
    static char const* const texts[] = {"edit", "clear", "add", "remove", "deallocate", "force"};
    return WriteEnum(p_stream, "change", static_cast<int>(p_change), texts, 6, Report::UnknownChange);
}

std::ostream& operator<<(std::ostream& p_stream, IModifiable::ModifiableType const& p_type) {
    static char const* const texts[] = {"node", "property", "explicit-ref"};
    return WriteEnum(p_stream, "type", static_cast<int>(p_type), texts, 3, Report::UnknownModifiableType,
                     static_cast<int>(IModifiable::TypeUser));
}

std::ostream& operator<<(std::ostream& p_stream, IModifiable::Relationship const& p_relationship) {
    static char const* const texts[] = {"self", "explicit", "implicit"};
    return WriteEnum(p_stream, "relationship", static_cast<int>(p_relationship), texts, 3, Report::UnknownRelationship);
}
