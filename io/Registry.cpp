#include "Registry.h"

#include <boost/core/demangle.hpp>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>

namespace Qel {
namespace Chart {
namespace IO {

SaveError::SaveError(std::string const& p_text) : std::runtime_error(p_text) {}
SaveError::SaveError(SaveError const& p_other) noexcept = default;
SaveError& SaveError::operator=(SaveError const& p_other) noexcept = default;
SaveError::~SaveError() = default;

LoadError::LoadError(std::string p_pointer, std::string p_cause)
    : std::runtime_error("at \"" + p_pointer + "\": " + p_cause),
      _pointer(std::move(p_pointer)),
      _cause(std::move(p_cause)) {}
LoadError::LoadError(LoadError const& p_other) = default;
LoadError& LoadError::operator=(LoadError const& p_other) = default;
LoadError::~LoadError() = default;

namespace Private {
namespace {

using nlohmann::json;

// The built-in codecs. A value that does not fit throws; the load reports
// the text at the value's place.
std::string Found(json const& p_value) { return std::string(p_value.type_name()); }

template <class T>
T Integer(json const& p_value, char const* p_name) {
    if (p_value.is_number_unsigned()) {
        auto const value = p_value.get<std::uint64_t>();
        if (value <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            return static_cast<T>(value);
        }
        throw std::out_of_range(std::to_string(value) + " is out of range for " + p_name);
    }
    if (p_value.is_number_integer()) {
        auto const value = p_value.get<std::int64_t>();
        if (std::numeric_limits<T>::is_signed && value >= static_cast<std::int64_t>(std::numeric_limits<T>::min()) &&
            value <= static_cast<std::int64_t>(std::numeric_limits<T>::max())) {
            return static_cast<T>(value);
        }
        throw std::out_of_range(std::to_string(value) + " is out of range for " + p_name);
    }
    throw std::invalid_argument(std::string("expected an integer for ") + p_name + ", found " + Found(p_value));
}

// JSON has no NaN or infinities: they are saved as these strings.
json SaveFloating(double p_value) {
    if (std::isnan(p_value)) {
        return "nan";
    }
    if (std::isinf(p_value)) {
        return p_value > 0 ? "inf" : "-inf";
    }
    return p_value;
}

template <class T>
T LoadFloating(json const& p_value, char const* p_name) {
    if (p_value.is_string()) {
        std::string const& text = p_value.get_ref<std::string const&>();
        if (text == "nan") {
            return std::numeric_limits<T>::quiet_NaN();
        }
        if (text == "inf" || text == "-inf") {
            return text == "inf" ? std::numeric_limits<T>::infinity() : -std::numeric_limits<T>::infinity();
        }
        throw std::invalid_argument(std::string("expected a number, \"nan\", \"inf\" or \"-inf\" for ") + p_name +
                                    ", found \"" + text + "\"");
    }
    if (!p_value.is_number()) {
        throw std::invalid_argument(std::string("expected a number for ") + p_name + ", found " + Found(p_value));
    }
    double const value = p_value.get<double>();
    if (std::fabs(value) > static_cast<double>(std::numeric_limits<T>::max())) {
        throw std::out_of_range(p_value.dump() + " is out of range for " + p_name);
    }
    return static_cast<T>(value);
}

struct Tables {
    std::mutex mutex;
    std::deque<ClassEntry> classes;
    std::deque<ValueEntry> values;
    std::unordered_map<std::type_index, ClassEntry const*> classByType;
    std::unordered_map<std::string, ClassEntry const*> classByName;
    std::unordered_map<std::type_index, ValueEntry const*> valueByType;
    std::unordered_map<std::string, ValueEntry const*> valueByName;
    std::deque<ClassNamer> namers;
    std::unordered_map<std::type_index, ClassNamer const*> namerByType;

    Tables() {
        AddValue<bool>(
            "bool", [](bool p_value) { return json(p_value); },
            [](json const& p_value) {
                if (!p_value.is_boolean()) {
                    throw std::invalid_argument("expected true or false, found " + Found(p_value));
                }
                return p_value.get<bool>();
            });
        AddValue<int>(
            "int", [](int p_value) { return json(p_value); },
            [](json const& p_value) { return Integer<int>(p_value, "int"); });
        AddValue<unsigned>(
            "unsigned", [](unsigned p_value) { return json(p_value); },
            [](json const& p_value) { return Integer<unsigned>(p_value, "unsigned"); });
        AddValue<long long>(
            "long long", [](long long p_value) { return json(p_value); },
            [](json const& p_value) { return Integer<long long>(p_value, "long long"); });
        AddValue<unsigned long long>(
            "unsigned long long", [](unsigned long long p_value) { return json(p_value); },
            [](json const& p_value) { return Integer<unsigned long long>(p_value, "unsigned long long"); });
        AddValue<float>(
            "float", [](float p_value) { return SaveFloating(p_value); },
            [](json const& p_value) { return LoadFloating<float>(p_value, "float"); });
        AddValue<double>(
            "double", [](double p_value) { return SaveFloating(p_value); },
            [](json const& p_value) { return LoadFloating<double>(p_value, "double"); });
        AddValue<std::string>(
            "string", [](std::string const& p_value) { return json(p_value); },
            [](json const& p_value) {
                if (!p_value.is_string()) {
                    throw std::invalid_argument("expected a string, found " + Found(p_value));
                }
                return p_value.get<std::string>();
            });
    }

