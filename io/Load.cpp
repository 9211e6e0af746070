#include "QelChartIO.h"

#include "JsonReader.h"
#include "Registry.h"

#include <boost/core/demangle.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <istream>
#include <list>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

namespace Qel {
namespace Chart {
namespace IO {
namespace {

using Core::Node;
using Core::Ptr;
using Core::Accessors::ExplicitRefAccess;
using Core::Accessors::NodeAccess;
using Core::Accessors::PropertyAccess;
using nlohmann::json;

/// Nodes deleted last made first when it ends: numbers follow the order in
/// which saving met the nodes, so a node usually goes after the nodes listed
/// as its dependents and its `Deallocate` has no one left to walk to. Holds
/// the nodes of a load while it runs (a failed load deletes them as any
/// node is deleted, notices included), and then the nodes that are no
/// roots, for as long as a root lives.
struct LoadedNodes {
    LoadedNodes() = default;
    LoadedNodes(LoadedNodes const&) = delete;
    LoadedNodes& operator=(LoadedNodes const&) = delete;
    ~LoadedNodes() {
        while (!nodes.empty()) {
            nodes.pop_back();
        }
    }
    std::vector<Ptr<Node>> nodes;
};

[[noreturn]] void Fail(std::string p_pointer, std::string p_cause) {
    throw LoadError(std::move(p_pointer), std::move(p_cause));
}

std::string Found(json const& p_value) { return std::string(p_value.type_name()); }

std::string Quoted(std::string const& p_text) { return "\"" + p_text + "\""; }

std::string Member(std::string const& p_at, std::string const& p_key) {
    return p_at + "/" + Private::PointerToken(p_key);
}

json::object_t const& ObjectAt(json const& p_value, std::string const& p_at) {
    if (!p_value.is_object()) {
        Fail(p_at, "expected an object, found " + Found(p_value));
    }
    return p_value.get_ref<json::object_t const&>();
}

json::array_t const& ArrayAt(json const& p_value, std::string const& p_at) {
    if (!p_value.is_array()) {
        Fail(p_at, "expected an array, found " + Found(p_value));
    }
    return p_value.get_ref<json::array_t const&>();
}

/// Refuses a key that is not one of `p_known`.
void CheckKeys(json::object_t const& p_object, std::string const& p_at, std::initializer_list<char const*> p_known) {
    for (auto const& member : p_object) {
        bool known = false;
        for (char const* const key : p_known) {
            known = known || member.first == key;
        }
        if (!known) {
            std::string list;
            for (char const* const key : p_known) {
                list += (list.empty() ? "" : ", ") + std::string(key);
            }
            Fail(Member(p_at, member.first), "unknown key " + Quoted(member.first) + " (known: " + list + ")");
        }
    }
}

json const* Find(json::object_t const& p_object, char const* p_key) {
    auto const found = p_object.find(p_key);
    return found == p_object.end() ? nullptr : &found->second;
}

std::string ValueTypeName(std::type_info const& p_type) {
    Private::ValueEntry const* const codec = Private::FindValue(p_type);
    return codec != nullptr ? Quoted(codec->name) : boost::core::demangle(p_type.name());
}

// The text of the exception that is being handled.
std::string CurrentCause() {
    try {
        throw;
    } catch (std::exception const& e) {
        return e.what();
    } catch (...) {
        return "an exception that is no std::exception";
    }
}

// One load: makes every node first (class, name, tag, properties), then
// attaches the references, then fills the dependents lists, so that setting
// values and attaching references find no dependents to walk to.
class Loader {
public:
    Loader(json const& p_document, std::vector<Ptr<Node>>& p_nodes) : _document(p_document), _nodes(p_nodes) {}

