#include "QelChartIO.h"

#include "Registry.h"

#include <boost/core/demangle.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <ostream>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

namespace Qel {
namespace Chart {
namespace IO {
namespace {

using Core::Node;
using Core::Ptr;
using nlohmann::json;

constexpr unsigned int kNoTag = 0xFFFFFFFFu;
// The levels above a property's value: document, nodes, node, properties, property.
constexpr std::size_t kValueDepth = 5;

std::string Describe(Ptr<Node> const& p_node) {
    Core::Accessors::NodeAccess access(p_node);
    std::string name;
    access.GetName(name);
    Node const& node = *p_node;
    return "node \"" + name + "\" (id " + std::to_string(access.UniqueId()) + ", class " +
           boost::core::demangle(typeid(node).name()) + ")";
}

// The number of values in `p_value` and how deep its arrays and objects
// nest, without recursion.
std::pair<std::size_t, std::size_t> Measure(json const& p_value) {
    if (!p_value.is_structured()) {
        return {1, 0};
    }
    std::size_t values = 0;
    std::size_t depth = 0;
    std::vector<std::pair<json const*, std::size_t>> pending{{&p_value, 1}};
    while (!pending.empty()) {
        auto const [value, level] = pending.back();
        pending.pop_back();
        ++values;
        if (value->is_structured()) {
            depth = std::max(depth, level);
            for (json const& child : *value) {
                pending.emplace_back(&child, level + 1);
            }
        }
    }
    return {values, depth};
}

// One save: numbers the nodes in the order they are first met and builds
// the document node by node, in that order.
class Saver {
public:
    /// With `p_everyNodeARoot` (a model's document) the roots are every
    /// node written, so that a model loaded from it holds them all again.
    json Document(std::vector<Ptr<Node>> const& p_roots, bool p_everyNodeARoot) {
        json roots = json::array();
        for (std::size_t index = 0; index < p_roots.size(); ++index) {
            if (!p_roots[index]) {
                throw SaveError("IO::Save: root " + std::to_string(index) + " is an empty Ptr");
            }
            roots.push_back(Number(p_roots[index]));
        }
        json nodes = json::array();
        // The list grows while it is walked: every node saved may bring new ones.
        for (std::size_t number = 0; number < _order.size(); ++number) {
            Ptr<Node> const node = _order[number];
            nodes.push_back(SaveNode(node));
        }
        if (p_everyNodeARoot) {
            roots = json::array();
            for (std::size_t number = 0; number < _order.size(); ++number) {
                roots.push_back(number);
            }
        }
        json document = json::object();
        document["format"] = 1;
        _values += 4 + roots.size();
        document["nodes"] = std::move(nodes);
        document["roots"] = std::move(roots);
        if (_values > kMaxValues) {
            throw SaveError("IO::Save: the document would have " + std::to_string(_values) + " values, more than the " +
                            std::to_string(kMaxValues) + " that IO::Load reads");
        }
        return document;
    }

    /// Names the node and property whose text nlohmann refused to write.
    [[noreturn]] void ThrowUnwritable(json const& p_document, json::exception const& p_error) const {
        json const& nodes = p_document["nodes"];
        for (std::size_t number = 0; number < nodes.size(); ++number) {
            if (!Writable(nodes[number])) {
                std::string where;
                auto const properties = nodes[number].find("properties");
                if (properties != nodes[number].end()) {
                    for (auto const& property : properties->items()) {
                        if (!Writable(property.value())) {
                            where = ", property \"" + property.key() + "\"";
                        }
                    }
                }
                throw SaveError("IO::Save: " + Describe(_order[number]) + where + ": " + p_error.what());
            }
        }
        throw SaveError(std::string("IO::Save: ") + p_error.what());
    }

private:
    static bool Writable(json const& p_value) {
        try {
            (void)p_value.dump();
            return true;
        } catch (json::exception const&) {
            return false;
        }
    }

    std::size_t Number(Ptr<Node> const& p_node) {
        auto const found = _numbers.emplace(p_node.Get(), _order.size());
        if (found.second) {
            _order.push_back(p_node);
        }
        return found.first->second;
    }

    // The entry of a class registered by name, for a node whose C++ class
    // has a namer; null when there is none.
    static Private::ClassEntry const* NamedClass(Node const& p_node, std::type_info const& p_type) {
        Private::ClassNamer const* const namer = Private::FindNamer(p_type);
        if (namer == nullptr) {
            return nullptr;
        }
        std::string const name = (*namer)(p_node);
        return name.empty() ? nullptr : Private::FindClass(name);
    }

