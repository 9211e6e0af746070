#include "TimeStamp.h"

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::TimeStamp const& p_stamp) {
    p_stream << static_cast<int>(p_stamp.Counter());
    p_stream << "[";
    p_stream << p_stamp.Touched();
    p_stream << "]";
    return p_stream;
}