    /// The numbers of the roots.
    std::vector<std::size_t> Run() {
        json::object_t const& top = ObjectAt(_document, "");
        CheckKeys(top, "", {"format", "nodes", "roots"});
        json const* const format = Find(top, "format");
        if (format == nullptr) {
            Fail("", "no \"format\": not a document that IO::Save wrote");
        }
        if (!format->is_number_integer() || *format != 1) {
            Fail("/format", "unknown format " + format->dump() + " (this library reads format 1)");
        }
        json const* const nodes = Find(top, "nodes");
        json const* const roots = Find(top, "roots");
        if (nodes == nullptr || roots == nullptr) {
            Fail("", nodes == nullptr ? "no \"nodes\"" : "no \"roots\"");
        }
        json::array_t const& list = ArrayAt(*nodes, "/nodes");
        json::array_t const& rootList = ArrayAt(*roots, "/roots");

        _nodes.reserve(list.size());
        _classes.reserve(list.size());
        for (std::size_t number = 0; number < list.size(); ++number) {
            MakeNode(list[number], "/nodes/" + std::to_string(number));
        }
        for (std::size_t number = 0; number < list.size(); ++number) {
            if (json const* const references = Find(list[number].get_ref<json::object_t const&>(), "references")) {
                AttachReferences(number, *references, "/nodes/" + std::to_string(number) + "/references");
            }
        }
        for (std::size_t number = 0; number < list.size(); ++number) {
            if (json const* const dependents = Find(list[number].get_ref<json::object_t const&>(), "dependents")) {
                FillDependents(number, *dependents, "/nodes/" + std::to_string(number) + "/dependents");
            } else {
                // Saved empty: what a linking reference put there goes again.
                _nodes[number]->Deps().Clear();
            }
        }
        std::vector<std::size_t> result;
        result.reserve(rootList.size());
        for (std::size_t index = 0; index < rootList.size(); ++index) {
            result.push_back(NumberAt(rootList[index], "/roots/" + std::to_string(index)));
        }
        return result;
    }

private:
    void MakeNode(json const& p_node, std::string const& p_at) {
        json::object_t const& node = ObjectAt(p_node, p_at);
        CheckKeys(node, p_at, {"class", "name", "tag", "properties", "references", "dependents"});
        json const* const className = Find(node, "class");
        if (className == nullptr || !className->is_string()) {
            Fail(className == nullptr ? p_at : p_at + "/class",
                 className == nullptr ? "no \"class\"" : "expected a class name, found " + Found(*className));
        }
        std::string const& name = className->get_ref<std::string const&>();
        Private::ClassEntry const* const entry =
            _classMemo.Get(name, [](std::string const& p_name) { return Private::FindClass(p_name); });
        if (entry == nullptr) {
            Fail(p_at + "/class", "unknown class " + Quoted(name) + " (not registered with IO::RegisterClass)");
        }
        try {
            _nodes.push_back(entry->factory());
        } catch (...) {
            Fail(p_at + "/class", "making a " + Quoted(name) + " failed: " + CurrentCause());
        }
        _classes.push_back(entry);
        Ptr<Node> const& made = _nodes.back();
        NodeAccess access(made);

        if (json const* const nodeName = Find(node, "name")) {
            if (!nodeName->is_string()) {
                Fail(p_at + "/name", "expected a string, found " + Found(*nodeName));
            }
            std::string const& text = nodeName->get_ref<std::string const&>();
            if (text.size() >= Utility::LightString_Base<char>::max_string_length) {
                Fail(p_at + "/name", "the name has " + std::to_string(text.size()) +
                                         " bytes; a node name holds at most " +
                                         std::to_string(Utility::LightString_Base<char>::max_string_length - 1));
            }
            access.SetName(text);
        }
        if (json const* const tag = Find(node, "tag")) {
            if (!tag->is_number_unsigned() || tag->get<std::uint64_t>() > 0xFFFFFFFFu) {
                Fail(p_at + "/tag", "expected a whole number from 0 to 4294967295, found " + tag->dump());
            }
            access.SetUserTag(tag->get<unsigned int>());
        }
        json const* const properties = Find(node, "properties");
        LoadProperties(access, properties, p_at + "/properties");
    }