    json SaveNode(Ptr<Node> const& p_node) {
        Core::Accessors::NodeAccess access(p_node);
        json node = json::object();
        std::type_info const& type = p_node->Type().Get();
        Private::ClassEntry const* entry =
            _classes.Get(std::type_index(type), [&type](std::type_index const&) { return Private::FindClass(type); });
        if (entry == nullptr) {
            entry = NamedClass(*p_node, type);
        }
        if (entry == nullptr) {
            throw SaveError("IO::Save: " + Describe(p_node) +
                            ": the class has no name to be saved under (IO::RegisterClass)");
        }
        node["class"] = entry->name;
        std::string name;
        access.GetName(name);
        if (!name.empty()) {
            node["name"] = std::move(name);
            ++_values;
        }
        unsigned int tag = kNoTag;
        access.GetUserTag(tag);
        if (tag != kNoTag) {
            node["tag"] = tag;
            ++_values;
        }
        _values += 2;

        json properties = json::object();
        for (Core::Accessors::PropertyAccess const& property : access.GetProperties()) {
            bool defined = false;
            property.IsValueDefined(defined);
            if (defined) {
                properties[property.Name()] = SaveValue(p_node, property);
            }
        }
        if (!properties.empty()) {
            node["properties"] = std::move(properties);
            ++_values;
        }

        json references = json::object();
        std::vector<Ptr<Node>> targets;
        for (Core::Accessors::ExplicitRefAccess const& reference : access.GetExplicitRefs()) {
            reference.GetReferencees(targets);
            if (targets.empty()) {
                continue;
            }
            if (reference.IsRefList()) {
                json numbers = json::array();
                for (Ptr<Node> const& target : targets) {
                    numbers.push_back(Number(target));
                }
                _values += 1 + targets.size();
                references[reference.Name()] = std::move(numbers);
            } else if (targets.size() == 1) {
                ++_values;
                references[reference.Name()] = Number(targets.front());
            } else {
                throw SaveError("IO::Save: " + Describe(p_node) + ", reference \"" + reference.Name() +
                                "\": a reference that is no list gives " + std::to_string(targets.size()) + " nodes");
            }
        }
        if (!references.empty()) {
            node["references"] = std::move(references);
            ++_values;
        }

        // Only entries that name live nodes are saved. Such an entry carries
        // the node's identity, not an owner: the pointer made from it shares
        // the identity's count, which is enough to read the node while the
        // caller's model keeps it alive.
        json dependents = json::array();
        Core::Dependencies const& list = p_node->Deps();
        for (Core::IModifiable::Identifier const* dependent = list.Begin(); dependent != list.End(); ++dependent) {
            Node* const target = dynamic_cast<Node*>(dependent->Get());
            boost::shared_ptr<Core::IModifiable> const identity = dependent->Lifetime().lock();
            if (target != nullptr && identity) {
                dependents.push_back(Number(Ptr<Node>(boost::shared_ptr<Node>(identity, target))));
            }
        }
        if (!dependents.empty()) {
            _values += 1 + dependents.size();
            node["dependents"] = std::move(dependents);
        }
        return node;
    }

    json SaveValue(Ptr<Node> const& p_node, Core::Accessors::PropertyAccess const& p_property) {
        boost::any value;
        p_property.GetValue(value);
        Private::ValueEntry const* const codec =
            _codecs.Get(std::type_index(value.type()),
                        [&value](std::type_index const&) { return Private::FindValue(value.type()); });
        if (codec == nullptr) {
            throw SaveError("IO::Save: " + Describe(p_node) + ", property \"" + p_property.Name() +
                            "\": values of type " + boost::core::demangle(value.type().name()) +
                            " have no codec (IO::RegisterValue)");
        }
        json saved;
        try {
            saved = codec->save(value);
        } catch (std::exception const& e) {
            throw SaveError("IO::Save: " + Describe(p_node) + ", property \"" + p_property.Name() + "\": the " +
                            codec->name + " codec failed: " + e.what());
        }
        auto const [values, depth] = Measure(saved);
        if (depth + kValueDepth > kMaxDepth) {
            throw SaveError("IO::Save: " + Describe(p_node) + ", property \"" + p_property.Name() + "\": the " +
                            codec->name + " codec gives arrays and objects " + std::to_string(depth) +
                            " levels deep, more than IO::Load reads there (" + std::to_string(kMaxDepth - kValueDepth) +
                            ")");
        }
        _values += 3 + values;
        json property = json::object();
        property["type"] = codec->name;
        property["value"] = std::move(saved);
        return property;
    }

    std::vector<Ptr<Node>> _order;
    std::unordered_map<Node const*, std::size_t> _numbers;
    std::size_t _values = 0;
    Private::Memo<std::type_index, Private::ClassEntry> _classes;
    Private::Memo<std::type_index, Private::ValueEntry> _codecs;
};

std::string Write(std::vector<Ptr<Node>> const& p_roots, bool p_everyNodeARoot) {
    Saver saver;
    json const document = saver.Document(p_roots, p_everyNodeARoot);
    std::string text;
    try {
        text = document.dump();
    } catch (json::exception const& e) {
        saver.ThrowUnwritable(document, e);
    }
    if (text.size() > kMaxDocumentBytes) {
        throw SaveError("IO::Save: the document would have " + std::to_string(text.size()) + " bytes, more than the " +
                        std::to_string(kMaxDocumentBytes) + " that IO::Load reads");
    }
    return text;
}

}  // namespace

std::string Save(std::vector<Ptr<Node>> const& p_roots) { return Write(p_roots, false); }

void Save(std::ostream& p_stream, std::vector<Ptr<Node>> const& p_roots) {
    std::string const text = Save(p_roots);
    p_stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string Save(Core::Model const& p_model) { return Write(p_model.Nodes(), true); }

void Save(std::ostream& p_stream, Core::Model const& p_model) {
    std::string const text = Save(p_model);
    p_stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace IO
}  // namespace Chart
}  // namespace Qel
