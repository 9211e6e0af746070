#include "ChartUtility.h"

namespace Qel {
namespace Chart {
namespace Utility {

Exception::Exception(std::string const& p_message) : std::exception(), _message(p_message) {}
Exception::Exception(Exception const& p_other) : std::exception(p_other), _message(p_other._message) {}
Exception& Exception::operator=(Exception const& p_other) {
    std::exception::operator=(p_other);
    _message = p_other._message;
    return *this;
}
Exception::~Exception() = default;
char const* Exception::what() const noexcept { return _message.c_str(); }

qeldebug::logger& GetLogger() { return qeldebug::logger::instance(); }

DebugStreamBuf::DebugStreamBuf(qeldebug::dbgostream const& p_stream) : _stream(p_stream) {}
DebugStreamBuf::~DebugStreamBuf() = default;

DebugStreamBuf::int_type DebugStreamBuf::overflow(int_type p_char) {
    if (traits_type::eq_int_type(p_char, traits_type::eof())) {
        return traits_type::not_eof(p_char);
    }
    if (_stream.active()) {
        // The debug stream itself completes a line at every '\n'.
        _stream.buffer().put(traits_type::to_char_type(p_char));
    }
    return p_char;
}

std::streamsize DebugStreamBuf::xsputn(char const* p_text, std::streamsize p_count) {
    if (_stream.active()) {
        _stream.buffer().write(p_text, p_count);
    }
    return p_count;
}

TypeInfo::TypeInfo() : _type(&typeid(void)) {}
TypeInfo::TypeInfo(std::type_info const& p_type) : _type(&p_type) {}

}  // namespace Utility
}  // namespace Chart
}  // namespace Qel

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Utility::LightString_Base<char> const& p_string) {
    std::size_t length = 0;
    char const* chars = Qel::Chart::Utility::LightString_Base<char>::GetPtr(p_string, length);
    if (chars != nullptr && length != 0) {
        p_stream.write(chars, static_cast<std::streamsize>(length));
    }
    return p_stream;
}
