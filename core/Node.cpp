#include "Node.h"

#include "DebugStream.h"
#include "NodeInternals.h"
#include "UndoStack.h"

#include <sstream>
#include <unordered_set>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

qelthreads::atomic<int> Node::_debugNodeCount;
qelthreads::atomic<int> Node::_debugNodeMemUsage;

namespace {

qelthreads::atomic<int> g_uniqueIdCounter;

// Create default-initialises a class as large as Node: that is only the
// same as T() while no member of a derived class can hide in Node's size.
struct OneMoreByte : Node {
    char byte;
};
static_assert(sizeof(OneMoreByte) > sizeof(Node), "Node has no tail padding");

void DoNothingDeleter(void* /*p_object*/) {}

}  // namespace

// ---------------------------------------------------------------------------
// Identity

ModifiableNode::ModifiableNode() noexcept : _time(), _idAnchor() {}
ModifiableNode::~ModifiableNode() = default;

IModifiable::Identifier ModifiableNode::Id() const {
    if (!_idAnchor) {
        IModifiable* self = const_cast<ModifiableNode*>(this);
        // Only the first call looks for the node's count block.
        Node const* const node = dynamic_cast<Node const*>(this);
        boost::detail::sp_counted_base* const count =
            node == nullptr ? nullptr : Private::NodeCounts::StartAnchor(*node);
        if (count != nullptr) {
            // The block's anchor count has the do-nothing behaviour of the
            // deleter below; it is adopted with the one strong reference it
            // starts with.
            _idAnchor = Ptr<IModifiable>(boost::shared_ptr<IModifiable>(boost::detail::sp_internal_constructor_tag(),
                                                                        self, boost::detail::shared_count(count)));
        } else {
            _idAnchor = Ptr<IModifiable>(boost::shared_ptr<IModifiable>(self, &DoNothingDeleter));
        }
    }
    Ptr<IModifiable> const anchor(_idAnchor.Shared());
    return IModifiable::Identifier(const_cast<ModifiableNode*>(this), boost::weak_ptr<IModifiable>(anchor.Shared()));
}

// ---------------------------------------------------------------------------
// Construction and lifetime

Node::Node()
    : _self(),
      _name(),
      _propertyMap(),
      _explicitRefMap(),
      _uniqueId(++g_uniqueIdCounter),
      _userTag(4294967295u),
      _typeId(0xFFFF),
      _deps() {
    ++_debugNodeCount;
}

Node::~Node() {
    // Deleter sends Deallocate before it destroys a node; a node destroyed
    // without it is one whose derived constructor threw inside Create, and it
    // is still counted.
    if (!IsDeallocated()) {
        --_debugNodeCount;
    }
}

void* Node::Allocator(std::size_t p_size) {
    _debugNodeMemUsage.add(static_cast<int>(p_size));
    try {
        return qeldebug::allocationtracker::allocate(p_size);
    } catch (...) {
        _debugNodeMemUsage.add(-static_cast<int>(p_size));
        throw;
    }
}

void Node::ReleaseFailedConstruction(void* p_memory) noexcept {
    std::size_t const bytes = qeldebug::allocationtracker::deallocate(p_memory);
    _debugNodeMemUsage.add(-static_cast<int>(bytes));
}

namespace Private {

void NodeInternals::WriteLine(std::ostream& p_stream, Node const& p_node) {
    p_stream << "id(" << p_node._uniqueId << ") ";
    p_stream << "name(";
    ::operator<<(p_stream, p_node._name);
    p_stream << ") ";
    p_stream << "type.id(" << p_node._typeId << ") ";
    std::string const name = typeid(p_node).name();
    p_stream << "type(";
    if (name.size() <= 25) {
        p_stream << name;
    } else {
        p_stream << "..." << name.substr(name.size() - 25);
    }
    p_stream << ") ";
}

// "id(..) name(..)", how refusals name a node.
std::string NodeInternals::Describe(Node const& p_node) {
    std::ostringstream text;
    text << "id(" << p_node._uniqueId << ") name(";
    ::operator<<(text, p_node._name);
    text << ")";
    return text.str();
}

}  // namespace Private

TimeStamp const Node::Time() const { return _time; }

std::string const Node::Name() const {
    std::size_t length = 0;
    char const* chars = Utility::LightString_Base<char>::GetPtr(_name, length);
    if (chars == nullptr || length == 0) {
        return std::string();
    }
    return std::string(chars, length);
}

Dependencies& Node::Deps() { return _deps; }
Dependencies const& Node::Deps() const { return _deps; }

// ---------------------------------------------------------------------------
// Linking

Ptr<Node> Node::SelfPtr() const { return _self.Lock(); }

namespace {

// True when `p_target` is reachable from `p_from` along the dependents of
// live trackers. Each object is entered once, so the cost is linear in
// objects plus entries, and the search keeps its own stack.
bool Reaches(IModifiable& p_from, IModifiable const* p_target) {
    std::vector<IModifiable*> pending{&p_from};
    std::unordered_set<IModifiable const*> seen{&p_from};
    while (!pending.empty()) {
        IModifiable* const object = pending.back();
        pending.pop_back();
        if (object == p_target) {
            return true;
        }
        IDependencyTracker* const tracker = dynamic_cast<IDependencyTracker*>(object);
        if (tracker == nullptr) {
            continue;
        }
        for (IModifiable::Identifier const& entry : tracker->Deps()) {
            IModifiable* const next = entry.Get();
            if (next != nullptr && seen.insert(next).second) {
                pending.push_back(next);
            }
        }
    }
    return false;
}

}  // namespace