    void LoadProperties(NodeAccess& p_access, json const* p_properties, std::string const& p_at) {
        std::list<PropertyAccess> properties = p_access.GetProperties();
        std::vector<std::pair<std::string, PropertyAccess*>> table;
        table.reserve(properties.size());
        for (PropertyAccess& property : properties) {
            table.emplace_back(property.Name(), &property);
        }
        std::vector<bool> given(table.size(), false);
        if (p_properties != nullptr) {
            for (auto const& member : ObjectAt(*p_properties, p_at)) {
                std::string const at = Member(p_at, member.first);
                std::size_t index = 0;
                while (index < table.size() && table[index].first != member.first) {
                    ++index;
                }
                if (index == table.size()) {
                    Fail(at, "class " + Quoted(_classes.back()->name) + " has no property " + Quoted(member.first));
                }
                LoadValue(*table[index].second, member.second, at);
                given[index] = true;
            }
        }
        // A property that the document leaves out was undefined when it was saved.
        for (std::size_t index = 0; index < table.size(); ++index) {
            bool defined = false;
            table[index].second->IsValueDefined(defined);
            if (!given[index] && defined) {
                try {
                    table[index].second->ResetValue();
                } catch (...) {
                    Fail(Member(p_at, table[index].first), "resetting the property failed: " + CurrentCause());
                }
            }
        }
    }

    void LoadValue(PropertyAccess& p_property, json const& p_entry, std::string const& p_at) {
        json::object_t const& entry = ObjectAt(p_entry, p_at);
        CheckKeys(entry, p_at, {"type", "value"});
        json const* const type = Find(entry, "type");
        json const* const value = Find(entry, "value");
        if (type == nullptr || value == nullptr) {
            Fail(p_at, type == nullptr ? "no \"type\"" : "no \"value\"");
        }
        if (!type->is_string()) {
            Fail(p_at + "/type", "expected a value type name, found " + Found(*type));
        }
        std::string const& typeName = type->get_ref<std::string const&>();
        Private::ValueEntry const* const codec =
            _codecMemo.Get(typeName, [](std::string const& p_name) { return Private::FindValue(p_name); });
        if (codec == nullptr) {
            Fail(p_at + "/type", "unknown value type " + Quoted(typeName) + " (not registered with IO::RegisterValue)");
        }
        if (*codec->type != p_property.Type()) {
            Fail(p_at + "/type",
                 "the property holds " + ValueTypeName(p_property.Type()) + ", not " + Quoted(typeName));
        }
        boost::any loaded;
        try {
            loaded = codec->load(*value);
        } catch (...) {
            Fail(p_at + "/value", CurrentCause());
        }
        try {
            p_property.SetValue(loaded);
        } catch (...) {
            Fail(p_at + "/value", "the property refused the value: " + CurrentCause());
        }
    }

    void AttachReferences(std::size_t p_number, json const& p_references, std::string const& p_at) {
        Ptr<Node> const& node = _nodes[p_number];
        std::list<ExplicitRefAccess> references = NodeAccess(node).GetExplicitRefs();
        for (auto const& member : ObjectAt(p_references, p_at)) {
            std::string const at = Member(p_at, member.first);
            auto reference = references.begin();
            while (reference != references.end() && reference->Name() != member.first) {
                ++reference;
            }
            if (reference == references.end()) {
                Fail(at, "class " + Quoted(_classes[p_number]->name) + " has no reference " + Quoted(member.first));
            }
            if (reference->IsRefList()) {
                json::array_t const& targets = ArrayAt(member.second, at);
                for (std::size_t index = 0; index < targets.size(); ++index) {
                    Attach(*reference, targets[index], at + "/" + std::to_string(index));
                }
            } else {
                Attach(*reference, member.second, at);
            }
        }
    }

    void Attach(ExplicitRefAccess& p_reference, json const& p_target, std::string const& p_at) {
        Ptr<Node> const& target = _nodes[NumberAt(p_target, p_at)];
        try {
            p_reference.Attach(target);
        } catch (...) {
            Node const& node = *target;
            Fail(p_at, "the reference refused node " + p_target.dump() + " (class " +
                           boost::core::demangle(typeid(node).name()) + "): " + CurrentCause());
        }
    }

