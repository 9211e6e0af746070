// The Python module qelchart's compiled part, _qelchart. The Python part
// (qelchart/__init__.py) declares the node classes and the context managers
// on top of it.
//
// Ownership: a Python node object owns its node as a Ptr does; the node
// remembers the object that stands for it (not a reference), so that a node
// handed back to Python is the same object while that lives, and a new
// object of the node's Python class after that. Nothing of the node needs
// Python when it ends, so a node may end on any thread.
//
// The interpreter's lock is held throughout, walks included: the callbacks
// are Python code, and the lock is also what keeps two Python threads from
// editing one node at the same time.
#include "PyNode.h"

#include "QelChartCore.h"
#include "QelChartIO.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <boost/any.hpp>

#include <climits>
#include <cstddef>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace Qel {
namespace Chart {
namespace Python {
namespace {

using Core::IModifiable;
using Core::Node;
using Core::Ptr;
using Core::WeakPtr;
using Core::Accessors::NodeAccess;

// The C++ part of a Python node object.
struct NodeHandle {
    Ptr<Node> node;
    PyNode* python = nullptr;  // the node, when it is of a Python class
    PyObject* self = nullptr;

    NodeHandle() = default;
    explicit NodeHandle(Ptr<Node> p_node) : node(std::move(p_node)), python(dynamic_cast<PyNode*>(node.Get())) {}
    NodeHandle(NodeHandle const&) = delete;
    NodeHandle& operator=(NodeHandle const&) = delete;
    ~NodeHandle() {
        if (python != nullptr && python->wrapper == self) {
            python->wrapper = nullptr;
        }
    }
    PyNode& Python() const {
        if (python == nullptr) {
            throw py::type_error("a node of a C++ class has no Python properties or references");
        }
        return *python;
    }
};

// Hands a node over to a Python object made without __init__ (a node that
// C++ made, or whose object is gone).
struct Adopt {
    Ptr<Node> node;
};

// Every declared class, for the life of the process (see ClassInfo).
std::unordered_map<PyObject*, std::unique_ptr<ClassInfo>>& Classes() {
    static auto* classes = new std::unordered_map<PyObject*, std::unique_ptr<ClassInfo>>();
    return *classes;
}

ClassInfo const* InfoOf(py::handle p_class) {
    auto const found = Classes().find(p_class.ptr());
    return found == Classes().end() ? nullptr : found->second.get();
}

py::object NodeBaseClass() { return py::module_::import("qelchart._qelchart").attr("NodeBase"); }

// The Python object for a node: the one that stands for it while that
// lives, otherwise a new one of its Python class (qelchart.Node for a node
// of a C++ class). None for an empty Ptr.
py::object Wrap(Ptr<Node> const& p_node) {
    if (!p_node) {
        return py::none();
    }
    auto* const python = dynamic_cast<PyNode*>(p_node.Get());
    if (python != nullptr && python->wrapper != nullptr) {
        return py::reinterpret_borrow<py::object>(python->wrapper);
    }
    py::object type = python != nullptr ? py::reinterpret_borrow<py::object>(python->Info().type)
                                        : py::module_::import("qelchart").attr("Node");
    py::object object = type.attr("__new__")(type);
    NodeBaseClass().attr("__init__")(object, Adopt{p_node});
    object.attr("_bind")();
    return object;
}

template <class T>
py::object WrapAll(std::vector<Ptr<T>> const& p_nodes) {
    py::list list;
    for (Ptr<T> const& node : p_nodes) {
        list.append(Wrap(node));
    }
    return std::move(list);
}

// The handle of a node object, or TypeError for an object made without
// __init__ (cls.__new__(cls)): pybind11 gives such an object storage but
// no constructed handle.
NodeHandle& Constructed(py::handle p_object) {
    auto* const instance = reinterpret_cast<py::detail::instance*>(p_object.ptr());
    py::detail::value_and_holder slot = instance->get_value_and_holder(py::detail::get_type_info(typeid(NodeHandle)));
    if (!slot || !slot.holder_constructed()) {
        throw py::type_error("this " + std::string(py::str(p_object.get_type().attr("__qualname__"))) +
                             " was made without __init__: it has no node");
    }
    return *static_cast<NodeHandle*>(slot.value_ptr());
}

NodeHandle& HandleOf(py::handle p_object) {
    if (!py::isinstance(p_object, NodeBaseClass())) {
        throw py::type_error("expected a qelchart.Node, got " + std::string(py::str(p_object.get_type())));
    }
    return Constructed(p_object);
}

Ptr<Node> NodeOf(py::handle p_object) { return HandleOf(p_object).node; }

// A property value as Python sees it; None for an undefined one and for
// types Python has no counterpart of.
py::object ToPython(boost::any const& p_value) {
    if (p_value.empty()) {
        return py::none();
    }
    std::type_info const& type = p_value.type();
    if (type == typeid(bool)) {
        return py::bool_(boost::any_cast<bool>(p_value));
    }
    if (type == typeid(long long)) {
        return py::int_(boost::any_cast<long long>(p_value));
    }
    if (type == typeid(int)) {
        return py::int_(boost::any_cast<int>(p_value));
    }
    if (type == typeid(unsigned)) {
        return py::int_(boost::any_cast<unsigned>(p_value));
    }
    if (type == typeid(unsigned long long)) {
        return py::int_(boost::any_cast<unsigned long long>(p_value));
    }
    if (type == typeid(double)) {
        return py::float_(boost::any_cast<double>(p_value));
    }
    if (type == typeid(float)) {
        return py::float_(boost::any_cast<float>(p_value));
    }
    if (type == typeid(std::string)) {
        return py::str(boost::any_cast<std::string const&>(p_value));
    }
    if (type == typeid(Ptr<Node>)) {
        return Wrap(boost::any_cast<Ptr<Node> const&>(p_value));
    }
    return py::none();
}

char const* KindName(ValueKind p_kind) {
    switch (p_kind) {
        case ValueKind::Bool:
            return "bool";
        case ValueKind::Int:
            return "int";
        case ValueKind::Float:
            return "float";
        case ValueKind::Str:
            break;
    }
    return "str";
}

[[noreturn]] void WrongType(std::string const& p_name, ValueKind p_kind, py::handle p_value) {
    throw py::type_error("property '" + p_name + "' holds " + KindName(p_kind) + ", not " +
                         std::string(py::str(p_value.get_type().attr("__name__"))));
}

// A Python value as the C++ value of a property of `p_kind`; TypeError for
// another type (bool is no int here, but an int is a float).
boost::any FromPython(std::string const& p_name, ValueKind p_kind, py::handle p_value) {
    PyObject* const value = p_value.ptr();
    switch (p_kind) {
        case ValueKind::Bool:
            if (!PyBool_Check(value)) {
                WrongType(p_name, p_kind, p_value);
            }
            return value == Py_True;
        case ValueKind::Int: {
            if (!PyLong_Check(value) || PyBool_Check(value)) {
                WrongType(p_name, p_kind, p_value);
            }
            int overflow = 0;
            long long const number = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (overflow != 0) {
                throw py::value_error("property '" + p_name + "': " + std::string(py::str(p_value)) +
                                      " does not fit in 64 bits");
            }
            return number;
        }
        case ValueKind::Float:
            if (PyFloat_Check(value)) {
                return PyFloat_AS_DOUBLE(value);
            }
            if (PyLong_Check(value) && !PyBool_Check(value)) {
                double const number = PyLong_AsDouble(value);
                if (number == -1.0 && PyErr_Occurred() != nullptr) {
                    throw py::error_already_set();
                }
                return number;
            }
            WrongType(p_name, p_kind, p_value);
        case ValueKind::Str:
            if (!PyUnicode_Check(value)) {
                WrongType(p_name, p_kind, p_value);
            }
            return p_value.cast<std::string>();
    }
    WrongType(p_name, p_kind, p_value);
}

SlotDecl const& SlotOf(PyNode const& p_node, std::string const& p_name) {
    ClassInfo const& info = p_node.Info();
    auto const found = info.slotByName.find(p_name);
    if (found == info.slotByName.end()) {
        throw py::attribute_error("'" + info.qualifiedName + "' has no property or reference '" + p_name + "'");
    }
    return info.slots[found->second];
}

std::size_t SlotIndex(PyNode const& p_node, std::string const& p_name) {
    return p_node.Info().slotByName.at(SlotOf(p_node, p_name).name);
}

// A list reference seen from Python: a live view that keeps its node.
struct RefListView {
    Ptr<PyNode> node;
    std::size_t slot;