namespace {
thread_local int t_linkingSuspended = 0;
}  // namespace

Private::LinkingSuspended::LinkingSuspended() noexcept { ++t_linkingSuspended; }
Private::LinkingSuspended::~LinkingSuspended() { --t_linkingSuspended; }
bool Private::LinkingSuspended::Active() noexcept { return t_linkingSuspended != 0; }

void Private::LinkDependent(Node& p_dependent, Node& p_source) {
    if (t_linkingSuspended != 0) {
        return;
    }
    IModifiable& dependent = p_dependent;
    IModifiable const& source = p_source;
    if (&p_dependent == &p_source) {
        throw CyclicDependencyFoundExcept(Private::NodeInternals::Describe(p_dependent) + " cannot depend on itself");
    }
    if (Reaches(dependent, &source)) {
        throw CyclicDependencyFoundExcept(Private::NodeInternals::Describe(p_dependent) + " cannot depend on " +
                                          Private::NodeInternals::Describe(p_source) + ", which depends on it");
    }
    p_source.Deps().Insert(p_dependent);
    if (Private::UndoState* const recorder = Private::ActiveUndoRecorder()) {
        Private::RecordLink(*recorder, p_dependent, p_source, true,
                            Private::LivePosition(p_source.Deps(), nullptr) - 1);
    }
}

bool Node::DependOn(Node& p_source) {
    IModifiable::Identifier const id = static_cast<IModifiable const&>(*this).Id();
    for (IModifiable::Identifier const& entry : p_source.Deps()) {
        if (entry == id && !entry.Expired()) {
            return false;
        }
    }
    Private::LinkDependent(*this, p_source);
    return true;
}

bool Node::StopDependingOn(Node& p_source) {
    Private::UndoState* const recorder = Private::ActiveUndoRecorder();
    std::size_t const position = recorder != nullptr ? Private::LivePosition(p_source.Deps(), this) : 0;
    if (!p_source.Deps().RemoveLive(*this)) {
        return false;
    }
    if (recorder != nullptr) {
        Private::RecordLink(*recorder, *this, p_source, false, position);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Dump

void Node::Dump(std::ostream& p_stream, Verbosity p_verbosity, std::size_t p_indent) const {
    int const verbosity = p_verbosity < 0 ? 0 : (p_verbosity > 3 ? 3 : static_cast<int>(p_verbosity));
    std::string const indent(p_indent, '\t');
    // Beyond 80 the rule would be negative: it stays empty.
    std::string const rule(p_indent < 80 ? 80 - p_indent : 0, '-');
    p_stream << indent << rule << "\n";
    p_stream << indent << "+ ";
    Private::NodeInternals::WriteLine(p_stream, *this);
    p_stream << "\n";
    if (verbosity >= DumpProperties) {
        std::size_t const count = _propertyMap._properties.Size();
        for (std::size_t i = 0; i < count; ++i) {
            IProperty const& property = *_propertyMap._properties[i];
            p_stream << indent << "\t" << property.Name() << " = ";
            if (property.IsValueDefined()) {
                p_stream << property.GetValueAsStringDebug() << "\n";
            } else {
                p_stream << "<" << property.GetValueAsStringDebug() << ">\n";
            }
        }
    }
    if (verbosity >= DumpRefs) {
        std::size_t const count = _explicitRefMap._refs.Size();
        for (std::size_t i = 0; i < count; ++i) {
            IExplicitRef const& ref = *_explicitRefMap._refs[i];
            p_stream << indent << "\t" << (ref.IsRefList() ? "ref-list: " : "ref     : ") << ref.Name() << "\n";
            ref.Dump(p_stream, p_verbosity, static_cast<int>(p_indent + 1));
        }
    }
    if (verbosity >= DumpDependents) {
        if (!_deps.Empty()) {
            p_stream << indent << "\t"
                     << "dependents: \n";
        }
        int i = 0;
        for (IModifiable::Identifier const* entry = _deps.Begin(); entry != _deps.End(); ++entry, ++i) {
            p_stream << indent << "\t"
                     << "    [" << i << "] ";
            if (entry->Expired()) {
                p_stream << "** expired **\n";
                continue;
            }
            IModifiable* const ptr = entry->Get();
            if (ptr == nullptr) {
                Private::ReportEnsure(Private::Report::DumpedEntryWithoutObject);
            }
            Node const* const node = dynamic_cast<Node const*>(ptr);
            if (node != nullptr) {
                Private::NodeInternals::WriteLine(p_stream, *node);
                p_stream << "\n";
            } else {
                p_stream << "## unknown (property?) ##\n";
            }
        }
    }
}

void Node::DumpDebug(qeldebug::dbgostream const& p_stream, Verbosity p_verbosity, std::size_t p_indent) const {
    // The dump writes through a copy of its own, which lives until the buffer is gone.
    qeldebug::dbgostream copy(p_stream);  // NOLINT(performance-unnecessary-copy-initialization)
    Utility::DebugStreamBuf buffer(copy);
    std::ostream stream(&buffer);
    Dump(stream, p_verbosity, p_indent);
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::Node const& p_node) {
    Qel::Chart::Core::Private::NodeInternals::WriteLine(p_stream, p_node);
    return p_stream;
}

std::ostream& operator<<(std::ostream& p_stream, Qel::Chart::Core::Ptr<Qel::Chart::Core::Node> const& p_node) {
    return p_stream << *p_node;
}
