// The reference model that the randomized test and the fuzzer compare the
// library against: nodes, dependents lists, propagation, deletion, watchers,
// the cycle query and one integer property per node, kept in plain standard
// containers and written for clarity rather than speed. It knows nothing of
// the library's code; the only things it takes from the library are the
// identities of new nodes (address, unique id, type id), which it treats as
// opaque values.
#ifndef QEL_TESTS_MODEL_MODEL_H
#define QEL_TESTS_MODEL_MODEL_H

#include <qeldebug.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qelmodel {

constexpr int kNoNode = -1;

/// A node's modification stamp: a counter modulo 16,384 and a touched flag.
struct Stamp {
    unsigned counter = 0;
    bool touched = false;

    void Touch() {
        counter = (counter + 1) % 16384;
        touched = true;
    }
    void ForceTouch() {
        counter = 0;
        touched = true;
    }
    void Reset() {
        counter = 0;
        touched = false;
    }
    bool operator==(Stamp const& p_other) const { return counter == p_other.counter && touched == p_other.touched; }
    bool operator!=(Stamp const& p_other) const { return !(*this == p_other); }
};

std::string ToString(Stamp const& p_stamp);

// The values of the library's change vocabulary, as plain numbers.
enum ModelType { kTypeNode = 0, kTypeProperty = 1 };
enum ModelChange { kEdit = 0, kClear = 1, kAdd = 2, kRemove = 3, kDeallocate = 4, kForce = 5 };
enum ModelRelationship { kSelf = 0, kExplicit = 1, kImplicit = 2 };

/// One `TouchThis` call that a test node received.
struct TouchRecord {
    int node = kNoNode;
    int type = 0;
    int change = 0;
    int relationship = 0;
    int originator = kNoNode;  // kNoNode: empty or expired
    std::string name;
    bool hasPayload = false;
    int payload = 0;

    bool operator==(TouchRecord const& p_other) const;
    bool operator!=(TouchRecord const& p_other) const { return !(*this == p_other); }
};

std::string ToString(TouchRecord const& p_record);
std::string ToString(qeldebug::record const& p_record);

/// How an operation ended, as the caller sees it.
enum class Outcome { Normal, CheckFailed, BadAnyCast, OtherException };

char const* ToString(Outcome p_outcome);

/// An entry of a dependents list: a node, or the property of a node.
struct Entry {
    int node = kNoNode;
    bool property = false;
};

/// What a hook armed on a node does, once, right after that node's next
/// `TouchThis` has run: an operation from inside a propagation.
enum class HookAction { Insert, InsertProperty, Remove, Squeeze, Clear, Touch, SetProperty, Release };

char const* ToString(HookAction p_action);

/// A hook that targets slot `kWalkingList` acts on the owner of the list
/// that the walk is reading when the hook fires.
constexpr int kWalkingList = -2;

struct Hook {
    bool armed = false;
    HookAction action = HookAction::Touch;
    int targetSlot = 0;
    int argumentSlot = 0;
    int value = 0;
};

/// What the library learns a new node to be.
struct NodeIdentity {
    std::uintptr_t address = 0;          // of the node as a modifiable: its identity
    std::uintptr_t propertyAddress = 0;  // of its property as a modifiable
    int uniqueId = 0;
    unsigned typeId = 0;
};

struct ModelNode {
    int kind = 0;  // which of the two test classes
    NodeIdentity identity;
    std::string name;
    Stamp stamp;
    std::vector<Entry> deps;
    bool constructed = true;   // counted by the library's node counter
    bool alive = true;         // identifiers not yet expired
    bool deallocated = false;  // Deallocate already sent
    bool held = true;          // the driver's slot owns it
    int pins = 0;              // strong references held by accessors during an operation
    int walkFrame = -1;        // the frame walking its list, while one does
    bool propertyDefined = false;
    int propertyValue = 0;
    Stamp propertyStamp;
    Hook hook;
};

struct ModelWatcher {
    int subject = kNoNode;
    bool property = false;
    Stamp last;
};

/// The model's decision on a hook that fired: whether to perform it, and on
/// which slots, so that the library side acts on the same nodes.
struct HookDecision {
    bool perform = false;
    int targetSlot = -1;
    int argumentSlot = -1;
};

/// Everything that one step is expected to produce.
struct Expectation {
    std::vector<TouchRecord> touches;
    std::vector<qeldebug::record> reports;
    Outcome outcome = Outcome::Normal;
    std::vector<HookDecision> hookDecisions;  // one per hook that fired
    std::vector<Outcome> hookOutcomes;        // one per performed hook
};

/// Tunables of one model.
struct ModelLimits {
    int slots = 12;
    int watchers = 4;
    std::size_t maxListSize = 5;      // longer lists make walks explode
    std::size_t walkBudget = 1500;    // touches one walk may cost before it is skipped
    std::size_t searchBudget = 400;   // visits one cycle query may cost before it is skipped
    bool releasePropertyRoot = true;  // see Model::MayRelease
};

class Model {
public:
    /// `p_baselineCount`: the library's node count when the model starts,
    /// which its deletion trace lines include.
    Model(ModelLimits const& p_limits, int p_baselineCount);

    ModelLimits const& Limits() const { return _limits; }
    void SetClassSize(int p_kind, int p_size) { _classSize[p_kind] = p_size; }
    std::string const& PropertyName(int p_kind) const;

