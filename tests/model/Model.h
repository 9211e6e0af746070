// The reference model that the randomized test and the fuzzer compare the
// library with: nodes, dependents lists, propagation, deletion, watchers, the
// cycle query and one int property per node, in plain containers. Of the
// library it knows only the identities of new nodes, as opaque values.
#ifndef QEL_TESTS_MODEL_MODEL_H
#define QEL_TESTS_MODEL_MODEL_H

#include <qeldebug.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qelmodel {

constexpr int kNoNode = -1;
/// A hook target: the owner of the list that the walk reads when the hook fires.
constexpr int kWalkingList = -2;
constexpr int kSlots = 12;
constexpr int kWatchers = 4;
constexpr std::size_t kMaxListSize = 5;     // longer lists make walks explode
constexpr std::size_t kWalkBudget = 1500;   // touches one walk may cost before it is skipped
constexpr std::size_t kSearchBudget = 400;  // visits one cycle query may cost before it is skipped

/// A modification stamp: a counter modulo 16,384 and a touched flag.
struct Stamp {
    unsigned counter = 0;
    bool touched = false;
    void Touch() {
        counter = (counter + 1) % 16384;
        touched = true;
    }
    bool operator!=(Stamp const& p_other) const { return counter != p_other.counter || touched != p_other.touched; }
};

std::string ToString(Stamp const& p_stamp);
std::string ToString(qeldebug::record const& p_record);
/// One `TouchThis` call as text; both sides log in this form.
std::string TouchText(int p_node, int p_type, int p_change, int p_relationship, int p_originator,
                      std::string const& p_name, std::string const& p_payload);

/// Lines of the state that both sides show: a slot's node, a watcher's answers.
std::string NodeText(int p_id, int p_kind, std::string const& p_stamp, std::string const& p_propertyStamp,
                     std::string const& p_value, std::string const& p_name, std::string const& p_list);
std::string WatcherText(bool p_empty, bool p_modified, bool p_modifiedOrEmpty);
/// A subscriber's call: its number and what it was told (a change, or a property's value).
std::string SubscriberText(int p_number, std::string const& p_what);
/// What DependOn and StopDependingOn returned.
std::string LinkText(bool p_dependOn, bool p_result);

enum ModelChange { kEdit = 0, kClear = 1, kDeallocate = 4, kForce = 5 };
enum ModelRelationship { kSelf = 0, kExplicit = 1, kImplicit = 2 };

/// How an operation ended, as the caller sees it.
enum class Outcome { Normal, CheckFailed, OtherException };
char const* ToString(Outcome p_outcome);

/// An entry of a dependents list: a node, or the property of a node.
struct Entry {
    int node = kNoNode;
    bool property = false;
};

enum class OpCode {
    Create,
    Clone,
    Release,
    Insert,
    Remove,
    Clear,
    Touch,
    SetProperty,
    Access,
    Watch,
    Reset,
    CycleQuery,
    Arm,
    Subscribe,  // mode 0: OnTouched of the node, 1: OnChanged of its property, 2: cancel one
    DependOn    // mode 0: `other` depends on `slot`, 1: stops depending on it
};

/// An operation resolved against the current slots, as both sides run it.
/// Arm: `mode` picks the hook's operation, `id` its target slot (or
/// kWalkingList), `other` its argument slot.
struct Action {
    OpCode code = OpCode::Create;
    bool skip = false;
    bool throwing = false;  // under the throwing failure policy
    int slot = -1;
    int other = -1;
    int watcher = 0;
    int id = kNoNode;
    int value = 0;
    int mode = 0;
    bool property = false;
    std::string name;
    std::string text;
};

/// Runs `action` once, right after the next `TouchThis` of the node it is armed on.
struct Hook {
    bool armed = false;
    Action action;
    int targetSlot = 0;  // or kWalkingList
};

/// The hook that an Arm action arms.
Hook HookOf(Action const& p_arm);

/// What the library tells of a new node.
struct NodeIdentity {
    std::uintptr_t address = 0;          // of the node as a modifiable
    std::uintptr_t propertyAddress = 0;  // of its property as a modifiable
    int uniqueId = 0;
    unsigned typeId = 0;
    int size = 0;  // as the node memory counter adds it
};

struct ModelNode {
    int kind = 0;  // which of the two test classes
    NodeIdentity identity;
    std::string name;
    Stamp stamp;
    Stamp propertyStamp;
    std::vector<Entry> deps;
    bool alive = true;  // constructed and not yet deleted
    bool held = true;   // a slot owns it
    int pins = 0;       // accessors holding it during an operation
    bool propertyDefined = false;
    int propertyValue = 0;
    Hook hook;
};

/// A subscription, numbered in the order made.
struct ModelSubscription {
    int node = kNoNode;
    bool property = false;
    bool active = true;
};

struct ModelWatcher {
    int subject = kNoNode;
    bool property = false;
    Stamp last;
};

/// The model's decision on a hook that fired, so that the library acts on the same slots.
struct HookDecision {
    bool perform = false;
    int targetSlot = -1;
    int argumentSlot = -1;
};

