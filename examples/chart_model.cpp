// chart_model: what Qel.Chart.Core is for, shown on a small chart model.
//
//     bash scripts/example.sh
//
// A Chart shows two DataSeries ("Open price", "Close price") drawn against a
// time axis and a price axis, and a Legend that lists the series. Each is a
// node class of its own with typed properties and typed references; the
// references are made with RefLink::Dependent, so that a node depends on
// what it references and a change of one node reaches every node whose
// drawing depends on it. The program then goes through the library's
// features one step at a time and prints what happens; it reacts to changes
// through subscriptions (Node::OnTouched, Property<T>::OnChanged).
//
// It exits with a non-zero code if something it shows did not hold, above
// all if any node or tracked byte is left behind at the end.
#include <QelChartCore.h>
#include <QelChartIO.h>

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace model {

using Qel::Chart::Core::IModifiable;
using Qel::Chart::Core::Node;
using Qel::Chart::Core::Property;
using Qel::Chart::Core::Ptr;
using Qel::Chart::Core::RefLink;
using Qel::Chart::Core::Subscription;
using Qel::Chart::Core::TouchEvent;
using Qel::Chart::Core::TypedRef;
using Qel::Chart::Core::TypedRefList;

/// An RGB colour. Its operator<< is what dumps and property listings show.
struct Colour {
    unsigned char _red;
    unsigned char _green;
    unsigned char _blue;
};

std::ostream& operator<<(std::ostream& p_stream, Colour const& p_colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", p_colour._red, p_colour._green, p_colour._blue);
    return p_stream << text;
}

/// One notification as a node received it.
struct Notice {
    std::string _receiver;
    IModifiable::ModifiableType _type;
    IModifiable::Change _change;
    IModifiable::Relationship _relationship;
    std::string _origin;  // the originator's name; empty when the receiver itself changed
    std::string _source;  // the name of the object in which the change arose
};

/// Collects the touches that the given nodes receive while it lives: one
/// OnTouched subscription per node. A real chart would drop a cached
/// layout in such a callback.
class Journal {
public:
    explicit Journal(std::vector<Ptr<Node>> const& p_nodes) {
        for (Ptr<Node> const& node : p_nodes) {
            Node const* const receiver = node.Get();
            _subscriptions.push_back(
                node->OnTouched([this, receiver](TouchEvent const& p_event) { Write(*receiver, p_event); }));
        }
    }
    Journal(Journal const&) = delete;
    Journal& operator=(Journal const&) = delete;

    std::vector<Notice> const& Notices() const { return _notices; }

private:
    void Write(Node const& p_receiver, TouchEvent const& p_event) {
        std::string origin;
        if (p_event.relationship != IModifiable::Self) {
            // A node being deleted has lost its last owner before its
            // dependents hear of it, so its weak pointer has expired by then.
            origin =
                p_event.originator.Expired() ? p_event.name + " (already released)" : p_event.originator.Lock()->Name();
        }
        _notices.push_back(
            Notice{p_receiver.Name(), p_event.type, p_event.change, p_event.relationship, origin, p_event.name});
    }

    std::vector<Notice> _notices;
    std::vector<Subscription> _subscriptions;  // cancelled first, when the journal ends
};

/// A value axis: a label, a range and a colour.
class Axis : public Node {
public:
    Axis()
        : _label(*this, "label"),
          _min(*this, "min", 0.0),
          _max(*this, "max", 1.0),
          _colour(*this, "colour", Colour{0x40, 0x40, 0x40}) {}

    Property<std::string>& Label() { return _label; }
    Property<double>& Min() { return _min; }
    Property<double>& Max() { return _max; }

private:
    // Properties register themselves on the node in declaration order.
    Property<std::string> _label;
    Property<double> _min;
    Property<double> _max;
    Property<Colour> _colour;
};

/// A line of data points, drawn against one x and one y axis: it is drawn
/// in their coordinates, so it depends on them.
class DataSeries : public Node {
public:
    DataSeries()
        : _label(*this, "label"),
          _colour(*this, "colour", Colour{0x00, 0x00, 0x00}),
          _lineWidth(*this, "line width", 1.0),
          _xAxis(*this, "x axis", RefLink::Dependent),
          _yAxis(*this, "y axis", RefLink::Dependent) {}

    Property<std::string>& Label() { return _label; }
    Property<Colour>& LineColour() { return _colour; }
    TypedRef<Axis>& XAxis() { return _xAxis; }
    TypedRef<Axis>& YAxis() { return _yAxis; }

private:
    Property<std::string> _label;
    Property<Colour> _colour;
    Property<double> _lineWidth;
    TypedRef<Axis> _xAxis;
    TypedRef<Axis> _yAxis;
};

/// The box that names the series in their colours, so it depends on them.
class Legend : public Node {
public:
    Legend() : _position(*this, "position", std::string("top right")), _entries(*this, "entries", RefLink::Dependent) {}

    TypedRefList<DataSeries>& Entries() { return _entries; }

private:
    Property<std::string> _position;
    TypedRefList<DataSeries> _entries;
};

/// The chart itself: a title, a background, and what it shows. It composes
/// everything, so it depends on every other node.
class Chart : public Node {
public:
    Chart()
        : _title(*this, "title"),
          _background(*this, "background", Colour{0xff, 0xff, 0xff}),
          _axes(*this, "axes", RefLink::Dependent),
          _series(*this, "series", RefLink::Dependent),
          _legend(*this, "legend", RefLink::Dependent) {}

    Property<std::string>& Title() { return _title; }
    TypedRefList<Axis>& Axes() { return _axes; }
    TypedRefList<DataSeries>& Series() { return _series; }
    TypedRef<Legend>& LegendRef() { return _legend; }

private:
    Property<std::string> _title;
    Property<Colour> _background;
    TypedRefList<Axis> _axes;
    TypedRefList<DataSeries> _series;
    TypedRef<Legend> _legend;
};

}  // namespace model