    PyRefList& Refs() const { return node->RefListAt(slot); }
};

py::object GetSlot(NodeHandle const& p_handle, std::string const& p_name) {
    PyNode& node = p_handle.Python();
    std::size_t const slot = SlotIndex(node, p_name);
    switch (node.Info().slots[slot].kind) {
        case SlotDecl::Property:
            return ToPython(node.PropertyAt(slot).GetValue());
        case SlotDecl::Ref: {
            std::vector<Ptr<Node>> const target = node.RefAt(slot).GetReferencees();
            return target.empty() ? py::none() : Wrap(target.front());
        }
        case SlotDecl::RefList:
            break;
    }
    return py::cast(RefListView{Core::DynamicPtrCast<PyNode>(p_handle.node), slot});
}

void SetSlot(NodeHandle const& p_handle, std::string const& p_name, py::handle p_value) {
    PyNode& node = p_handle.Python();
    std::size_t const slot = SlotIndex(node, p_name);
    SlotDecl const& decl = node.Info().slots[slot];
    switch (decl.kind) {
        case SlotDecl::Property: {
            Core::IProperty& property = node.PropertyAt(slot);
            if (p_value.is_none()) {
                property.ResetValue();
            } else {
                property.SetValue(FromPython(decl.name, decl.value, p_value));
            }
            return;
        }
        case SlotDecl::Ref: {
            PyRef& ref = node.RefAt(slot);
            if (p_value.is_none()) {
                ref.Clear();
            } else {
                ref.Attach(NodeOf(p_value));
            }
            return;
        }
        case SlotDecl::RefList:
            break;
    }
    // Every element is checked before anything changes.
    std::vector<Ptr<PyNode>> targets;
    for (py::handle item : py::iter(p_value)) {
        targets.push_back(CheckedTarget(NodeOf(item), decl.target));
    }
    PyRefList& refs = node.RefListAt(slot);
    refs.Clear();
    for (Ptr<PyNode> const& target : targets) {
        refs.Attach(target);
    }
}

// Releases a callable with the interpreter's lock, wherever the library
// lets go of it (a cancel, a node's end on another thread); after the
// interpreter ended it is left alone.
class Callable {
public:
    explicit Callable(py::function p_function) : _function(p_function.release().ptr()) {}
    Callable(Callable&& p_other) noexcept : _function(p_other._function) { p_other._function = nullptr; }
    Callable(Callable const&) = delete;
    Callable& operator=(Callable const&) = delete;
    Callable& operator=(Callable&&) = delete;
    ~Callable() {
        if (_function != nullptr && Py_IsInitialized() != 0) {
            py::gil_scoped_acquire lock;
            Py_DECREF(_function);
        }
    }
    template <class... A>
    void operator()(A&&... p_args) const {
        py::gil_scoped_acquire lock;
        py::handle const function(_function);
        function(std::forward<A>(p_args)...);
    }

private:
    PyObject* _function;
};

struct PyTouchEvent {
    IModifiable::ModifiableType type;
    IModifiable::Change change;
    IModifiable::Relationship relationship;
    py::object originator;
    std::string name;
    py::object value;
};

struct PySubscription {
    Core::Subscription subscription;
};

PySubscription OnTouched(NodeHandle const& p_handle, py::function p_callback) {
    return PySubscription{
        p_handle.node->OnTouched([call = Callable(std::move(p_callback))](Core::TouchEvent const& p_event) {
            py::gil_scoped_acquire lock;
            Ptr<Node> originator;
            if (!p_event.originator.Expired()) {
                try {
                    originator = p_event.originator.Lock();
                } catch (Core::NullPtrException const&) {
                    // It ended meanwhile: no originator to hand out.
                }
            }
            call(PyTouchEvent{p_event.type, p_event.change, p_event.relationship, Wrap(originator), p_event.name,
                              ToPython(p_event.value)});
        })};
}

template <class T>
bool SubscribeAs(Core::IProperty& p_property, Callable& p_call, PySubscription& p_result) {
    auto* const property = dynamic_cast<Core::Property<T>*>(&p_property);
    if (property == nullptr) {
        return false;
    }
    p_result.subscription = property->OnChanged([call = std::move(p_call)](Core::Property<T> const& p_changed) {
        py::gil_scoped_acquire lock;
        call(ToPython(p_changed.GetValue()));
    });
    return true;
}

PySubscription OnChanged(NodeHandle const& p_handle, std::string const& p_name, py::function p_callback) {
    PyNode& node = p_handle.Python();
    std::size_t const slot = SlotIndex(node, p_name);
    if (node.Info().slots[slot].kind != SlotDecl::Property) {
        throw py::type_error("'" + p_name + "' is a reference; on_touched hears of its changes");
    }
    Core::IProperty& property = node.PropertyAt(slot);
    Callable call(std::move(p_callback));
    PySubscription result;
    (void)(SubscribeAs<bool>(property, call, result) || SubscribeAs<long long>(property, call, result) ||
           SubscribeAs<double>(property, call, result) || SubscribeAs<std::string>(property, call, result));
    return result;
}

// The IModifiable::Identifier of a node, as Python sees it.
struct PyIdentifier {
    IModifiable::Identifier id;
};

py::tuple Dependents(Node const& p_node) {
    py::list list;
    for (IModifiable::Identifier const& entry : p_node.Deps()) {
        auto* const node = dynamic_cast<Node*>(entry.Get());
        if (node == nullptr) {
            continue;
        }
        try {
            list.append(Wrap(node->SelfPtr()));
        } catch (Core::NullPtrException const&) {
            // Being deleted: not a dependent any more.
        }
    }
    return py::tuple(list);
}

std::string DumpOf(Node const& p_node, int p_verbosity) {
    if (p_verbosity < Core::DumpHeader || p_verbosity > Core::DumpDependents) {
        throw py::value_error("verbosity is 0 to 3, not " + std::to_string(p_verbosity));
    }
    std::ostringstream text;
    p_node.Dump(text, static_cast<Core::Verbosity>(p_verbosity), 0);
    return text.str();
}

// Builds the ClassInfo of a class from the declarations that the Python
// part gathered: (kind, name, value type, initial value, target class or
// name, dependent), bases' first.
void Declare(py::type p_class, py::list p_decls) {
    if (InfoOf(p_class) != nullptr) {
        return;
    }
    auto info = std::make_unique<ClassInfo>();
    info->qualifiedName = py::str(p_class.attr("__qualname__"));
    for (py::handle item : p_decls) {
        auto decl = item.cast<py::tuple>();
        SlotDecl slot;
        slot.kind = static_cast<SlotDecl::Kind>(decl[0].cast<int>());
        slot.name = decl[1].cast<std::string>();
        if (slot.kind == SlotDecl::Property) {
            py::handle const type = decl[2];
            if (type.is(py::handle(reinterpret_cast<PyObject*>(&PyBool_Type)))) {
                slot.value = ValueKind::Bool;
            } else if (type.is(py::handle(reinterpret_cast<PyObject*>(&PyLong_Type)))) {
                slot.value = ValueKind::Int;
            } else if (type.is(py::handle(reinterpret_cast<PyObject*>(&PyFloat_Type)))) {
                slot.value = ValueKind::Float;
            } else if (type.is(py::handle(reinterpret_cast<PyObject*>(&PyUnicode_Type)))) {
                slot.value = ValueKind::Str;
            } else {
                throw py::type_error("qelchart.Property '" + slot.name +
                                     "': the type is bool, int, float or str, not " + std::string(py::str(type)));
            }
            if (!decl[3].is_none()) {
                slot.initial = FromPython(slot.name, slot.value, decl[3]);
            }
        } else {
            py::handle const target = decl[4];
            if (!target.is_none() && !target.is(NodeBaseClass())) {
                slot.target = InfoOf(target);
                if (slot.target == nullptr) {
                    throw py::type_error("qelchart.Ref '" + slot.name + "': the target is a qelchart.Node class, not " +
                                         std::string(py::str(target)));
                }
            }
            slot.dependent = decl[5].cast<bool>();
        }
        if (info->slotByName.count(slot.name) != 0) {
            throw py::type_error("'" + slot.name + "' is declared twice");
        }
        info->slotByName.emplace(slot.name, info->slots.size());
        info->slots.push_back(std::move(slot));
    }
    info->ancestry.push_back(info.get());
    for (py::handle base : p_class.attr("__mro__")) {
        if (ClassInfo const* ancestor = InfoOf(base)) {
            info->ancestry.push_back(ancestor);
        }
    }
    info->type = p_class.inc_ref().ptr();  // never given back, see ClassInfo
    Classes().emplace(info->type, std::move(info));
}

ClassInfo& InfoOrThrow(py::handle p_class) {
    ClassInfo const* const info = InfoOf(p_class);
    if (info == nullptr) {
        throw py::type_error("expected a class derived from qelchart.Node, got " + std::string(py::str(p_class)));
    }
    return const_cast<ClassInfo&>(*info);
}

Ptr<Node> MakeNode(ClassInfo const& p_info) { return Ptr<Node>(Node::Create<PyNode>(p_info)); }

void Register(py::type p_class, std::string const& p_name) {
    ClassInfo& info = InfoOrThrow(p_class);
    if (!info.savedName.empty()) {
        throw py::value_error("'" + info.qualifiedName + "' is registered already, as '" + info.savedName + "'");
    }
    ClassInfo const* const made = &info;
    IO::RegisterClass(p_name, [made] { return MakeNode(*made); });
    info.savedName = p_name;
}

std::vector<Ptr<Node>> Roots(py::iterable p_roots) {
    std::vector<Ptr<Node>> roots;
    for (py::handle root : p_roots) {
        roots.push_back(NodeOf(root));
    }
    return roots;
}

// Open from construction, as in C++; a context manager commits on a clean
// exit and rolls back on an exception (as the C++ destructor does).
struct PyTransaction {
    std::optional<Core::UndoStack::Transaction> transaction;
    PyTransaction(Core::UndoStack& p_stack, std::string p_text) { transaction.emplace(p_stack, std::move(p_text)); }
    Core::UndoStack::Transaction& Open() {
        if (!transaction) {
            throw py::value_error("the transaction was committed or rolled back already");
        }
        return *transaction;
    }
};

// What a node method is called on, checked (see Constructed).
struct Self {
    NodeHandle* handle = nullptr;
    NodeHandle const* operator->() const { return handle; }
    NodeHandle const& operator*() const { return *handle; }
};

struct PyWatcher {
    Core::ModificationWatcher watcher;
};

// Open from construction, as in C++; a context manager commits on exit.
struct PyBatch {
    std::optional<Core::ChangeBatch> batch{std::in_place};
};

std::string NameOf(Ptr<Node> const& p_node) {
    std::string name;
    NodeAccess(p_node).GetName(name);
    return name;
}

py::object FindIn(Core::Model const& p_model, std::string const& p_name, py::object p_class) {
    for (Ptr<Node> const& node : p_model) {
        if (NameOf(node) != p_name) {
            continue;
        }
        py::object object = Wrap(node);
        if (p_class.is_none() || py::isinstance(object, p_class)) {
            return object;
        }
    }
    return py::none();
}

}  // namespace
}  // namespace Python
}  // namespace Chart
}  // namespace Qel