    // Slots and nodes.
    int InSlot(int p_slot) const { return _slots[static_cast<std::size_t>(p_slot)]; }
    bool Occupied(int p_slot) const { return InSlot(p_slot) != kNoNode; }
    ModelNode const& Node(int p_id) const { return _nodes[static_cast<std::size_t>(p_id)]; }
    int NodeCount() const { return static_cast<int>(_nodes.size()); }
    /// Nodes constructed and not yet deleted, as the library counts them.
    int Constructed() const;
    /// Bytes of the nodes that `Constructed` counts.
    int MemoryInUse() const;
    bool AnyHookArmed() const;
    /// The type id that the library gave a kind, or -1 before its first node.
    int TypeIdOf(int p_kind) const { return _typeIds[p_kind]; }

    // Each step: begin, apply one operation, take what it should produce.
    void BeginStep(bool p_throwing);
    Expectation TakeExpectation();

    /// A node made by the library (created or cloned) now owned by `p_slot`.
    /// Returns its model id; a type id that contradicts an earlier one of the
    /// same kind, or equals another kind's, yields an error text.
    int AddNode(int p_slot, int p_kind, NodeIdentity const& p_identity, std::string const& p_name,
                std::string& p_error);

    void Release(int p_slot);
    void Insert(int p_ownerSlot, int p_objectSlot, bool p_property);
    void Remove(int p_ownerSlot, int p_objectSlot, bool p_property);
    void Squeeze(int p_slot);
    void ClearList(int p_slot);
    void Touch(int p_slot);
    void AccessTouch(int p_slot);
    void SetProperty(int p_slot, int p_value);
    void ResetProperty(int p_slot);
    /// Through an accessor found by name: set (p_value), reset or touch.
    enum class AccessAction { Set, Reset, Touch, SetWrongType };
    void AccessProperty(int p_slot, std::string const& p_name, AccessAction p_action, int p_value);
    void AccessPropertyByIndex(int p_slot, int p_index, AccessAction p_action, int p_value);
    void Rename(int p_slot, std::string const& p_name);
    void Arm(int p_slot, Hook const& p_hook);
    void DisarmAll();

    // Watchers.
    void Watch(int p_watcher, int p_slot, bool p_property);
    void WatchFresh(int p_watcher, int p_slot, bool p_property);
    void ResetWatcher(int p_watcher);
    void TouchWatcher(int p_watcher);
    void CopyWatcher(int p_to, int p_from);
    void ClearWatcher(int p_watcher);
    bool WatcherEmpty(int p_watcher) const;
    bool WatcherModified(int p_watcher) const;

    /// Whether a cycle is reachable from the node, searched as the library
    /// does (by address, along live trackers). `p_completed` is false when
    /// the search would cost more than the budget.
    bool HasCycle(int p_start, bool p_property, bool& p_completed) const;

    /// The number of `TouchThis` calls that touching the node would cause
    /// now, hooks aside, or `p_budget` + 1 when it is more than that.
    std::size_t EstimateWalk(int p_id, std::size_t p_budget) const;

    /// The list as text: model ids, "p" after a property, "x" for an expired entry.
    std::string ListText(int p_id) const;

    /// Breaks the model on purpose, so that a test can check that the
    /// comparison notices.
    void CorruptStampForSelfTest(int p_slot);

private:
    struct Frame {
        int owner;
        std::vector<Entry> entries;  // the list as it was when the walk reached it
        int relationship;
        bool expiredSeen;
        bool orphaned;
    };
    struct WalkAborted {};
    struct Payload {
        bool has;
        int value;
    };

    ModelNode& At(int p_id) { return _nodes[static_cast<std::size_t>(p_id)]; }
    bool Expired(Entry const& p_entry) const { return !Node(p_entry.node).alive; }
    std::uintptr_t AddressOf(Entry const& p_entry) const;
    int ShownOriginator(int p_originator) const;
    void Report(qeldebug::reportkind p_kind, std::string const& p_category, std::string const& p_text);

    void TouchSelf(int p_id, int p_type, int p_change, std::string const& p_name, Payload p_payload);
    void TouchThis(int p_id, int p_type, int p_change, int p_relationship, int p_originator, std::string const& p_name,
                   Payload p_payload);
    void Walk(int p_owner, int p_given, int p_type, int p_change, int p_originator, std::string const& p_name,
              Payload p_payload);
    void PropertyChanged(int p_id, int p_change, Payload p_payload);
    void SqueezeList(int p_id);
    void ClearListOf(int p_id);
    bool InsertInto(int p_owner, Entry p_entry);
    bool RemoveFrom(int p_owner, Entry p_entry);
    bool SqueezeRequested(int p_owner);
    void Unpin(int p_id);
    void ReleaseNode(int p_id);
    void Deleter(int p_id);
    void DeleteOne(int p_id);
    void FireHook(int p_id);
    bool MayRelease(int p_id) const;
    bool CheapToTouch(int p_id) const;
    Outcome RunHook(Hook const& p_hook, int p_target, int p_argument);
    int SlotOf(int p_id) const;
    Stamp SubjectStamp(ModelWatcher const& p_watcher) const;
    std::size_t CountWalk(int p_owner, std::vector<char>& p_onPath, std::size_t p_count, std::size_t p_budget) const;
    bool Visit(Entry const& p_node, std::vector<std::uintptr_t>& p_colors, bool& p_found, std::size_t& p_visits) const;

    ModelLimits _limits;
    int _baselineCount;
    int _classSize[2] = {0, 0};
    int _typeIds[2] = {-1, -1};
    std::vector<ModelNode> _nodes;
    std::vector<int> _slots;
    std::vector<ModelWatcher> _watchers;
    std::vector<Frame> _frames;  // the current walk path, nested walks included
    struct Root {
        int node;
        int type;
    };
    std::vector<Root> _roots;  // nodes whose own walk is running, with the kind of change
    bool _deleting = false;    // a deletion runs; further ones wait in _pending
    std::vector<int> _pending;
    bool _throwing = false;
    Expectation _expectation;
};

}  // namespace qelmodel

#endif
