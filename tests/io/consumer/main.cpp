// Saves and loads a node through the installed Qel::ChartIO, the umbrella
// header alone, and catches its errors by type. Exits non-zero on a failure.
#include <QelChartIO.h>

#include <iostream>

namespace {

class Dot : public Qel::Chart::Core::Node {
public:
    Qel::Chart::Core::Property<double> _size{*this, "size", 2.5};
};

}  // namespace

int main() {
    namespace IO = Qel::Chart::IO;
    IO::RegisterClass<Dot>("Dot");
    std::string const text = IO::Save({Qel::Chart::Core::Node::Create<Dot>()});
    bool ok = IO::Save(IO::Load(text)) == text;
    try {
        IO::Load("{}");
        ok = false;
    } catch (IO::LoadError const& e) {
        std::cout << "refused: " << e.what() << '\n';
    }
    ok = ok && Qel::Chart::Core::Node::_debugNodeCount.load() == 0;
    std::cout << (ok ? "io consumer: ok" : "io consumer: FAILED") << '\n';
    return ok ? 0 : 1;
}
