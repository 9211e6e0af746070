// One public header by its installed name, without the umbrella.
#include <QelChart/Node.h>

#include "NodeHeader.h"

namespace {

class Leaf : public Qel::Chart::Core::Node {};

}  // namespace

int LiveNodesWhileOneLeafLives() {
    Qel::Chart::Core::Ptr<Leaf> leaf = Qel::Chart::Core::Node::Create<Leaf>();
    return Qel::Chart::Core::Node::_debugNodeCount.load();
}
