// The C++ side of the node classes that Python programs define: one C++
// class whose properties and references are made per instance, from the
// declarations of the instance's Python class.
#ifndef QEL_PYTHON_PYNODE_H
#define QEL_PYTHON_PYNODE_H

#include "QelChartCore.h"

#include <boost/any.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct _object;  // PyObject, without Python.h in this header

namespace Qel {
namespace Chart {
namespace Python {

/// The value types a Python property can hold, each on one C++ type.
enum class ValueKind { Bool, Int, Float, Str };

struct ClassInfo;

/// One declared property or reference of a Python node class.
struct SlotDecl {
    enum Kind { Property, Ref, RefList };
    Kind kind = Property;
    std::string name;
    ValueKind value = ValueKind::Float;  // properties only
    boost::any initial;                  // properties only; empty: undefined
    ClassInfo const* target = nullptr;   // references only; null: any Python node
    bool dependent = false;              // references only
};

/// What the library knows of a Python node class. Made once per class and
/// kept for the life of the process (a class holds a strong reference to
/// its Python class object, which is never given back: classes outlive
/// their nodes, and a node may end without the interpreter's lock).
struct ClassInfo {
    _object* type = nullptr;
    std::string qualifiedName;
    std::string savedName;  // set by register(); empty: not saved
    std::vector<SlotDecl> slots;
    std::unordered_map<std::string, std::size_t> slotByName;
    std::vector<ClassInfo const*> ancestry;  // this class first, then its bases

    bool IsA(ClassInfo const& p_other) const;
};

class PyNode;

/// A reference of a Python node: a typed reference to Python nodes whose
/// class must be the declared one or derive from it.
class PyRef : public Core::TypedRef<PyNode> {
public:
    PyRef(Core::Node& p_owner, SlotDecl const& p_decl);
    using Core::TypedRef<PyNode>::Attach;
    void Attach(Core::Ptr<Core::Node> const& p_node) override;

private:
    ClassInfo const* _target;
};

/// A list reference of a Python node, with the same class check.
class PyRefList : public Core::TypedRefList<PyNode> {
public:
    PyRefList(Core::Node& p_owner, SlotDecl const& p_decl);
    using Core::TypedRefList<PyNode>::Attach;
    void Attach(Core::Ptr<Core::Node> const& p_node) override;

private:
    ClassInfo const* _target;
};

/// Throws the library's "failed to cast Core::Ptr to type!" unless
/// `p_node` is a Python node of `p_target`'s class (any with null).
Core::Ptr<PyNode> CheckedTarget(Core::Ptr<Core::Node> const& p_node, ClassInfo const* p_target);

/// A node of a Python class.
class PyNode : public Core::Node {
public:
    explicit PyNode(ClassInfo const& p_info);
    ~PyNode() override;

    ClassInfo const& Info() const { return *_info; }

    /// The slot objects, in declaration order; which one is which kind the
    /// class's declaration says.
    Core::IProperty& PropertyAt(std::size_t p_slot) const;
    PyRef& RefAt(std::size_t p_slot) const;
    PyRefList& RefListAt(std::size_t p_slot) const;

    /// The Python object that currently stands for this node, if any; not
    /// a reference of its own (the object owns the node, not the reverse).
    _object* wrapper = nullptr;

private:
    struct Slot {
        virtual ~Slot();
    };
    template <class T>
    struct PropertySlot;
    struct RefSlot;
    struct RefListSlot;

    ClassInfo const* _info;
    std::vector<std::unique_ptr<Slot>> _slots;
};

}  // namespace Python
}  // namespace Chart
}  // namespace Qel

#endif