namespace {

using namespace Qel::Chart::Core;
using model::Axis;
using model::Chart;
using model::Colour;
using model::DataSeries;
using model::Journal;
using model::Legend;
using model::Notice;

int g_failures = 0;

// The program checks what it claims; a claim that does not hold fails the run.
void Expect(bool p_condition, std::string const& p_claim) {
    if (!p_condition) {
        std::cout << "  UNEXPECTED: " << p_claim << " does not hold\n";
        ++g_failures;
    }
}

void Heading(int p_step, std::string const& p_title) {
    std::string const text = "Step " + std::to_string(p_step) + ". " + p_title;
    std::cout << "\n" << text << "\n" << std::string(text.size(), '-') << "\n";
}

std::string Join(std::vector<std::string> const& p_parts) {
    std::string text;
    for (std::string const& part : p_parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text.empty() ? "(none)" : text;
}

std::string Padded(std::string p_text, std::size_t p_width) {
    if (p_text.size() < p_width) {
        p_text.resize(p_width, ' ');
    }
    return p_text;
}

template <class T>
std::string Text(T const& p_value) {
    std::ostringstream text;
    text << p_value;
    return text.str();
}

/// The names in a node's dependents list, expired entries included.
std::vector<std::string> DependentNames(Node const& p_node) {
    std::vector<std::string> names;
    for (IModifiable::Identifier const& entry : p_node.Deps()) {
        Node const* dependent = dynamic_cast<Node const*>(entry.Get());
        names.push_back(entry.Expired() ? "(expired)" : dependent != nullptr ? dependent->Name() : "(not a node)");
    }
    return names;
}

std::vector<std::string> ReferencedNames(Accessors::ExplicitRefAccess const& p_ref) {
    std::vector<Ptr<Node>> nodes;
    p_ref.GetReferencees(nodes);
    std::vector<std::string> names;
    for (Ptr<Node> const& node : nodes) {
        names.push_back(node->Name());
    }
    return names;
}

void PrintJournal(Journal const& p_journal) {
    int number = 0;
    for (Notice const& notice : p_journal.Notices()) {
        std::string from = notice._origin;
        if (notice._relationship == IModifiable::Self) {
            from = notice._type == IModifiable::TypeProperty      ? "itself: property \"" + notice._source + "\""
                   : notice._type == IModifiable::TypeExplicitRef ? "itself: reference \"" + notice._source + "\""
                                                                  : "itself";
        }
        std::cout << "  " << std::setw(2) << ++number << ". " << Padded(notice._receiver + ":", 13)
                  << Padded(Text(notice._relationship), 24) << Padded(Text(notice._change), 20) << "from " << from
                  << "\n";
    }
}

int TimesHeard(Journal const& p_journal, std::string const& p_name) {
    int count = 0;
    for (Notice const& notice : p_journal.Notices()) {
        count += notice._receiver == p_name ? 1 : 0;
    }
    return count;
}

/// The chart's nodes, held by a Model: explicit references and dependency
/// lists are weak, so the model is what keeps the nodes alive. Nodes are
/// found by the names they were made with.
struct Scene {
    Model model;

    Ptr<Chart> ChartNode() const { return model.Find<Chart>("Chart"); }
    Ptr<Axis> TimeAxis() const { return model.Find<Axis>("Time axis"); }
    Ptr<Axis> PriceAxis() const { return model.Find<Axis>("Price axis"); }
    Ptr<DataSeries> Open() const { return model.Find<DataSeries>("Open price"); }
    Ptr<DataSeries> Close() const { return model.Find<DataSeries>("Close price"); }
    Ptr<DataSeries> Volume() const { return model.Find<DataSeries>("Volume"); }  // made in step 5 by cloning
    Ptr<Legend> LegendNode() const { return model.Find<Legend>("Legend"); }

    std::vector<Ptr<Node>> const& Nodes() const { return model.Nodes(); }
};

/// Puts a series on the chart: drawn against both axes, listed in the legend.
/// The references depend on what they point at, so this links the nodes too.
void AddSeries(Scene& p_model, Ptr<DataSeries> const& p_series) {
    p_series->XAxis().Attach(p_model.TimeAxis());
    p_series->YAxis().Attach(p_model.PriceAxis());
    p_model.LegendNode()->Entries().Attach(p_series);
    p_model.ChartNode()->Series().Attach(p_series);
}

// Step 1: nodes are made by Node::Create<T>(), named, given property values
// and pointed at each other by typed references, which link them by
// dependencies as well.
void StepBuild(Scene& p_model) {
    Heading(1, "Build a chart model");
    Scene& m = p_model;
    m.model.Create<Chart>("Chart");
    m.model.Create<Axis>("Time axis");
    m.model.Create<Axis>("Price axis");
    m.model.Create<DataSeries>("Open price");
    m.model.Create<DataSeries>("Close price");
    m.model.Create<Legend>("Legend");

    m.ChartNode()->Title().Set("ACME shares, March");
    m.TimeAxis()->Label().Set("trading day");
    m.TimeAxis()->Min().Set(1.0);
    m.TimeAxis()->Max().Set(21.0);
    m.PriceAxis()->Label().Set("price in USD");
    m.PriceAxis()->Min().Set(90.0);
    m.PriceAxis()->Max().Set(130.0);
    m.Open()->Label().Set("open");
    m.Open()->LineColour().Set(Colour{0x1f, 0x77, 0xb4});
    m.Close()->Label().Set("close");
    m.Close()->LineColour().Set(Colour{0xff, 0x7f, 0x0e});

    AddSeries(m, m.Open());
    AddSeries(m, m.Close());
    m.ChartNode()->Axes().Attach(m.TimeAxis());
    m.ChartNode()->Axes().Attach(m.PriceAxis());
    m.ChartNode()->LegendRef().Attach(m.LegendNode());

    std::cout << "Six nodes of four client classes, each derived from Node and made with\n"
                 "Node::Create<T>(). Typed references (TypedRef<T>, TypedRefList<T>) point\n"
                 "from a node to others:\n\n";
    for (Ptr<Node> const& node : m.Nodes()) {
        Accessors::NodeAccess access(node);
        for (Accessors::ExplicitRefAccess const& ref : access.GetExplicitRefs()) {
            std::cout << "  " << Padded(node->Name() + "." + ref.Name(), 20) << "-> " << Join(ReferencedNames(ref))
                      << "\n";
        }
    }
    std::cout << "\nThey were made with RefLink::Dependent, so each node is in the dependency\n"
                 "list of every node it references. Dependency lists say who is told when a\n"
                 "node changes:\n\n";
    for (Ptr<Node> const& node : m.Nodes()) {
        std::cout << "  " << Padded(node->Name(), 20) << "-> " << Join(DependentNames(*node)) << "\n";
    }
}

// Step 2: one property edit, and every notification it causes, in order.
void StepPropagation(Scene& p_model) {
    Heading(2, "Edit a property and follow the change");
    std::cout << "priceAxis->Max().Set(150.0) stamps the axis and walks its dependents depth\n"
                 "first, in list order. A journal subscribed to every node with OnTouched\n"
                 "logs what each hears; a subscriber of the property itself (OnChanged) is\n"
                 "called once the change has reached everyone:\n\n";
    Journal journal(p_model.Nodes());
    std::size_t heardBeforeRescale = 0;
    Subscription const rescale = p_model.PriceAxis()->Max().OnChanged([&](Property<double> const& p_max) {
        heardBeforeRescale = journal.Notices().size();
        std::cout << "  OnChanged: the price axis now ends at " << p_max.Get() << "\n\n";
    });
    p_model.PriceAxis()->Max().Set(150.0);
    PrintJournal(journal);
    std::cout << "\nDirect dependents hear \"explicit\", those further down \"implicit\". The walk\n"
                 "keeps no record of where it has been, so a node reached along several paths\n"
                 "hears the change once per path: the Legend "
              << TimesHeard(journal, "Legend") << " times, the Chart " << TimesHeard(journal, "Chart") << " times.\n";
    Expect(!journal.Notices().empty() && journal.Notices().front()._receiver == "Price axis" &&
               journal.Notices().front()._relationship == IModifiable::Self,
           "the edited axis hears its own change first");
    Expect(heardBeforeRescale == journal.Notices().size(), "OnChanged runs after the change has propagated");
}

/// A drawing cached for one node, valid until the node's stamp moves.
struct CachedDrawing {
    std::string _name;
    ModificationWatcher _watcher;
};

void ReportRedraws(std::vector<CachedDrawing>& p_drawings, std::vector<std::string> const& p_expected) {
    std::vector<std::string> redraw;
    std::vector<std::string> keep;
    for (CachedDrawing& drawing : p_drawings) {
        (drawing._watcher.Modified() ? redraw : keep).push_back(drawing._name);
        drawing._watcher.Reset();  // drawn again: the cache is clean
    }
    std::cout << "    redraw: " << Join(redraw) << "\n"
              << "    keep:   " << Join(keep) << "\n";
    Expect(redraw == p_expected, "exactly " + Join(p_expected) + " need redrawing");
}

// Step 3: watchers turn notifications into "what changed since I last looked".
void StepWatchers(Scene& p_model) {
    Heading(3, "Watchers: which drawings must be redone");
    std::cout << "One ModificationWatcher per node stands for that node's cached drawing. It\n"
                 "remembers the node's stamp, and every node that a change reaches advances\n"
                 "its own stamp, so a watcher sees changes of everything its node depends on,\n"
                 "however often the node heard of them.\n";
    std::vector<CachedDrawing> drawings;
    for (Ptr<Node> const& node : p_model.Nodes()) {
        drawings.push_back(CachedDrawing{node->Name(), ModificationWatcher(*node)});
    }

    std::cout << "\n  close->LineColour().Set({0xd6, 0x27, 0x28})\n";
    p_model.Close()->LineColour().Set(Colour{0xd6, 0x27, 0x28});
    ReportRedraws(drawings, {"Chart", "Close price", "Legend"});

    std::cout << "\n  timeAxis->Max().Set(23.0)\n";
    p_model.TimeAxis()->Max().Set(23.0);
    ReportRedraws(drawings, {"Chart", "Time axis", "Open price", "Close price", "Legend"});

    std::cout << "\n  timeAxis->Max().Update(23.0)   // the value it has: Update does nothing\n";
    bool const updated = p_model.TimeAxis()->Max().Update(23.0);
    ReportRedraws(drawings, {});
    Expect(!updated, "Update of an unchanged value changes nothing");
}

// Step 4: the cycle test guards the dependency graph.
void StepCycle(Scene& p_model) {
    Heading(4, "Refuse a link that would close a cycle");
    std::cout << "A model should stay free of cycles: a change would come back to where it\n"
                 "started. Node::DependOn (like a typed reference with RefLink::Dependent)\n"
                 "refuses a link that would close one: it throws CyclicDependencyFoundExcept\n"
                 "and changes nothing.\n\n"
                 "  Try: the Price axis depends on the Legend (rescale when the legend moves).\n"
                 "  But the Legend already depends on the Price axis through the series.\n";
    Legend& legend = *p_model.LegendNode();
    std::cout << "  Legend -> " << Join(DependentNames(legend)) << "   (before)\n";
    bool refused = false;
    try {
        p_model.PriceAxis()->DependOn(legend);
    } catch (CyclicDependencyFoundExcept const& error) {
        refused = true;
        std::cout << "  refused: " << error.what() << "\n";
    }
    std::cout << "  Legend -> " << Join(DependentNames(legend)) << "   (after: unchanged)\n"
              << "  cycle reachable from the Legend now: "
              << (Dependencies::HasCyclicDependency(legend.Id()) ? "yes" : "no") << "\n";
    Expect(refused, "the cyclic link is refused");
    Expect(DependentNames(legend) == std::vector<std::string>{"Chart"}, "the Legend's list is as before");
}

// Step 5: the type registry makes a fresh node of a given node's class.
void StepClone(Scene& p_model) {
    Heading(5, "Clone a node by its type");
    std::cout << "Node::CreateTypeOf(open) makes a fresh node of the same class through the\n"
                 "factory registered for its type id. It copies the class, not the content:\n\n";
    Ptr<Node> clone = Node::CreateTypeOf(p_model.Open());
    Ptr<DataSeries> volume = DynamicPtrCast<DataSeries>(clone);  // throws if it were no DataSeries
    std::cout << "  original: " << p_model.Open() << "\n"
              << "  clone:    " << clone << "\n"
              << "  same class: " << (clone->Type().Get() == p_model.Open()->Type().Get() ? "yes" : "no")
              << ", label: " << Accessors::PropertyAccess(clone, std::string("label")).GetValueAsStringDebug()
              << ", colour: " << Accessors::PropertyAccess(clone, std::string("colour")).GetValueAsStringDebug()
              << "\n";
    Expect(clone->Type().Get() == typeid(DataSeries), "the clone is a DataSeries");

    Accessors::NodeAccess(clone).SetName("Volume");
    volume->Label().Set("volume");
    volume->LineColour().Set(Colour{0x2c, 0xa0, 0x2c});
    AddSeries(p_model, volume);
    p_model.model.Add(volume);
    std::cout << "\n  Named \"Volume\", coloured and added to the chart like the others:\n"
              << "  Time axis  -> " << Join(DependentNames(*p_model.TimeAxis())) << "\n"
              << "  Legend.entries -> "
              << Join(ReferencedNames(Accessors::ExplicitRefAccess(p_model.LegendNode(), std::string("entries"))))
              << "\n";
}

std::string TypeLabel(std::type_info const& p_type) {
    if (p_type == typeid(double)) {
        return "number";
    }
    if (p_type == typeid(std::string)) {
        return "text";
    }
    if (p_type == typeid(Colour)) {
        return "colour";
    }
    return p_type.name();
}

// Step 6: generic code reads and writes nodes it knows nothing about.
void StepAccessors(Scene& p_model) {
    Heading(6, "Generic access: every property and reference by name");
    std::cout << "Accessors::NodeAccess lists a node's properties (PropertyAccess) and\n"
                 "references (ExplicitRefAccess) without knowing its class; undefined values\n"
                 "show in angle brackets:\n";
    for (Ptr<Node> const& node : p_model.Nodes()) {
        Accessors::NodeAccess access(node);
        std::string name;
        access.GetName(name);
        std::cout << "\n  " << name << "  (unique id " << access.UniqueId() << ", type id " << access.TypeId() << ")\n";
        for (Accessors::PropertyAccess const& property : access.GetProperties()) {
            bool defined = false;
            property.IsValueDefined(defined);
            std::string const value = property.GetValueAsStringDebug();
            std::cout << "    " << Padded(property.Name(), 12) << "= "
                      << Padded(defined ? value : "<" + value + ">", 20) << "(" << TypeLabel(property.Type()) << ")\n";
        }
        for (Accessors::ExplicitRefAccess const& ref : access.GetExplicitRefs()) {
            std::cout << "    " << Padded(ref.Name(), 12) << "-> " << Join(ReferencedNames(ref))
                      << (ref.IsRefList() ? "   (list)" : "") << "\n";
        }
    }

    std::cout << "\nExplicitRefAccess::Attach hands any node to the reference, which checks its\n"
                 "class:\n\n";
    try {
        Accessors::ExplicitRefAccess(p_model.LegendNode(), std::string("entries")).Attach(p_model.TimeAxis());
        Expect(false, "an axis is refused by the legend's list of series");
    } catch (NullPtrException const& error) {
        std::cout << "  Legend.entries += Time axis        -> refused (NullPtrException: " << error.what() << ")\n";
    }

    std::cout << "\nPropertyAccess::SetValue writes a boost::any through the property itself: it\n"
                 "checks the type and propagates like any edit.\n\n";
    Accessors::PropertyAccess position(p_model.LegendNode(), std::string("position"));
    position.SetValue(boost::any(std::string("bottom left")));
    std::cout << "  Legend.position = \"bottom left\"    -> " << position.GetValueAsStringDebug() << "\n";
    try {
        position.SetValue(boost::any(42));
        Expect(false, "an int is refused by a text property");
    } catch (boost::bad_any_cast const&) {
        std::cout << "  Legend.position = 42               -> refused (boost::bad_any_cast), still "
                  << position.GetValueAsStringDebug() << "\n";
    }
}

// Step 7: the debugging dump, one verbosity level at a time.
void StepDump(Scene& p_model) {
    Heading(7, "Dump a node at each verbosity");
    std::cout << "Node::Dump writes the node line (id, name, type id, and the class as\n"
                 "std::type_info::name() gives it), and by verbosity its references,\n"
                 "properties and dependents. Here the Open price series:\n";
    struct Level {
        Verbosity _verbosity;
        char const* _name;
    };
    for (Level const& level : {Level{DumpHeader, "DumpHeader"}, Level{DumpRefs, "DumpRefs"},
                               Level{DumpProperties, "DumpProperties"}, Level{DumpDependents, "DumpDependents"}}) {
        std::cout << "\n  Dump(std::cout, " << level._name << ", 0):\n";
        p_model.Open()->Dump(std::cout, level._verbosity, 0);
    }
}

// Step 8: a node ends with its last Ptr; dependents hear of it, lists heal.
void StepDelete(Scene& p_model) {
    Heading(8, "Delete a node");
    std::cout << "A node ends when its last Ptr goes. Node::Deleter writes a trace line (the\n"
                 "\"Trace\" category is enabled around the deletion; trace lines go to stderr),\n"
                 "and sends \"deallocate\" to the node's dependents. References and dependency\n"
                 "lists hold nodes weakly, so none of them keeps Volume alive.\n\n";
    Axis& timeAxis = *p_model.TimeAxis();
    std::size_t const before = timeAxis.Deps().Size();
    std::cout << "  Time axis -> " << Join(DependentNames(timeAxis)) << "   (" << before << " entries)\n";
    std::cout << "\n  volume = Ptr<DataSeries>();   // the last owner lets go\n" << std::flush;

    Journal journal(p_model.Nodes());
    qeldebug::logger::enable("Trace");
    p_model.model.Remove(*p_model.Volume());
    qeldebug::logger::disable("Trace");
    std::cerr << std::flush;
    PrintJournal(journal);

    std::size_t const afterDelete = timeAxis.Deps().Size();
    std::cout << "\n  Time axis -> " << Join(DependentNames(timeAxis)) << "   (" << afterDelete << " entries)\n"
              << "  Legend.entries -> "
              << Join(ReferencedNames(Accessors::ExplicitRefAccess(p_model.LegendNode(), std::string("entries"))))
              << "\n\n  The expired entry stays until a walk meets it. Touch the Time axis:\n";
    timeAxis.Label().Set("day of March");
    std::size_t const afterTouch = timeAxis.Deps().Size();
    std::cout << "  Time axis -> " << Join(DependentNames(timeAxis)) << "   (" << afterTouch << " entries: squeezed)\n";
    Expect(afterDelete == before && afterTouch == before - 1, "the expired entry is dropped on the next touch");
    Expect(Node::_debugNodeCount.load() == 6, "six nodes remain");
}

/// Every path from `p_node` along explicit references, keyed by path.
void CollectPaths(Ptr<Node> const& p_node, NodePath const& p_parent, std::string const& p_parentText,
                  std::map<NodePath, std::string>& p_paths) {
    Accessors::NodeAccess access(p_node);
    Qel::Chart::Utility::LightArray<int> ids;
    for (int const id : p_parent) {
        ids.Append(id);
    }
    ids.Append(access.UniqueId());
    NodePath const path(ids);
    std::string const text = p_parentText.empty() ? p_node->Name() : p_parentText + " > " + p_node->Name();
    p_paths[path] = text;
    for (Accessors::ExplicitRefAccess const& ref : access.GetExplicitRefs()) {
        std::vector<Ptr<Node>> targets;
        ref.GetReferencees(targets);
        for (Ptr<Node> const& target : targets) {
            CollectPaths(target, path, text, p_paths);
        }
    }
}

// Step 9: node paths address nodes and order them.
void StepPaths(Scene& p_model) {
    Heading(9, "Node paths");
    std::cout << "A NodePath addresses a node by the ids on the way to it. Following the\n"
                 "explicit references from the Chart gives these paths, in NodePath order\n"
                 "(lexicographic, a path before its extensions):\n\n";
    std::map<NodePath, std::string> paths;
    CollectPaths(p_model.ChartNode(), NodePath(), "", paths);
    for (auto const& entry : paths) {
        std::cout << "  " << Padded(Text(entry.first), 10) << entry.second << "\n";
    }

    Qel::Chart::Utility::LightArray<int> ids;
    ids.Append(Accessors::NodeAccess(p_model.ChartNode()).UniqueId());
    ids.Append(Accessors::NodeAccess(p_model.Close()).UniqueId());
    ids.Append(Accessors::NodeAccess(p_model.PriceAxis()).UniqueId());
    NodePath const path(ids);
    std::cout << "\n  path " << path << " (" << paths[path] << "):\n"
              << "    NodeId()            = " << path.NodeId() << "\n"
              << "    Parent()            = " << path.Parent() << " (" << paths[path.Parent()] << ")\n"
              << "    Parent().Parent()   = " << path.Parent().Parent() << "\n"
              << "    Parent() < path     : " << (path.Parent() < path ? "true" : "false") << "\n";
}

// Step 10: the model saved as JSON, made again from it, and a damaged
// document refused (Qel::ChartIO).
void StepSaveLoad(Scene& p_model) {
    namespace IO = Qel::Chart::IO;
    Heading(10, "Save the model and load it again");
    IO::RegisterClass<Chart>("Chart");
    IO::RegisterClass<Axis>("Axis");
    IO::RegisterClass<DataSeries>("DataSeries");
    IO::RegisterClass<Legend>("Legend");
    IO::RegisterValue<Colour>(
        "colour", [](Colour const& p_colour) { return nlohmann::json(Text(p_colour)); },
        [](nlohmann::json const& p_value) {
            unsigned red = 0, green = 0, blue = 0;
            std::string const text = p_value.is_string() ? p_value.get<std::string>() : std::string();
            if (text.size() != 7 || std::sscanf(text.c_str(), "#%2x%2x%2x", &red, &green, &blue) != 3) {
                throw std::invalid_argument("expected a colour \"#rrggbb\", found " + p_value.dump());
            }
            return Colour{static_cast<unsigned char>(red), static_cast<unsigned char>(green),
                          static_cast<unsigned char>(blue)};
        });
    std::vector<Ptr<Node>> const nodes = p_model.Nodes();
    std::string const text = IO::Save(p_model.model);
    std::cout << "With the four classes and the Colour type registered, IO::Save writes the\n"
                 "nodes as JSON ("
              << text.size() << " bytes; see docs/file-format.md):\n\n  " << text.substr(0, 76) << "...\n\n";

    int const before = Node::_debugNodeCount.load();
    {
        Model const loadedModel = IO::LoadModel(text);
        std::vector<Ptr<Node>> const& loaded = loadedModel.Nodes();
        std::cout << "IO::LoadModel makes a model of " << Node::_debugNodeCount.load() - before
                  << " new nodes from it; saved again it gives the same text: "
                  << (IO::Save(loadedModel) == text ? "yes" : "no") << ".\n";
        Expect(IO::Save(loadedModel) == text, "the loaded model saves to the same text");

        // The same edit in both models reaches the same nodes. It also walks
        // the Price axis' list, which still names the deleted Volume: the
        // document left that entry out, and the walk drops it.
        std::size_t const axis = std::find(nodes.begin(), nodes.end(), Ptr<Node>(p_model.PriceAxis())) - nodes.begin();
        auto const reached = [axis](std::vector<Ptr<Node>> const& p_nodes) {
            std::vector<ModificationWatcher> watchers;
            for (Ptr<Node> const& node : p_nodes) {
                watchers.emplace_back(*node);
            }
            Accessors::PropertyAccess(p_nodes[axis], std::string("max")).SetValue(boost::any(200.0));
            std::vector<std::string> names;
            for (std::size_t index = 0; index < p_nodes.size(); ++index) {
                if (watchers[index].Modified()) {
                    names.push_back(p_nodes[index]->Name());
                }
            }
            return names;
        };
        std::vector<std::string> const original = reached(nodes);
        std::vector<std::string> const copy = reached(loaded);
        std::cout << "  Price axis max = 200 in the loaded model reaches: " << Join(copy) << "\n";
        Expect(copy == original, "an edit reaches the same nodes in both models");

        // Dumps name nodes by unique id, which a loaded node has of its own.
        auto const dump = [](Ptr<Node> const& p_node) {
            std::ostringstream out;
            p_node->Dump(out, DumpDependents, 1);
            return std::regex_replace(out.str(), std::regex("(^|[^.])id\\([0-9]+\\)"), "$1id(#)");
        };
        bool same = true;
        for (std::size_t index = 0; index < nodes.size(); ++index) {
            same = same && dump(nodes[index]) == dump(loaded[index]);
        }
        std::cout << "  Every loaded node dumps as its original does, unique ids aside: " << (same ? "yes" : "no")
                  << ". The loaded Price axis:\n";
        loaded[axis]->Dump(std::cout, DumpDependents, 1);
        Expect(same, "the loaded nodes dump as the originals do");
    }
    Expect(Node::_debugNodeCount.load() == before, "the loaded nodes end with their model");

    std::string damaged = text;
    std::size_t const colour = damaged.rfind("\"value\":\"#");
    damaged.replace(colour, 17, "\"value\":\"grey\"");
    std::cout << "\nA damaged document (a colour written \"grey\") is refused, and every node\n"
                 "made before the fault was found is gone again:\n\n";
    try {
        IO::Load(damaged);
        Expect(false, "the damaged document is refused");
    } catch (IO::LoadError const& e) {
        std::cout << "  IO::LoadError: " << e.what() << "\n";
    }
    std::cout << "  Node::_debugNodeCount = " << Node::_debugNodeCount.load() << ", as before\n";
    Expect(Node::_debugNodeCount.load() == before, "a refused document leaves no node behind");
}

// Step 11: edits grouped in a transaction, undone in one batch.
void StepUndo(Scene& p_model) {
    Heading(11, "Edit in a transaction, then undo it");
    std::cout << "An UndoStack records what its open transaction changes: values, references,\n"
                 "dependency links. Undo makes the changes backwards through the ordinary calls,\n"
                 "inside one ChangeBatch, so watchers and callbacks see the undo as any edit,\n"
                 "each once:\n\n";
    UndoStack history;
    Ptr<Axis> const price = p_model.PriceAxis();
    Ptr<Legend> const legend = p_model.LegendNode();
    double const max = price->Max().Get();
    std::string const title = p_model.ChartNode()->Title().Get();
    {
        UndoStack::Transaction edit(history, "rescale and retitle");
        price->Max().Set(300.0);
        price->Max().Set(250.0);
        p_model.ChartNode()->Title().Set("ACME shares, March (rescaled)");
        legend->Entries().Detach(p_model.Close());
        edit.Commit();
    }
    std::cout << "  committed \"" << history.UndoText() << "\": max = " << price->Max().Get() << ", legend lists "
              << Join(ReferencedNames(Accessors::ExplicitRefAccess(legend, std::string("entries")))) << "\n";

    std::vector<ModificationWatcher> watchers;
    for (Ptr<Node> const& node : p_model.Nodes()) {
        watchers.emplace_back(*node);
    }
    int maxHeard = 0;
    Subscription const onMax = price->Max().OnChanged([&](Property<double> const& p_max) {
        ++maxHeard;
        std::cout << "  Price axis max OnChanged: " << p_max.Get() << "\n";
    });
    history.Undo();
    std::vector<std::string> modified;
    for (std::size_t index = 0; index < watchers.size(); ++index) {
        if (watchers[index].Modified()) {
            modified.push_back(p_model.Nodes()[index]->Name());
        }
    }
    std::cout << "  after Undo: max = " << price->Max().Get() << ", title \"" << p_model.ChartNode()->Title().Get()
              << "\", legend lists "
              << Join(ReferencedNames(Accessors::ExplicitRefAccess(legend, std::string("entries"))))
              << "\n  the watchers saw the undo on: " << Join(modified) << "\n"
              << "  redo available: \"" << history.RedoText() << "\"\n";
    Expect(price->Max().Get() == max && p_model.ChartNode()->Title().Get() == title, "the undo gives back the values");
    Expect(maxHeard == 1, "the undo is heard once per property, with the final value");
    Expect(!modified.empty() && history.CanRedo(), "watchers saw the undo, which can be redone");
}

// Step 12: nothing may be left behind.
void StepRelease(Scene& p_model) {
    Heading(12, "Release everything");
    std::cout << "Clearing the model deletes the " << Node::_debugNodeCount.load()
              << " remaining nodes. The debug\n"
                 "counters and the allocation tracker that node memory comes from must\n"
                 "all be back at zero:\n\n";
    p_model.model.Clear();
}

}  // namespace

int main() {
    std::cout << "Qel.Chart.Core by example: a chart model\n"
                 "========================================\n";
    {
        Scene model;
        StepBuild(model);
        StepPropagation(model);
        StepWatchers(model);
        StepCycle(model);
        StepClone(model);
        StepAccessors(model);
        StepDump(model);
        StepDelete(model);
        StepPaths(model);
        StepSaveLoad(model);
        StepUndo(model);
        StepRelease(model);
    }
    int const nodes = Node::_debugNodeCount.load();
    int const nodeBytes = Node::_debugNodeMemUsage.load();
    std::size_t const trackedBytes = qeldebug::allocationtracker::bytes_in_use();
    std::cout << "  Node::_debugNodeCount                       = " << nodes << "\n"
              << "  Node::_debugNodeMemUsage                    = " << nodeBytes << "\n"
              << "  qeldebug::allocationtracker::bytes_in_use() = " << trackedBytes << "\n";
    bool const clean = nodes == 0 && nodeBytes == 0 && trackedBytes == 0;
    Expect(clean, "every node and every tracked byte is released");
    std::cout << "\n"
              << (g_failures == 0 ? "Done: nothing left behind." : "FAILED: see the UNEXPECTED lines above.") << "\n";
    return g_failures == 0 ? 0 : 1;
}