namespace pybind11 {
namespace detail {
template <>
struct type_caster<Qel::Chart::Python::Self> {
    PYBIND11_TYPE_CASTER(Qel::Chart::Python::Self, const_name("Node"));
    bool load(handle p_source, bool) {
        if (!isinstance(p_source, Qel::Chart::Python::NodeBaseClass())) {
            return false;
        }
        value.handle = &Qel::Chart::Python::Constructed(p_source);
        return true;
    }
};
}  // namespace detail
}  // namespace pybind11

PYBIND11_MODULE(_qelchart, m) {
    using namespace Qel::Chart::Python;
    using Qel::Chart::Core::IModifiable;
    namespace Core = Qel::Chart::Core;
    namespace IO = Qel::Chart::IO;

    m.doc() = "The compiled part of qelchart; use the qelchart package.";

    // Nodes of Python classes are saved under the name their class was
    // registered with.
    static bool const namer = [] {
        IO::RegisterClassNamer(typeid(PyNode), [](Core::Node const& p_node) {
            return static_cast<PyNode const&>(p_node).Info().savedName;
        });
        return true;
    }();
    (void)namer;

    py::object runtime = py::module_::import("builtins").attr("RuntimeError");
    py::object value = py::module_::import("builtins").attr("ValueError");
    static py::exception<Core::CyclicDependencyFoundExcept> cycle(m, "CycleError", runtime.ptr());
    static py::exception<IO::LoadError> load(m, "LoadError", value.ptr());
    static py::exception<IO::SaveError> save(m, "SaveError", runtime.ptr());
    static py::exception<qeldebug::check_failed> check(m, "CheckFailed", runtime.ptr());
    static py::exception<Core::NullPtrException> null(m, "NullPtrError", runtime.ptr());
    py::register_exception_translator([](std::exception_ptr p_error) {
        try {
            if (p_error) {
                std::rethrow_exception(p_error);
            }
        } catch (Core::CyclicDependencyFoundExcept const& error) {
            cycle(error.what());
        } catch (IO::LoadError const& error) {
            load(error.what());
        } catch (IO::SaveError const& error) {
            save(error.what());
        } catch (qeldebug::check_failed const& error) {
            check(error.what());
        } catch (Core::NullPtrException const& error) {
            null(error.what());
        } catch (boost::bad_any_cast const& error) {
            PyErr_SetString(PyExc_TypeError, error.what());
        }
    });

    py::enum_<IModifiable::Change>(m, "Change")
        .value("Edit", IModifiable::Edit)
        .value("Clear", IModifiable::Clear)
        .value("Add", IModifiable::Add)
        .value("Remove", IModifiable::Remove)
        .value("Deallocate", IModifiable::Deallocate)
        .value("Force", IModifiable::Force);
    py::enum_<IModifiable::ModifiableType>(m, "Kind")
        .value("Node", IModifiable::TypeNode)
        .value("Property", IModifiable::TypeProperty)
        .value("ExplicitRef", IModifiable::TypeExplicitRef)
        .value("User", IModifiable::TypeUser);
    py::enum_<IModifiable::Relationship>(m, "Relationship")
        .value("Self", IModifiable::Self)
        .value("Explicit", IModifiable::Explicit)
        .value("Implicit", IModifiable::Implicit);

    py::class_<Adopt>(m, "_Adopt");

    py::class_<PyTouchEvent>(m, "TouchEvent")
        .def_readonly("kind", &PyTouchEvent::type)
        .def_readonly("change", &PyTouchEvent::change)
        .def_readonly("relationship", &PyTouchEvent::relationship)
        .def_readonly("originator", &PyTouchEvent::originator)
        .def_readonly("name", &PyTouchEvent::name)
        .def_readonly("value", &PyTouchEvent::value)
        .def("__repr__", [](PyTouchEvent const& p_event) {
            return "<TouchEvent " + std::string(py::str(py::cast(p_event.change))) + " " +
                   std::string(py::str(py::cast(p_event.relationship))) + " '" + p_event.name + "'>";
        });

    py::class_<PySubscription>(m, "Subscription")
        .def("cancel", [](PySubscription& p_self) { p_self.subscription.Cancel(); })
        .def_property_readonly("active", [](PySubscription const& p_self) { return p_self.subscription.Active(); })
        .def("__enter__", [](py::object p_self) { return p_self; })
        .def("__exit__", [](PySubscription& p_self, py::args) {
            p_self.subscription.Cancel();
            return false;
        });

    py::class_<PyIdentifier>(m, "Identifier")
        .def_property_readonly("expired", [](PyIdentifier const& p_self) { return p_self.id.Expired(); })
        .def("__eq__",
             [](PyIdentifier const& p_self, py::object p_other) {
                 return py::isinstance<PyIdentifier>(p_other) && p_other.cast<PyIdentifier const&>().id == p_self.id;
             })
        .def("__hash__", [](PyIdentifier const& p_self) { return std::hash<void const*>()(p_self.id.Address()); });

    py::class_<RefListView>(m, "RefList_")
        .def("__len__", [](RefListView const& p_self) { return p_self.Refs().GetReferencees().size(); })
        .def("__iter__", [](RefListView const& p_self) { return py::iter(WrapAll(p_self.Refs().GetReferencees())); })
        .def("__getitem__",
             [](RefListView const& p_self, py::object p_index) -> py::object {
                 py::object const all = WrapAll(p_self.Refs().GetReferencees());
                 return all[p_index];
             })
        .def("__contains__",
             [](RefListView const& p_self, py::object p_node) {
                 if (!py::isinstance(p_node, NodeBaseClass())) {
                     return false;
                 }
                 Ptr<Node> const node = NodeOf(p_node);
                 for (Ptr<Node> const& target : p_self.Refs().GetReferencees()) {
                     if (target == node) {
                         return true;
                     }
                 }
                 return false;
             })
        .def("append", [](RefListView const& p_self, py::object p_node) { p_self.Refs().Attach(NodeOf(p_node)); })
        .def("remove", [](RefListView const& p_self, py::object p_node) { p_self.Refs().Detach(NodeOf(p_node)); })
        .def("clear", [](RefListView const& p_self) { p_self.Refs().Clear(); })
        .def("__repr__", [](RefListView const& p_self) {
            return "RefList(" + std::string(py::repr(WrapAll(p_self.Refs().GetReferencees()))) + ")";
        });

    py::class_<NodeHandle>(m, "NodeBase", py::dynamic_attr())
        .def(py::init([](py::type p_class) {
            auto handle = std::make_unique<NodeHandle>(MakeNode(InfoOrThrow(p_class)));
            return handle;
        }))
        .def(py::init([](Adopt const& p_adopt) { return std::make_unique<NodeHandle>(p_adopt.node); }))
        .def("_bind",
             [](py::object p_self) {
                 NodeHandle& handle = Constructed(p_self);
                 handle.self = p_self.ptr();
                 if (handle.python != nullptr && handle.python->wrapper == nullptr) {
                     handle.python->wrapper = p_self.ptr();
                 }
             })
        .def("_get", [](Self p_self, std::string const& p_name) { return GetSlot(*p_self, p_name); })
        .def("_set",
             [](Self p_self, std::string const& p_name, py::handle p_value) { SetSlot(*p_self, p_name, p_value); })
        .def_property(
            "name",
            [](Self p_self) {
                std::string name;
                NodeAccess(p_self->node).GetName(name);
                return name;
            },
            [](Self p_self, std::string const& p_name) { NodeAccess(p_self->node).SetName(p_name); })
        .def_property(
            "user_tag",
            [](Self p_self) {
                unsigned int tag = 0;
                NodeAccess(p_self->node).GetUserTag(tag);
                return tag;
            },
            [](Self p_self, unsigned int p_tag) { NodeAccess(p_self->node).SetUserTag(p_tag); })
        .def_property_readonly("id", [](Self p_self) { return PyIdentifier{p_self->node->Id()}; })
        .def_property_readonly("unique_id", [](Self p_self) { return NodeAccess(p_self->node).UniqueId(); })
        .def_property_readonly("type_id", [](Self p_self) { return NodeAccess(p_self->node).TypeId(); })
        .def_property_readonly("time",
                               [](Self p_self) {
                                   Core::TimeStamp const time = p_self->node->Time();
                                   return py::make_tuple(time.Counter(), time.Touched());
                               })
        .def_property_readonly("deps", [](Self p_self) { return Dependents(*p_self->node); })
        .def("depend_on", [](Self p_self, py::object p_source) { return p_self->node->DependOn(*NodeOf(p_source)); })
        .def("stop_depending_on",
             [](Self p_self, py::object p_source) { return p_self->node->StopDependingOn(*NodeOf(p_source)); })
        .def("touch", [](Self p_self) { NodeAccess(p_self->node).Touch(); })
        .def("on_touched",
             [](Self p_self, py::function p_callback) { return OnTouched(*p_self, std::move(p_callback)); })
        .def("on_changed", [](Self p_self, std::string const& p_name,
                              py::function p_callback) { return OnChanged(*p_self, p_name, std::move(p_callback)); })
        .def(
            "dump", [](Self p_self, int p_verbosity) { return DumpOf(*p_self->node, p_verbosity); },
            py::arg("verbosity") = 1)
        .def("__eq__",
             [](Self p_self, py::object p_other) {
                 return py::isinstance(p_other, NodeBaseClass()) && NodeOf(p_other) == p_self->node;
             })
        .def("__hash__", [](Self p_self) { return std::hash<void const*>()(p_self->node.Get()); });

    py::class_<PyWatcher>(m, "Watcher")
        .def(py::init([](py::object p_node) { return PyWatcher{Core::ModificationWatcher(*NodeOf(p_node))}; }))
        .def_property_readonly("modified", [](PyWatcher const& p_self) { return p_self.watcher.Modified(); })
        .def("reset", [](PyWatcher& p_self) { p_self.watcher.Reset(); })
        .def("touch", [](PyWatcher& p_self) { p_self.watcher.Touch(); });

    m.def("_declare", &Declare);
    m.def("_register", &Register);
    m.def("_live_nodes", [] { return Node::_debugNodeCount.add(0); });
    py::class_<Core::Model>(m, "Model")
        .def(py::init<>())
        .def("add", [](Core::Model& p_self, py::object p_node) { p_self.Add(NodeOf(p_node)); })
        .def("remove", [](Core::Model& p_self, py::object p_node) { return p_self.Remove(*NodeOf(p_node)); })
        .def("clear", &Core::Model::Clear)
        .def("find", &FindIn, py::arg("name"), py::arg("cls") = py::none())
        .def("__len__", &Core::Model::Size)
        .def("__iter__", [](Core::Model const& p_self) { return py::iter(WrapAll(p_self.Nodes())); })
        .def("__contains__", [](Core::Model const& p_self, py::object p_node) {
            return py::isinstance(p_node, NodeBaseClass()) && p_self.Contains(*NodeOf(p_node));
        });

    py::class_<PyTransaction>(m, "Transaction")
        .def("commit",
             [](PyTransaction& p_self) {
                 p_self.Open().Commit();
                 p_self.transaction.reset();
             })
        .def("rollback",
             [](PyTransaction& p_self) {
                 p_self.Open();
                 p_self.transaction.reset();
             })
        .def_property_readonly("open", [](PyTransaction const& p_self) { return p_self.transaction.has_value(); })
        .def("__enter__", [](py::object p_self) { return p_self; })
        .def("__exit__", [](PyTransaction& p_self, py::object p_type, py::object, py::object) {
            if (p_self.transaction && p_type.is_none()) {
                p_self.transaction->Commit();
            }
            p_self.transaction.reset();
            return false;
        });

    py::class_<Core::UndoStack>(m, "UndoStack")
        .def(py::init<>())
        .def(
            "transaction",
            [](Core::UndoStack& p_self, std::string p_text) {
                return std::make_unique<PyTransaction>(p_self, std::move(p_text));
            },
            py::arg("text"), py::keep_alive<0, 1>())
        .def("undo", &Core::UndoStack::Undo)
        .def("redo", &Core::UndoStack::Redo)
        .def_property_readonly("can_undo", &Core::UndoStack::CanUndo)
        .def_property_readonly("can_redo", &Core::UndoStack::CanRedo)
        .def_property_readonly("undo_text", &Core::UndoStack::UndoText)
        .def_property_readonly("redo_text", &Core::UndoStack::RedoText)
        .def("clear", &Core::UndoStack::Clear)
        .def("set_limit", &Core::UndoStack::SetLimit, py::arg("limit"));

    py::class_<PyBatch>(m, "ChangeBatch")
        .def(py::init<>())
        .def("commit", [](PyBatch& p_self) { p_self.batch->Commit(); })
        .def_property_readonly("active", [](PyBatch const& p_self) { return p_self.batch->Active(); })
        .def("__enter__", [](py::object p_self) { return p_self; })
        .def("__exit__", [](PyBatch& p_self, py::args) {
            if (p_self.batch->Active()) {
                p_self.batch->Commit();
            }
            return false;
        });

    m.def(
        "save",
        [](py::object p_roots) {
            if (py::isinstance<Core::Model>(p_roots)) {
                return IO::Save(p_roots.cast<Core::Model const&>());
            }
            return IO::Save(Roots(p_roots));
        },
        py::arg("roots"));
    m.def(
        "load_model", [](std::string const& p_text) { return IO::LoadModel(p_text); }, py::arg("text"));
    m.def(
        "load", [](std::string const& p_text) { return WrapAll(IO::Load(p_text)); }, py::arg("text"));
}
