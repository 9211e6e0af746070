// Uses the installed package the way a client does: the umbrella header
// beside the client's own headers, the core library's own code and the
// diagnostics reached through the utility library. Exits non-zero when
// anything does not hold.
#include <QelChartCore.h>

#include "LightArray.h"
#include "NodeHeader.h"

#include <iostream>
#include <sstream>

namespace {

int failures = 0;

void Check(bool p_condition, char const* p_what) {
    if (!p_condition) {
        std::cerr << "consumer: failed: " << p_what << '\n';
        ++failures;
    }
}

}  // namespace

int main() {
    Qel::Chart::Core::TimeStamp stamp;
    stamp.Touch();
    stamp.Touch();
    // operator<< lives in the shared library: this links only if it is exported.
    std::ostringstream text;
    text << stamp;
    std::cout << "time stamp: " << text.str() << '\n';
    Check(text.str() == "2[1]", "a stamp touched twice prints as 2[1]");

    qeldebug::logger& logger = Qel::Chart::Utility::GetLogger();
    Check(&logger == &qeldebug::logger::instance(), "GetLogger() hands out the one logger");
    {
        qeldebug::capture cap(qeldebug::failpolicy::returning);
        logger.ensure(false, "consumer check");
        Check(cap.records().size() == 1 && cap.records()[0].kind == qeldebug::reportkind::ensure &&
                  cap.records()[0].text == "consumer check",
              "a failed ensure reaches the capture");
    }
    // The thrown type must be catchable across the library boundary.
    bool caught = false;
    try {
        qeldebug::capture cap(qeldebug::failpolicy::throwing);
        logger.ensure(false, "thrown");
    } catch (qeldebug::check_failed const&) {
        caught = true;
    }
    Check(caught, "check_failed is caught by type outside the library");

    // Compiles only when "LightArray.h" above is the client's own.
    consumer::LightArray own;
    own.size = 1;
    Check(LiveNodesWhileOneLeafLives() == 1 && Qel::Chart::Core::Node::_debugNodeCount.load() == 0,
          "a node made through <QelChart/Node.h> is counted while it lives");

    std::cout << (failures == 0 ? "consumer: ok" : "consumer: FAILED") << '\n';
    return failures == 0 ? 0 : 1;
}
