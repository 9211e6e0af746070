// The type registry: a factory per registered node class, and cloning by class.
#include "Node.h"

#include <map>
#include <mutex>

namespace Qel {
namespace Chart {
namespace Core {

namespace Private {
namespace {

struct NodeFactory {
    using Factory = boost::function<Ptr<Node>()>;
    using Table = std::map<unsigned short, Factory>;
    using FactoryPair = Table::value_type;
    static Table& Register() {
        static Table table;
        return table;
    }
};

std::map<Utility::TypeInfo, unsigned short>& TypeTable() {
    static std::map<Utility::TypeInfo, unsigned short> table;
    return table;
}

unsigned short runningId = 0;

qelthreads::mutex_base<1>& RegistryMutex() {
    static qelthreads::mutex_base<1> mutex;
    return mutex;
}

}  // namespace
}  // namespace Private

unsigned short Node::RegisterNodeType(std::type_info const& p_type, boost::function<Ptr<Node>()> const& p_factory) {
    using Private::NodeFactory;
    using Private::runningId;
    // The tables come first so that they outlive the mutex's users.
    NodeFactory::Register();
    Private::TypeTable();
    std::lock_guard<qelthreads::mutex_base<1>> lock(Private::RegistryMutex());
    auto const inserted = Private::TypeTable().insert(std::make_pair(Utility::TypeInfo(p_type), runningId));
    if (inserted.second) {
        if (!NodeFactory::Register().insert(NodeFactory::FactoryPair(runningId, p_factory)).second) {
            Private::ReportEnsure(Private::Report::DuplicateNodeFactory);
        }
        Utility::GetLogger().dout("NodeTypeInfo")
            << "id(" << runningId << ") name(" << p_type.name() << ")" << std::endl;
        ++runningId;
    }
    return inserted.first->second;
}

Ptr<Node> Node::CreateTypeOf(Ptr<Node> const& p_node) {
    using Private::NodeFactory;
    if (!p_node) {
        throw NullPtrException("null pointer passed to Core::Ptr");
    }
    NodeFactory::Register();
    Private::TypeTable();
    std::lock_guard<qelthreads::mutex_base<1>> lock(Private::RegistryMutex());
    auto const it = NodeFactory::Register().find(p_node->_typeId);
    if (it == NodeFactory::Register().end()) {
        Private::FailEnsure(Private::Report::UnregisteredNodeType);
    }
    return it->second();
}

Utility::TypeInfo Node::Type() const { return Utility::TypeInfo(typeid(*this)); }

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