    void FillDependents(std::size_t p_number, json const& p_dependents, std::string const& p_at) {
        json::array_t const& numbers = ArrayAt(p_dependents, p_at);
        std::vector<std::size_t> targets;
        targets.reserve(numbers.size());
        for (std::size_t index = 0; index < numbers.size(); ++index) {
            targets.push_back(NumberAt(numbers[index], p_at + "/" + std::to_string(index)));
        }
        // The list as saved, in place of what attaching references may have
        // put there (a reference that links its owner as a dependent).
        Core::Dependencies& list = _nodes[p_number]->Deps();
        try {
            list.Clear();
            list.Reserve(targets.size());  // an exact-size list would be copied at every insert
            for (std::size_t const target : targets) {
                list.Insert(*_nodes[target]);
            }
        } catch (...) {
            Fail(p_at, "filling the list failed: " + CurrentCause());
        }
    }

    std::size_t NumberAt(json const& p_value, std::string const& p_at) const {
        if (!p_value.is_number_integer()) {
            Fail(p_at, "expected a node number, found " + Found(p_value));
        }
        if (!p_value.is_number_unsigned() || p_value.get<std::uint64_t>() >= _nodes.size()) {
            Fail(p_at, "node " + p_value.dump() + " is out of range: the document has " +
                           std::to_string(_nodes.size()) + " nodes");
        }
        return static_cast<std::size_t>(p_value.get<std::uint64_t>());
    }

    json const& _document;
    std::vector<Ptr<Node>>& _nodes;
    std::vector<Private::ClassEntry const*> _classes;
    Private::Memo<std::string, Private::ClassEntry> _classMemo;
    Private::Memo<std::string, Private::ValueEntry> _codecMemo;
};

// The whole stream, refused beyond the size a document may have.
std::string ReadAll(std::istream& p_stream, char const* p_reader) {
    std::string text;
    char buffer[1 << 16];
    while (p_stream.read(buffer, sizeof buffer) || p_stream.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(p_stream.gcount()));
        if (text.size() > kMaxDocumentBytes) {
            throw LoadError("", "the document has more than the " + std::to_string(kMaxDocumentBytes) + " bytes that " +
                                    p_reader + " reads");
        }
    }
    if (p_stream.bad()) {
        throw LoadError("", "reading the stream failed");
    }
    return text;
}

}  // namespace

std::vector<Ptr<Node>> Load(std::string_view p_document) {
    json const document = Private::ReadJson(p_document);
    LoadedNodes made;
    std::vector<std::size_t> roots;
    {
        // The lists are filled as saved once every reference is attached:
        // linking references re-linked one by one could refuse a saved
        // model (two that point at each other, one link removed since).
        Core::Private::LinkingSuspended const suspended;
        roots = Loader(document, made.nodes).Run();
    }
    std::vector<Ptr<Node>> result;
    result.reserve(roots.size());
    std::vector<bool> isRoot(made.nodes.size(), false);
    for (std::size_t const number : roots) {
        result.push_back(made.nodes[number]);
        isRoot[number] = true;
    }
    // The roots are ordinary nodes; together they keep the rest of the
    // model, which ends after the last of them.
    auto const rest = std::make_shared<LoadedNodes>();
    for (std::size_t number = 0; number < made.nodes.size(); ++number) {
        if (!isRoot[number]) {
            rest->nodes.push_back(std::move(made.nodes[number]));
        }
    }
    made.nodes.clear();
    if (!rest->nodes.empty()) {
        for (std::size_t index = 0; index < roots.size(); ++index) {
            if (isRoot[roots[index]]) {  // once per node, however often it is a root
                isRoot[roots[index]] = false;
                Core::Private::KeepUntilDeleted(*result[index], rest);
            }
        }
    }
    return result;
}

std::vector<Ptr<Node>> Load(std::istream& p_stream) { return Load(std::string_view(ReadAll(p_stream, "IO::Load"))); }

// A model holds every node of the document, roots or not.
Core::Model LoadModel(std::string_view p_document) {
    json const document = Private::ReadJson(p_document);
    LoadedNodes made;
    {
        // As for Load: the lists are filled as saved once every reference is attached.
        Core::Private::LinkingSuspended const suspended;
        (void)Loader(document, made.nodes).Run();
    }
    Core::Model model;
    for (Ptr<Node> const& node : made.nodes) {
        model.Add(node);
    }
    return model;
}

Core::Model LoadModel(std::istream& p_stream) {
    return LoadModel(std::string_view(ReadAll(p_stream, "IO::LoadModel")));
}

}  // namespace IO
}  // namespace Chart
}  // namespace Qel
