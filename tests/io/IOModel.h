// Node classes and a sample model for the IO tests, the IO fuzzer and its
// corpus: every value type, references of both kinds, dependents.
#ifndef QEL_TESTS_IOMODEL_H
#define QEL_TESTS_IOMODEL_H

#include <QelChartIO.h>

#include <cstdio>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qeliotest {

using namespace Qel::Chart::Core;
namespace IO = Qel::Chart::IO;

/// A client value type, saved as "#rrggbb".
struct Colour {
    unsigned char _red;
    unsigned char _green;
    unsigned char _blue;
    bool operator==(Colour const& p_other) const {
        return _red == p_other._red && _green == p_other._green && _blue == p_other._blue;
    }
};

inline std::ostream& operator<<(std::ostream& p_stream, Colour const& p_colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", p_colour._red, p_colour._green, p_colour._blue);
    return p_stream << text;
}

/// A property of every built-in value type and the client one, and both kinds of reference.
class Everything : public Node {
public:
    Property<bool> _bool{*this, "bool", true};
    Property<int> _int{*this, "int"};
    Property<unsigned> _unsigned{*this, "unsigned"};
    Property<long long> _longLong{*this, "long long"};
    Property<unsigned long long> _unsignedLongLong{*this, "unsigned long long"};
    Property<float> _float{*this, "float"};
    Property<double> _double{*this, "double", 2.5};
    Property<std::string> _string{*this, "string"};
    Property<Colour> _colour{*this, "colour"};
    ExplicitRef _one{*this, "one"};
    ExplicitRefList _many{*this, "many"};
};

/// A node with a default value: one that a document leaves out must be undefined after loading.
class Plain : public Node {
public:
    Property<double> _x{*this, "x", 1.0};
    ExplicitRef _next{*this, "next"};
};

/// Two of them may point at each other; each depends on what it points at.
class Mutual : public Node {
public:
    TypedRef<Mutual> _other{*this, "other", RefLink::Dependent};
    TypedRefList<Plain> _plains{*this, "plains", RefLink::Dependent};
};

/// Registers the classes and the colour codec, once per process.
inline void RegisterModel() {
    static bool const registered = [] {
        IO::RegisterClass<Everything>("Everything");
        IO::RegisterClass<Plain>("Plain");
        IO::RegisterClass<Mutual>("Mutual");
        IO::RegisterValue<Colour>(
            "colour",
            [](Colour const& p_colour) {
                char text[8];
                std::snprintf(text, sizeof text, "#%02x%02x%02x", p_colour._red, p_colour._green, p_colour._blue);
                return nlohmann::json(text);
            },
            [](nlohmann::json const& p_value) {
                unsigned red = 0, green = 0, blue = 0;
                char end = 0;
                if (!p_value.is_string() || p_value.get_ref<std::string const&>().size() != 7 ||
                    std::sscanf(p_value.get_ref<std::string const&>().c_str(), "#%2x%2x%2x%c", &red, &green, &blue,
                                &end) != 3) {
                    throw std::invalid_argument("expected a colour \"#rrggbb\", found " + p_value.dump());
                }
                return Colour{static_cast<unsigned char>(red), static_cast<unsigned char>(green),
                              static_cast<unsigned char>(blue)};
            });
        return true;
    }();
    (void)registered;
}

template <class T>
Ptr<T> Named(std::string const& p_name) {
    Ptr<T> node = Node::Create<T>();
    Accessors::NodeAccess(node).SetName(p_name);
    return node;
}

/// The sample: roots `full` and `empty`; `shared`, reached through both
/// roots' references, and `tail`, reached only through a dependents list.
/// `owners` keeps those two alive; `gone` ended after it was referenced and
/// listed, leaving an expired entry in both.
struct Sample {
    std::vector<Ptr<Node>> _roots;
    std::vector<Ptr<Node>> _owners;
};

inline Sample MakeSample() {
    RegisterModel();
    Ptr<Everything> full = Named<Everything>("full / ~ \"ü\"");
    Ptr<Everything> empty = Named<Everything>("empty");
    Ptr<Plain> shared = Named<Plain>("shared");
    Ptr<Plain> tail = Node::Create<Plain>();
    Ptr<Plain> gone = Named<Plain>("gone");

    full->_bool.Set(false);
    full->_int.Set(std::numeric_limits<int>::min());
    full->_unsigned.Set(std::numeric_limits<unsigned>::max());
    full->_longLong.Set(std::numeric_limits<long long>::min());
    full->_unsignedLongLong.Set(std::numeric_limits<unsigned long long>::max());
    full->_float.Set(0.1f);
    full->_double.Set(-0.0);
    full->_string.Set("tab\t, quote \", unicode \xe2\x82\xac");
    full->_colour.Set(Colour{0x12, 0xab, 0xff});
    Accessors::NodeAccess(full).SetUserTag(7);
    // `empty` keeps its values undefined, its one default included.
    empty->_bool.ResetValue();
    empty->_double.ResetValue();
    shared->_x.Set(1e-300);
    tail->_x.ResetValue();

    full->_one.Attach(shared);
    empty->_one.Attach(shared);
    full->_many.Attach(gone);
    full->_many.Attach(empty);
    full->_many.Attach(shared);
    shared->_next.Attach(shared);  // a reference to itself

    full->Deps().Insert(*empty);  // a cycle: full -> empty -> full
    empty->Deps().Insert(*full);
    full->Deps().Insert(*gone);
    full->Deps().Insert(*empty);  // listed twice
    shared->Deps().Insert(*tail);
    gone = Ptr<Plain>();

    return Sample{{full, empty}, {shared, tail}};
}

}  // namespace qeliotest

#endif
