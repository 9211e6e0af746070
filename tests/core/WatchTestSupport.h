// Nodes and helpers shared by the watcher, property, composite, reference and accessor tests.
#ifndef QEL_TESTS_CORE_WATCHTESTSUPPORT_H
#define QEL_TESTS_CORE_WATCHTESTSUPPORT_H

#include "Node.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/any.hpp>

#include <string>
#include <tuple>
#include <vector>

namespace qelwatchtest {

using namespace Qel::Chart::Core;
using IM = IModifiable;

constexpr qeldebug::failpolicy kPolicies[] = {qeldebug::failpolicy::throwing, qeldebug::failpolicy::returning};

/// A touch as a recorder saw it: type, change, relationship, originator (null when empty) and name.
using Heard = std::tuple<IM::ModifiableType, IM::Change, IM::Relationship, Node const*, std::string>;

class PlainNode : public Node {};

/// A node that records every touch it receives and its payload, then reacts as a node does.
class RecordingNode : public Node {
public:
    void TouchThis(IM::ModifiableType p_type, IM::Change p_change, IM::Relationship p_relationship,
                   WeakPtr<Node> const& p_originator, std::string const& p_name, boost::any const& p_value) override {
        _touches.emplace_back(p_type, p_change, p_relationship, p_originator.Weak().lock().get(), p_name);
        _values.push_back(p_value);
        Node::TouchThis(p_type, p_change, p_relationship, p_originator, p_name, p_value);
    }
    std::vector<Heard> _touches;
    std::vector<boost::any> _values;
};

}  // namespace qelwatchtest

#endif
