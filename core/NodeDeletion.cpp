// Deleting nodes: the deleter with its queue for long ownership chains, the
// count blocks in front of node memory, and the reports of a node that ends
// early.
#include "Growable.h"
#include "Node.h"
#include "NodeInternals.h"
#include "ReportTexts.h"
#include "TrackerCompanion.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

namespace Private {

namespace {

// What nodes hold until their deletion, by node. Never destroyed: nodes may
// end during thread and process exit, after ordinary statics are gone.
struct KeptTable {
    std::mutex mutex;
    std::unordered_map<Node const*, std::vector<std::shared_ptr<void>>> kept;
};
KeptTable& TheKeptTable() {
    alignas(KeptTable) static unsigned char storage[sizeof(KeptTable)];
    static KeptTable* const table = ::new (static_cast<void*>(storage)) KeptTable();
    return *table;
}

}  // namespace

void NodeInternals::DeleteOne(Node* p_node) noexcept {
    // Released once the node is gone, after its counters: what it held may
    // be other nodes, whose deletions then follow this one.
    std::vector<std::shared_ptr<void>> kept;
    if (p_node->HoldsKept()) {
        KeptTable& table = TheKeptTable();
        std::lock_guard<std::mutex> const lock(table.mutex);
        auto const found = table.kept.find(p_node);
        if (found != table.kept.end()) {
            kept.swap(found->second);
            table.kept.erase(found);
        }
    }
    try {
        int const count = Node::_debugNodeCount.load();
        if (!qeldebug::logger::quiet()) {  // an inactive channel costs no formatting
            Utility::GetLogger().dout("Trace") << "delete node id(" << p_node->_uniqueId << ") type(" << p_node->_typeId
                                               << ") : count = " << count << std::endl;
        }
        p_node->EndQuietlyOrSendDeallocate();
        p_node->Deps().Clear();
        // The block starts at the most derived object, which need not be
        // where its Node part is (a class may list another base first).
        void* const block = dynamic_cast<void*>(p_node);
        p_node->~Node();
        std::size_t const bytes = qeldebug::allocationtracker::deallocate(block);
        Private::NoteNodeMemoryEnded(block, bytes);
        Node::_debugNodeMemUsage.add(-static_cast<int>(bytes));
        --Node::_debugNodeCount;
    } catch (...) {
        try {
            Utility::GetLogger().derr("") << ReportText(Report::DeleterThrewWarning) << std::endl;
            qeldebug::handleexcept(ReportText(Report::DeleterThrew), Utility::GetLogger(), false);
        } catch (...) {
            // Reporting failed too; nothing may leave the deleter.
        }
    }
}

namespace {

// Deletions nest inline (a node whose destructor drops the last Ptr to the
// next one deletes it right there) up to this depth; beyond it they wait in a
// queue that the deletion at this depth works off, so that ownership chains
// of any length end on a bounded stack.
constexpr int kInlineDeletionDepth = 64;

struct DeletionState {
    int depth;
    bool cleanerRegistered;
    bool ended;  // the thread's cleaner ran: the queue is freed after each use
    Growable<Node*> queue;
};
__attribute__((tls_model("initial-exec"))) thread_local DeletionState t_deletion = {0, false, false, {nullptr, 0, 0}};

struct DeletionCleaner {
    ~DeletionCleaner() {
        t_deletion.queue.Free();
        t_deletion.ended = true;
    }
};

void RegisterDeletionCleaner() {
    if (!t_deletion.cleanerRegistered && !t_deletion.ended) {
        t_deletion.cleanerRegistered = true;
        static thread_local DeletionCleaner cleaner;
        (void)cleaner;
    }
}

}  // namespace

}  // namespace Private

void Node::EndQuietlyOrSendDeallocate() {
    // What TouchSelf(Deallocate) comes to for Node's own TouchThis on a node
    // that nobody hears: the stamp advances (a derived destructor may read
    // it) and the flag is set. The name it would have built goes nowhere.
    if (Modifiable<0>::_keepsNodeTouch && Modifiable<0>::_keepsNodeName && Modifiable<0>::_keepsNodeDeps &&
        !IsDeallocated() && !Modifiable<0>::_subscribed && _deps.Empty()) {
        _time.Touch();
        Modifiable<0>::_deallocated = true;
        return;
    }
    SendDeallocate();
}

void Node::Deleter(Node* p_node) {
    Private::DeletionState& state = Private::t_deletion;
    if (state.depth >= Private::kInlineDeletionDepth) {
        try {
            Private::RegisterDeletionCleaner();
            state.queue.Push(p_node);
            return;
        } catch (...) {
            // No room to defer: delete it right here instead.
            Private::NodeInternals::DeleteOne(p_node);
            return;
        }
    }
    ++state.depth;
    Private::NodeInternals::DeleteOne(p_node);
    if (state.depth == Private::kInlineDeletionDepth && state.queue.size != 0) {
        // In order; deletions these start are queued behind them.
        for (std::size_t i = 0; i < state.queue.size; ++i) {
            Private::NodeInternals::DeleteOne(state.queue.items[i]);
        }
        state.queue.size = 0;
        if (state.ended) {
            state.queue.Free();
        }
    }
    --state.depth;
}

