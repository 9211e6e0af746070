#include "JsonReader.h"

#include "QelChartIO.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace IO {
namespace Private {
namespace {

using nlohmann::json;

// A SAX handler that builds the document as nlohmann's own DOM parser does,
// and checks the limits before each value is added. The parser is iterative
// and so is this, so the stack depth does not grow with the nesting.
class LimitedBuilder {
public:
    json& Root() { return _root; }
    LoadError const& Error() const { return _error; }

    // NOLINTBEGIN(readability-identifier-naming): nlohmann's SAX interface names these.
    bool null() { return Put(json(nullptr)) != nullptr; }
    bool boolean(bool p_value) { return Put(json(p_value)) != nullptr; }
    bool number_integer(json::number_integer_t p_value) { return Put(json(p_value)) != nullptr; }
    bool number_unsigned(json::number_unsigned_t p_value) { return Put(json(p_value)) != nullptr; }
    bool number_float(json::number_float_t p_value, json::string_t const&) { return Put(json(p_value)) != nullptr; }
    bool string(json::string_t& p_value) { return Put(json(std::move(p_value))) != nullptr; }
    bool binary(json::binary_t&) { return Fail("binary values are not JSON"); }
    bool start_object(std::size_t) { return Open(json::object()); }
    bool start_array(std::size_t) { return Open(json::array()); }
    bool key(json::string_t& p_key) {
        _levels.back().key = std::move(p_key);
        _levels.back().hasKey = true;
        return true;
    }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, std::string const&, json::exception const& p_error) {
        // "[json.exception.parse_error.101] parse error at line 1, ...": the bracket is noise here.
        std::string text = p_error.what();
        std::size_t const end = text.find("] ");
        if (text.compare(0, 1, "[") == 0 && end != std::string::npos) {
            text.erase(0, end + 2);
        }
        return Fail("malformed JSON: " + text);
    }
    // NOLINTEND(readability-identifier-naming)

private:
    struct Level {
        json* container;
        std::string key;
        bool hasKey;
    };

    bool Open(json&& p_container) {
        if (_levels.size() >= kMaxDepth) {
            return Fail("arrays and objects nest deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        json* container = Put(std::move(p_container));
        if (container == nullptr) {
            return false;
        }
        _levels.push_back(Level{container, std::string(), false});
        return true;
    }

    bool Close() {
        _levels.pop_back();
        return true;
    }

    json* Put(json&& p_value) {
        if (++_values > kMaxValues) {
            Fail("the document has more than " + std::to_string(kMaxValues) + " values");
            return nullptr;
        }
        if (_levels.empty()) {
            _root = std::move(p_value);
            return &_root;
        }
        Level& top = _levels.back();
        if (top.container->is_array()) {
            json::array_t& array = top.container->get_ref<json::array_t&>();
            array.push_back(std::move(p_value));
            return &array.back();
        }
        auto const placed = top.container->get_ref<json::object_t&>().emplace(top.key, std::move(p_value));
        if (!placed.second) {
            Fail("the key \"" + top.key + "\" appears twice");
            return nullptr;
        }
        return &placed.first->second;
    }

    bool Fail(std::string p_cause) {
        _error = LoadError(Pointer(), std::move(p_cause));
        return false;
    }

    // Where the parser is: the last element or key of every open container,
    // and in the innermost one the element or key being read.
    std::string Pointer() const {
        std::string pointer;
        for (std::size_t level = 0; level < _levels.size(); ++level) {
            json const& container = *_levels[level].container;
            bool const innermost = level + 1 == _levels.size();
            if (container.is_array()) {
                std::size_t const size = container.size();
                pointer += "/" + std::to_string(innermost || size == 0 ? size : size - 1);
            } else if (_levels[level].hasKey) {
                pointer += "/" + PointerToken(_levels[level].key);
            }
        }
        return pointer;
    }

    json _root;
    std::vector<Level> _levels;
    std::size_t _values = 0;
    LoadError _error{"", "no document"};
};

}  // namespace

json ReadJson(std::string_view p_text) {
    if (p_text.size() > kMaxDocumentBytes) {
        throw LoadError("", "the document has " + std::to_string(p_text.size()) + " bytes, more than the " +
                                std::to_string(kMaxDocumentBytes) + " that IO::Load reads");
    }
    LimitedBuilder builder;
    if (!json::sax_parse(p_text.data(), p_text.data() + p_text.size(), &builder)) {
        throw builder.Error();
    }
    return std::move(builder.Root());
}

std::string PointerToken(std::string const& p_token) {
    std::string token;
    token.reserve(p_token.size());
    for (char const c : p_token) {
        if (c == '~') {
            token += "~0";
        } else if (c == '/') {
            token += "~1";
        } else {
            token += c;
        }
    }
    return token;
}

}  // namespace Private
}  // namespace IO
}  // namespace Chart
}  // namespace Qel
