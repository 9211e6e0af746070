// The umbrella header of Qel.Chart.IO: saving a model of nodes as JSON and
// making it again. Client code includes this alone.
#ifndef QEL_IO_QELCHARTIO_H
#define QEL_IO_QELCHARTIO_H

#include "QelChartCore.h"

#include <nlohmann/json.hpp>

#include <boost/any.hpp>

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#define QELIO_API __attribute__((visibility("default")))

namespace Qel {
namespace Chart {
namespace IO {

/// What `Load` accepts at most; a larger or deeper document is refused with
/// a `LoadError` before it is built, and `Save` refuses to write one.
/// The input text, in bytes.
constexpr std::size_t kMaxDocumentBytes = 256u << 20;
/// Nested arrays and objects, the document's own object counting as 1.
constexpr std::size_t kMaxDepth = 64;
/// JSON values of every kind (an object, its keys' values, each array element...).
constexpr std::size_t kMaxValues = 8u << 20;

/// What `Save` throws: a node whose class, or a property value whose type,
/// has no registration, a codec that failed, or a model too large to load
/// again. The text names the node and, where one is at fault, the property.
/// Nothing is written.
class QELIO_API SaveError : public std::runtime_error {
public:
    explicit SaveError(std::string const& p_text);
    SaveError(SaveError const& p_other) noexcept;
    SaveError& operator=(SaveError const& p_other) noexcept;
    ~SaveError() override;
};

/// What `Load` throws. `what()` is `at "<pointer>": <cause>`, the pointer a
/// JSON pointer (RFC 6901) to the place at fault, e.g. "/nodes/3/properties/max",
/// and "" for the document as a whole. No node made by the failed load survives it.
class QELIO_API LoadError : public std::runtime_error {
public:
    LoadError(std::string p_pointer, std::string p_cause);
    LoadError(LoadError const& p_other);
    LoadError& operator=(LoadError const& p_other);
    ~LoadError() override;