    template <class T, class S, class L>
    void AddValue(char const* p_name, S p_save, L p_load) {
        Value(
            typeid(T), p_name,
            [p_save](boost::any const& p_value) { return p_save(boost::any_cast<T const&>(p_value)); },
            [p_load](json const& p_value) { return boost::any(p_load(p_value)); });
    }

    void Value(std::type_info const& p_type, std::string p_name, ValueSaver p_save, ValueLoader p_load) {
        if (p_name.empty()) {
            throw std::invalid_argument("IO::RegisterValue: a value type needs a name");
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (auto const known = valueByType.find(p_type); known != valueByType.end()) {
            throw std::invalid_argument("IO::RegisterValue: type " + boost::core::demangle(p_type.name()) +
                                        " has a codec already, named '" + known->second->name + "'");
        }
        if (valueByName.count(p_name) != 0) {
            throw std::invalid_argument("IO::RegisterValue: the name '" + p_name + "' is taken already");
        }
        values.push_back(ValueEntry{&p_type, std::move(p_name), std::move(p_save), std::move(p_load)});
        ValueEntry const& entry = values.back();
        valueByType.emplace(p_type, &entry);
        valueByName.emplace(entry.name, &entry);
    }

    // p_type null: a class known by name alone.
    void Class(std::type_info const* p_type, std::string p_name, NodeFactory p_factory) {
        if (p_name.empty()) {
            throw std::invalid_argument("IO::RegisterClass: a class needs a name");
        }
        if (!p_factory) {
            throw std::invalid_argument("IO::RegisterClass: the class '" + p_name + "' needs a factory");
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (p_type != nullptr) {
            if (auto const known = classByType.find(*p_type); known != classByType.end()) {
                throw std::invalid_argument("IO::RegisterClass: class " + boost::core::demangle(p_type->name()) +
                                            " is registered already, as '" + known->second->name + "'");
            }
        }
        if (classByName.count(p_name) != 0) {
            throw std::invalid_argument("IO::RegisterClass: the name '" + p_name + "' is taken already");
        }
        classes.push_back(ClassEntry{p_type, std::move(p_name), std::move(p_factory)});
        ClassEntry const& entry = classes.back();
        if (p_type != nullptr) {
            classByType.emplace(*p_type, &entry);
        }
        classByName.emplace(entry.name, &entry);
    }

    void Namer(std::type_info const& p_type, ClassNamer p_nameOf) {
        if (!p_nameOf) {
            throw std::invalid_argument("IO::RegisterClassNamer: class " + std::string(p_type.name()) +
                                        " needs a function");
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (namerByType.count(p_type) != 0) {
            throw std::invalid_argument("IO::RegisterClassNamer: class " + std::string(p_type.name()) +
                                        " has a namer already");
        }
        namers.push_back(std::move(p_nameOf));
        namerByType.emplace(p_type, &namers.back());
    }

    template <class Map, class Key>
    typename Map::mapped_type Find(Map const& p_map, Key const& p_key) {
        std::lock_guard<std::mutex> lock(mutex);
        auto const found = p_map.find(p_key);
        return found == p_map.end() ? nullptr : found->second;
    }
};

Tables& TheTables() {
    static Tables tables;
    return tables;
}

}  // namespace

void RegisterClass(std::type_info const& p_type, std::string p_name, NodeFactory p_factory) {
    TheTables().Class(&p_type, std::move(p_name), std::move(p_factory));
}

void RegisterValue(std::type_info const& p_type, std::string p_name, ValueSaver p_save, ValueLoader p_load) {
    TheTables().Value(p_type, std::move(p_name), std::move(p_save), std::move(p_load));
}

bool IsClassRegistered(std::type_info const& p_type) { return FindClass(p_type) != nullptr; }

ClassEntry const* FindClass(std::type_info const& p_type) {
    Tables& tables = TheTables();
    return tables.Find(tables.classByType, std::type_index(p_type));
}
ClassEntry const* FindClass(std::string const& p_name) {
    Tables& tables = TheTables();
    return tables.Find(tables.classByName, p_name);
}
ValueEntry const* FindValue(std::type_info const& p_type) {
    Tables& tables = TheTables();
    return tables.Find(tables.valueByType, std::type_index(p_type));
}
ClassNamer const* FindNamer(std::type_info const& p_type) {
    Tables& tables = TheTables();
    return tables.Find(tables.namerByType, std::type_index(p_type));
}
ValueEntry const* FindValue(std::string const& p_name) {
    Tables& tables = TheTables();
    return tables.Find(tables.valueByName, p_name);
}

}  // namespace Private

bool IsClassRegistered(std::string_view p_name) { return Private::FindClass(std::string(p_name)) != nullptr; }

void RegisterClass(std::string p_name, std::function<Core::Ptr<Core::Node>()> p_factory) {
    Private::TheTables().Class(nullptr, std::move(p_name), std::move(p_factory));
}

void RegisterClassNamer(std::type_info const& p_type, std::function<std::string(Core::Node const&)> p_nameOf) {
    Private::TheTables().Namer(p_type, std::move(p_nameOf));
}

}  // namespace IO
}  // namespace Chart
}  // namespace Qel
