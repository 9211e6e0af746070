#include "Stringifiers.h"

namespace Qel {
namespace Chart {
namespace Core {

std::wstring Stringifiers::StringToWString(std::string const& p_string) {
    std::wstring result(p_string.size(), L'\0');
    for (std::size_t i = 0; i < p_string.size(); ++i) {
        result[i] = static_cast<wchar_t>(static_cast<signed char>(p_string[i]));
    }
    return result;
}

std::string Stringifiers::WStringToString(std::wstring const& p_string) {
    std::string result(p_string.size(), '\0');
    for (std::size_t i = 0; i < p_string.size(); ++i) {
        result[i] = static_cast<char>(static_cast<unsigned char>(static_cast<unsigned long>(p_string[i]) & 0xFFu));
    }
    return result;
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

std::istream& operator>>(std::istream& p_stream, std::wstring& p_string) {
    std::string word;
    p_stream >> word;
    p_string = Qel::Chart::Core::Stringifiers::StringToWString(word);
    return p_stream;
}

std::ostream& operator<<(std::ostream& p_stream, std::wstring const& p_string) {
    return p_stream << Qel::Chart::Core::Stringifiers::WStringToString(p_string);
}
