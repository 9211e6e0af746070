// The utility library of the chart framework: the exception base, the logger
// accessor, a stream buffer over debug streams, a type wrapper, and the
// printing of light strings.
#ifndef QEL_PLATFORM_CHARTUTILITY_H
#define QEL_PLATFORM_CHARTUTILITY_H

#include "LightString.h"
#include "QelUtilityExport.h"
#include "qeldebug.h"

#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <typeinfo>

namespace Qel {
namespace Chart {
namespace Utility {

/// Base of the framework's exceptions; `what()` is the message.
class QELUTILITY_API Exception : public std::exception {
public:
    explicit Exception(std::string const& p_message);
    Exception(Exception const& p_other);
    Exception& operator=(Exception const& p_other);
    ~Exception() override;
    char const* what() const noexcept override;

private:
    std::string _message;
};

/// The process-wide logger; fetch it anew for every report.
QELUTILITY_API qeldebug::logger& GetLogger();

/// A stream buffer that forwards what it receives to a debug stream; every
/// '\n' completes one line of that stream.
class QELUTILITY_API DebugStreamBuf : public std::streambuf {
public:
    explicit DebugStreamBuf(qeldebug::dbgostream const& p_stream);
    ~DebugStreamBuf() override;
    DebugStreamBuf(DebugStreamBuf const&) = delete;
    DebugStreamBuf& operator=(DebugStreamBuf const&) = delete;

protected:
    int_type overflow(int_type p_char) override;
    std::streamsize xsputn(char const* p_text, std::streamsize p_count) override;

private:
    qeldebug::dbgostream _stream;
};

/// A copyable wrapper of `std::type_info`, ordered by `type_info::before`
/// so that it can key ordered containers.
class QELUTILITY_API TypeInfo {
public:
    /// Wraps `typeid(void)`: a value that names no class.
    TypeInfo();
    TypeInfo(std::type_info const& p_type);  // NOLINT: implicit by design, like std::type_index

    std::type_info const& Get() const { return *_type; }
    /// The name as the compiler gives it (`std::type_info::name()`).
    char const* Name() const { return _type->name(); }

    bool operator<(TypeInfo const& p_other) const { return _type->before(*p_other._type); }
    bool operator==(TypeInfo const& p_other) const { return *_type == *p_other._type; }
    bool operator!=(TypeInfo const& p_other) const { return !(*this == p_other); }

private:
    std::type_info const* _type;
};

}  // namespace Utility
}  // namespace Chart
}  // namespace Qel

/// Writes the characters of a light string.
QELUTILITY_API std::ostream& operator<<(std::ostream& p_stream,
                                        Qel::Chart::Utility::LightString_Base<char> const& p_string);

#endif
