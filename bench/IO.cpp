// Saving and loading a model of 100,000 nodes (four double properties, one
// reference and one dependent each) with Qel::ChartIO, beside the same
// document built and dumped, or parsed and read, with nlohmann-json alone.
#include "BenchSupport.h"

#include <QelChartIO.h>

#include <cstddef>
#include <string>
#include <vector>

namespace QelBench {
namespace {

namespace IO = Qel::Chart::IO;
using nlohmann::json;

constexpr std::size_t kNodes = 100000;

class Point : public Core::Node {
public:
    Core::Property<double> _x{*this, "x"};
    Core::Property<double> _y{*this, "y"};
    Core::Property<double> _width{*this, "width"};
    Core::Property<double> _height{*this, "height"};
    Core::ExplicitRef _next{*this, "next"};
};

double Value(std::size_t p_node, int p_property) { return static_cast<double>(p_node) * 0.25 + p_property; }
std::string NameOf(std::size_t p_node) { return "point " + std::to_string(p_node); }
// Node i references node i + 1 (the last one the first) and lists node i / 2
// as its dependent: dependents chains are short, so deleting is cheap too.
std::size_t NextOf(std::size_t p_node) { return (p_node + 1) % kNodes; }
std::size_t DependentOf(std::size_t p_node) { return p_node / 2; }

void RegisterPoint() {
    static bool const registered = (IO::RegisterClass<Point>("Point"), true);
    (void)registered;
}

// The model, as the library holds it.
std::vector<Core::Ptr<Core::Node>> MakeModel() {
    RegisterPoint();
    std::vector<Core::Ptr<Point>> points;
    points.reserve(kNodes);
    for (std::size_t node = 0; node < kNodes; ++node) {
        points.push_back(Core::Node::Create<Point>());
        Core::Accessors::NodeAccess(points.back()).SetName(NameOf(node));
        points.back()->_x.Set(Value(node, 0));
        points.back()->_y.Set(Value(node, 1));
        points.back()->_width.Set(Value(node, 2));
        points.back()->_height.Set(Value(node, 3));
    }
    for (std::size_t node = 0; node < kNodes; ++node) {
        points[node]->_next.Attach(points[NextOf(node)]);
        points[node]->Deps().Insert(*points[DependentOf(node)]);
    }
    return std::vector<Core::Ptr<Core::Node>>(points.begin(), points.end());
}

// The same values as plain data, for the baseline.
struct Record {
    std::string _name;
    double _values[4];
    std::size_t _next;
    std::size_t _dependent;
};

std::vector<Record> MakeRecords() {
    std::vector<Record> records(kNodes);
    for (std::size_t node = 0; node < kNodes; ++node) {
        records[node] = Record{NameOf(node),
                               {Value(node, 0), Value(node, 1), Value(node, 2), Value(node, 3)},
                               NextOf(node),
                               DependentOf(node)};
    }
    return records;
}

char const* const kPropertyNames[4] = {"x", "y", "width", "height"};

// The document IO::Save writes for the model, built by hand.
std::string SaveByHand(std::vector<Record> const& p_records) {
    json nodes = json::array();
    for (Record const& record : p_records) {
        json node = json::object();
        node["class"] = "Point";
        node["name"] = record._name;
        json properties = json::object();
        for (int property = 0; property < 4; ++property) {
            json entry = json::object();
            entry["type"] = "double";
            entry["value"] = record._values[property];
            properties[kPropertyNames[property]] = std::move(entry);
        }
        node["properties"] = std::move(properties);
        node["references"] = json::object();
        node["references"]["next"] = record._next;
        node["dependents"] = json::array({record._dependent});
        nodes.push_back(std::move(node));
    }
    json roots = json::array();
    for (std::size_t node = 0; node < p_records.size(); ++node) {
        roots.push_back(node);
    }
    json document = json::object();
    document["format"] = 1;
    document["nodes"] = std::move(nodes);
    document["roots"] = std::move(roots);
    return document.dump();
}

// Reads the document back into records, checking what a careful reader checks.
std::vector<Record> LoadByHand(std::string const& p_text) {
    json const document = json::parse(p_text);
    json const& nodes = document.at("nodes");
    std::vector<Record> records(nodes.size());
    for (std::size_t index = 0; index < nodes.size(); ++index) {
        json const& node = nodes[index];
        Record& record = records[index];
        if (node.at("class").get_ref<std::string const&>() != "Point") {
            throw std::runtime_error("not a Point");
        }
        record._name = node.at("name").get<std::string>();
        json const& properties = node.at("properties");
        for (int property = 0; property < 4; ++property) {
            json const& entry = properties.at(kPropertyNames[property]);
            if (entry.at("type").get_ref<std::string const&>() != "double") {
                throw std::runtime_error("not a double");
            }
            record._values[property] = entry.at("value").get<double>();
        }
        record._next = node.at("references").at("next").get<std::size_t>();
        record._dependent = node.at("dependents").at(0).get<std::size_t>();
        if (record._next >= nodes.size() || record._dependent >= nodes.size()) {
            throw std::runtime_error("node number out of range");
        }
    }
    return records;
}

void BM_SaveLibrary(benchmark::State& p_state) {
    std::vector<Core::Ptr<Core::Node>> const model = MakeModel();
    std::string const expected = SaveByHand(MakeRecords());
    std::string text;
    for (auto _ : p_state) {
        text = IO::Save(model);
        benchmark::DoNotOptimize(text.data());
    }
    if (text != expected) {
        p_state.SkipWithError("IO::Save wrote another document than the baseline builds");
        return;
    }
    SetPerItem(p_state, kNodes);
}

void BM_SaveBaseline(benchmark::State& p_state) {
    std::vector<Record> const records = MakeRecords();
    std::string text;
    for (auto _ : p_state) {
        text = SaveByHand(records);
        benchmark::DoNotOptimize(text.data());
    }
    SetPerItem(p_state, kNodes);
}

// The loaded model's deletion is not timed: it is no part of loading.
void BM_LoadLibrary(benchmark::State& p_state) {
    RegisterPoint();
    std::string const text = SaveByHand(MakeRecords());
    int const nodesBefore = Core::Node::_debugNodeCount.load();
    bool same = true;
    for (auto _ : p_state) {
        std::vector<Core::Ptr<Core::Node>> roots = IO::Load(text);
        benchmark::DoNotOptimize(roots.data());
        p_state.PauseTiming();
        same = same && roots.size() == kNodes && Core::Node::_debugNodeCount.load() - nodesBefore == int(kNodes);
        roots.clear();
        p_state.ResumeTiming();
    }
    if (!same || Core::Node::_debugNodeCount.load() != nodesBefore || IO::Save(IO::Load(text)) != text) {
        p_state.SkipWithError("the loaded model differs from the document, or outlived its roots");
        return;
    }
    SetPerItem(p_state, kNodes);
}

void BM_LoadBaseline(benchmark::State& p_state) {
    std::string const text = SaveByHand(MakeRecords());
    for (auto _ : p_state) {
        std::vector<Record> records = LoadByHand(text);
        benchmark::DoNotOptimize(records.data());
    }
    SetPerItem(p_state, kNodes);
}

BENCHMARK(BM_SaveLibrary)->Name("Save/Library/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveBaseline)->Name("Save/Baseline/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLibrary)->Name("Load/Library/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBaseline)->Name("Load/Baseline/100000")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace QelBench

BENCHMARK_MAIN();