// ---------------------------------------------------------------------------
// Count blocks

namespace Private {

namespace {

constexpr std::size_t kCountBlockSize = 40;

// The anchor count: releasing the last strong reference deletes nothing;
// the block goes with the last weak one.
class AnchorCount final : public boost::detail::sp_counted_base {
public:
    void dispose() noexcept override {}
    void destroy() noexcept override;
    void* get_deleter(boost::detail::sp_typeinfo_ const& /*p_type*/) noexcept override { return nullptr; }
    void* get_local_deleter(boost::detail::sp_typeinfo_ const& /*p_type*/) noexcept override { return nullptr; }
    void* get_untyped_deleter() noexcept override { return nullptr; }
};

constexpr std::size_t kAnchorOffset = 24;
static_assert(sizeof(NodeCounts::Owner) == kAnchorOffset, "the owner count fills the first 24 bytes of the block");
static_assert(sizeof(AnchorCount) + kAnchorOffset == kCountBlockSize, "the anchor count fills the rest");
static_assert(sizeof(NodeCounts) == kCountBlockSize, "a count block is 40 bytes");

void AnchorCount::destroy() noexcept {
    auto* const block = reinterpret_cast<NodeCounts*>(reinterpret_cast<unsigned char*>(this) - kAnchorOffset);
    this->~AnchorCount();
    block->Free();
}

AnchorCount* AnchorIn(NodeCounts* p_block) {
    return std::launder(reinterpret_cast<AnchorCount*>(reinterpret_cast<unsigned char*>(p_block) + kAnchorOffset));
}

}  // namespace

static_assert(qeldebug::internal::companion_bytes == kCountBlockSize,
              "the counts fill the companion area in front of a node's memory");

NodeCounts* NodeCounts::For(void* p_nodeMemory) noexcept {
    return static_cast<NodeCounts*>(qeldebug::internal::hold_companion(p_nodeMemory));
}

void NodeCounts::Free() noexcept { qeldebug::internal::release_companion(this); }

void NodeCounts::Owner::dispose() noexcept {
    // The low bit of the node's address says whether the anchor shares this block.
    Node::Deleter(reinterpret_cast<Node*>(_node & ~std::uintptr_t(1)));  // NOLINT(performance-no-int-to-ptr)
}

void NodeCounts::Owner::destroy() noexcept {
    // The owner count lives at the start of the block.
    auto* const block = reinterpret_cast<NodeCounts*>(this);
    bool const anchored = (_node & 1) != 0;
    this->~Owner();
    if (anchored) {
        AnchorIn(block)->weak_release();  // the reference that kept the block for this count
    } else {
        block->Free();
    }
}

void* NodeCounts::Owner::get_deleter(boost::detail::sp_typeinfo_ const& p_type) noexcept {
    if (p_type == BOOST_SP_TYPEID_(NodeDeleter)) {
        return static_cast<NodeDeleter*>(this);
    }
    if (p_type == BOOST_SP_TYPEID_(Owner)) {
        return this;
    }
    return nullptr;
}

void* NodeCounts::Owner::get_local_deleter(boost::detail::sp_typeinfo_ const& /*p_type*/) noexcept { return nullptr; }

void* NodeCounts::Owner::get_untyped_deleter() noexcept { return static_cast<NodeDeleter*>(this); }

boost::detail::sp_counted_base* NodeCounts::StartAnchor(Node const& p_node) noexcept {
    boost::shared_ptr<Node> const owned = p_node._self.Weak().lock();
    if (!owned) {
        return nullptr;
    }
    Owner* const owner = boost::get_deleter<Owner>(owned);
    if (owner == nullptr || (owner->_node & 1) != 0) {
        return nullptr;
    }
    auto* const block = reinterpret_cast<NodeCounts*>(owner);
    AnchorCount* const anchor = ::new (static_cast<void*>(block->_storage + kAnchorOffset)) AnchorCount();
    // One weak reference more, which the owner count gives back when it is
    // done: until then the block must stay.
    anchor->weak_add_ref();
    owner->_node |= 1;
    return anchor;
}

}  // namespace Private

void Private::KeepUntilDeleted(Node& p_node, std::shared_ptr<void> p_kept) {
    KeptTable& table = TheKeptTable();
    std::lock_guard<std::mutex> const lock(table.mutex);
    table.kept[&p_node].push_back(std::move(p_kept));
    p_node.SetHoldsKept();
}

void Node::operator delete(void* /*p_block*/) {
    Utility::GetLogger().derr("") << "Node::operator delete - called when it should not be!" << std::endl;
    std::abort();
}

void Node::operator delete[](void* /*p_block*/) {
    Utility::GetLogger().derr("") << "Node::operator delete[] - called when it should not be!" << std::endl;
    std::abort();
}

void Private::ReportEndedEarly(Node const& p_node, char const* p_text) noexcept {
    // Before Create set _self (a derived constructor threw) nobody can have
    // used the object yet; once Deallocate was sent, its end is expected.
    if (p_node._self.Expired() || p_node.IsDeallocated()) {
        return;
    }
    try {
        Private::ReportEnsure(p_text);
    } catch (...) {
        // A destructor reports and goes on: the record is kept, the exception not.
    }
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