    std::string const& Pointer() const noexcept { return _pointer; }
    std::string const& Cause() const noexcept { return _cause; }

private:
    std::string _pointer;
    std::string _cause;
};

namespace Private {
using NodeFactory = std::function<Core::Ptr<Core::Node>()>;
using ValueSaver = std::function<nlohmann::json(boost::any const&)>;
using ValueLoader = std::function<boost::any(nlohmann::json const&)>;

QELIO_API void RegisterClass(std::type_info const& p_type, std::string p_name, NodeFactory p_factory);
QELIO_API void RegisterValue(std::type_info const& p_type, std::string p_name, ValueSaver p_save, ValueLoader p_load);
QELIO_API bool IsClassRegistered(std::type_info const& p_type);
}  // namespace Private

/// Saves and loads nodes of class `T` (derived from `Node`, default-
/// constructible) under `p_name`. A second name for a class, a name taken
/// already, or an empty name throws `std::invalid_argument`; nothing changes.
/// Thread-safe.
template <class T>
void RegisterClass(std::string p_name) {
    static_assert(std::is_base_of<Core::Node, T>::value, "IO::RegisterClass takes classes derived from Node");
    static_assert(std::is_default_constructible<T>::value, "IO::RegisterClass needs a default constructor");
    Private::RegisterClass(typeid(T), std::move(p_name), [] { return Core::Ptr<Core::Node>(Core::Node::Create<T>()); });
}

/// True when nodes of class `T` are saved under a name. Thread-safe.
template <class T>
bool IsClassRegistered() {
    return Private::IsClassRegistered(typeid(T));
}
/// True when `p_name` names a registered class. Thread-safe.
QELIO_API bool IsClassRegistered(std::string_view p_name);
/// Saves and loads under `p_name` the nodes that `p_factory` makes, for
/// classes that are more than their C++ class (a scripting language's
/// classes over one C++ node class); `RegisterClassNamer` tells `Save` which
/// name a node of that C++ class has. The same refusals as the template.
/// Thread-safe.
QELIO_API void RegisterClass(std::string p_name, std::function<Core::Ptr<Core::Node>()> p_factory);

/// Nodes of C++ class `p_type` are saved under the name `p_nameOf` gives
/// for each (one registered with `RegisterClass(name, factory)`; an empty
/// name means none). A class registered by type keeps its name. A second
/// namer for a class, or an empty function, throws `std::invalid_argument`.
/// `p_nameOf` is called without a lock, and may be called while saving on
/// any thread. Thread-safe.
QELIO_API void RegisterClassNamer(std::type_info const& p_type, std::function<std::string(Core::Node const&)> p_nameOf);

/// A codec for property values of type `T`, saved with the value type name
/// `p_name`. `p_load` may throw (anything) to refuse a JSON value; the load
/// then fails with its text. Built in: "bool", "int", "unsigned", "long long",
/// "unsigned long long", "float", "double", "string" (`std::string`). A
/// second codec for a type, a name taken already, an empty name or an empty
/// function throws `std::invalid_argument`; nothing changes. Thread-safe.
template <class T>
void RegisterValue(std::string p_name, std::function<nlohmann::json(T const&)> p_save,
                   std::function<T(nlohmann::json const&)> p_load) {
    if (!p_save || !p_load) {
        throw std::invalid_argument("IO::RegisterValue: value type '" + p_name + "' needs both functions");
    }
    Private::RegisterValue(
        typeid(T), std::move(p_name),
        [save = std::move(p_save)](boost::any const& p_value) { return save(boost::any_cast<T const&>(p_value)); },
        [load = std::move(p_load)](nlohmann::json const& p_json) { return boost::any(load(p_json)); });
}

/// The document of every node reachable from `p_roots` through explicit
/// references and dependents lists, each once, numbered in the order they
/// are first met (the roots first), and of the roots. See docs/file-format.md.
/// Throws `SaveError` and writes nothing when a node or value cannot be saved.
QELIO_API std::string Save(std::vector<Core::Ptr<Core::Node>> const& p_roots);
/// The same document, written to `p_stream` only once it is complete.
QELIO_API void Save(std::ostream& p_stream, std::vector<Core::Ptr<Core::Node>> const& p_roots);

/// The document of every node of `p_model`, numbered in model order, and of
/// every node they reach that the model does not hold (numbered after
/// them, as for roots). Its roots are every node it has, so that
/// `LoadModel` gives back a model of them all and `Save(LoadModel(text))`
/// is `text`. Throws `SaveError` and writes nothing as `Save` of roots does.
QELIO_API std::string Save(Core::Model const& p_model);
/// The same document, written to `p_stream` only once it is complete.
QELIO_API void Save(std::ostream& p_stream, Core::Model const& p_model);

/// Makes the nodes of a saved document again and returns its roots, in
/// order. Every node is an ordinary node with a `Ptr` of its own; the roots
/// together keep the other nodes of the load alive (those reached only
/// through references and dependents), which end after the last root.
/// Throws `LoadError` for anything it cannot read; then no node made by the
/// load survives.
QELIO_API std::vector<Core::Ptr<Core::Node>> Load(std::string_view p_document);
/// The same from a stream, read to its end (at most `kMaxDocumentBytes`).
QELIO_API std::vector<Core::Ptr<Core::Node>> Load(std::istream& p_stream);

/// Makes the nodes of a saved document again and returns a model that holds
/// every one of them, in document order (roots or not). Throws `LoadError`
/// as `Load` does; then no node made by the load survives.
QELIO_API Core::Model LoadModel(std::string_view p_document);
/// The same from a stream, read to its end (at most `kMaxDocumentBytes`).
QELIO_API Core::Model LoadModel(std::istream& p_stream);

}  // namespace IO
}  // namespace Chart
}  // namespace Qel

#endif