/// What one step should produce.
struct Expectation {
    std::vector<std::string> touches;
    std::vector<std::string> reports;
    Outcome outcome = Outcome::Normal;
    std::vector<HookDecision> hookDecisions;  // one per hook that fired
    std::vector<Outcome> hookOutcomes;        // one per performed hook
};

class Model {
public:
    /// `p_baselineCount`: the library's node count at the start, which deletion traces include.
    explicit Model(int p_baselineCount);

    static std::string const& PropertyName(int p_kind);
    int InSlot(int p_slot) const { return _slots[static_cast<std::size_t>(p_slot)]; }
    bool Occupied(int p_slot) const { return InSlot(p_slot) != kNoNode; }
    ModelNode const& Node(int p_id) const { return _nodes[static_cast<std::size_t>(p_id)]; }
    int NodeCount() const { return static_cast<int>(_nodes.size()); }
    /// Nodes alive, as the library counts them.
    int Constructed() const;
    bool AnyHookArmed() const;
    /// The slot that owns the node, or -1.
    int SlotOf(int p_id) const;

    /// A node the library made, now owned by `p_slot`.
    void AddNode(int p_slot, int p_kind, NodeIdentity const& p_identity, std::string const& p_name);
    /// Runs anything but Create, Clone and CycleQuery; returns what the library should produce.
    Expectation Apply(Action const& p_action);
    void DisarmAll();

    int SubscriptionCount() const { return static_cast<int>(_subscriptions.size()); }
    /// Searched as the library does (by address); `p_completed` is false past the budget.
    bool HasCycle(int p_start, bool p_property, bool& p_completed) const;
    /// The `TouchThis` calls a touch of the node would cause now, hooks aside, capped at kWalkBudget + 1.
    std::size_t EstimateWalk(int p_id) const;
    /// Slots (entries by model id, "p" after a property, "x" expired), node count and bytes, watchers, watcher list.
    std::vector<std::string> StateLines() const;
    /// Touches the stamp of the first node in a slot, so that the comparison has something to notice.
    void CorruptStampForSelfTest();

private:
    struct Frame {
        int owner;
        int walk;                    // the walk this frame belongs to
        std::vector<Entry> entries;  // the list as it was when the walk reached it
        bool expiredSeen;
        bool orphaned;  // the owner's list was cleared meanwhile
    };
    struct WalkAborted {};

    ModelNode& At(int p_id) { return _nodes[static_cast<std::size_t>(p_id)]; }
    bool Expired(Entry const& p_entry) const { return !Node(p_entry.node).alive; }
    std::uintptr_t AddressOf(Entry const& p_entry) const;
    void Report(qeldebug::reportkind p_kind, std::string const& p_category, std::string const& p_text);
    void TouchThis(int p_id, int p_type, int p_change, int p_relationship, int p_originator, std::string const& p_name,
                   std::string const& p_payload);
    void Walk(int p_walk, int p_owner, int p_given, int p_type, int p_change, int p_originator,
              std::string const& p_name, std::string const& p_payload);
    Frame* FirstFrameOf(int p_owner);  // the frame that marked the owner's current list
    void DeleteOne(int p_id);
    void EndWalk(int p_owner, bool p_squeeze);
    void PropertyChanged(int p_id, int p_change, std::string const& p_payload, bool p_valueChanged);
    bool DependOn(int p_source, int p_dependent);
    bool StopDependingOn(int p_source, int p_dependent);
    bool Reaches(int p_from, int p_target) const;
    void SetValue(int p_id, bool p_defined, int p_value);
    void ClearListOf(int p_id);
    bool Refused(int p_owner, std::string const& p_operation);
    void Deleter(int p_id);
    void FireHook(int p_id);
    bool Perform(Action const& p_action, int p_id, int p_other);
    Stamp SubjectStamp(ModelWatcher const& p_watcher) const;
    bool WatcherEmpty(int p_watcher) const;
    bool WatcherModified(int p_watcher) const;
    std::size_t CountWalk(int p_owner, std::vector<char>& p_onPath, std::size_t p_count) const;
    bool Visit(Entry const& p_node, std::vector<std::uintptr_t>& p_path, bool& p_found, std::size_t& p_visits) const;

    int _baselineCount;
    std::vector<ModelNode> _nodes;
    std::vector<int> _slots;
    std::vector<ModelWatcher> _watchers;
    std::vector<ModelSubscription> _subscriptions;
    std::vector<Frame> _frames;             // the current walk path, nested walks included
    int _walks = 0;                         // walks started so far: each one's id
    bool _oncePerObject = false;            // walks touch each object once (a Touch action chose it)
    std::map<int, std::set<int>> _visited;  // what each once-per-object walk touched
    static int VisitKey(Entry const& p_entry) { return p_entry.node * 2 + (p_entry.property ? 1 : 0); }
    int _deletionDepth = 0;     // deletions running inside one another
    std::vector<int> _pending;  // deletions beyond the inline depth
    bool _throwing = false;
    Expectation _expectation;
};

}  // namespace qelmodel

#endif
