#include "Model.h"

// By path: the fuzzer builds this file with the model's directory alone.
#include "../support/ExpectedReports.h"

#include <algorithm>

namespace qelmodel {

using namespace qeltest;

namespace {

constexpr int kTypeNode = 0;
constexpr int kTypeProperty = 1;

}  // namespace

std::string ToString(Stamp const& p_stamp) {
    return std::to_string(p_stamp.counter) + "[" + (p_stamp.touched ? "1" : "0") + "]";
}

std::string ToString(qeldebug::record const& p_record) {
    return "kind " + std::to_string(static_cast<int>(p_record.kind)) + " [" + p_record.category + "] " + p_record.text;
}

// node:type/change/relationship/originator/'name' and the payload, if any.
std::string TouchText(int p_node, int p_type, int p_change, int p_relationship, int p_originator,
                      std::string const& p_name, std::string const& p_payload) {
    return std::to_string(p_node) + ":" + std::to_string(p_type) + "/" + std::to_string(p_change) + "/" +
           std::to_string(p_relationship) + "/from=" + (p_originator == kNoNode ? "-" : std::to_string(p_originator)) +
           "/'" + p_name + "'" + p_payload;
}

std::string NodeText(int p_id, int p_kind, std::string const& p_stamp, std::string const& p_propertyStamp,
                     std::string const& p_value, std::string const& p_name, std::string const& p_list) {
    return "node " + std::to_string(p_id) + " kind " + std::to_string(p_kind) + " stamps " + p_stamp + " " +
           p_propertyStamp + " value " + p_value + " name '" + p_name + "' list [" + p_list + "]";
}

std::string SubscriberText(int p_number, std::string const& p_what) {
    return "subscriber " + std::to_string(p_number) + " told " + p_what;
}

std::string LinkText(bool p_dependOn, bool p_result) {
    return std::string(p_dependOn ? "DependOn " : "StopDependingOn ") + (p_result ? "true" : "false");
}

std::string WatcherText(bool p_empty, bool p_modified, bool p_modifiedOrEmpty) {
    return std::string("watcher empty ") + (p_empty ? "1" : "0") + " modified " + (p_modified ? "1" : "0") +
           " modifiedOrEmpty " + (p_modifiedOrEmpty ? "1" : "0");
}

char const* ToString(Outcome p_outcome) {
    static char const* const names[] = {"normal", "check_failed", "other exception"};
    return names[static_cast<int>(p_outcome)];
}

Model::Model(int p_baselineCount) : _baselineCount(p_baselineCount), _slots(kSlots, kNoNode), _watchers(kWatchers) {}

std::string const& Model::PropertyName(int p_kind) {
    static std::string const names[2] = {"value", "weight"};
    return names[p_kind];
}

int Model::Constructed() const {
    return static_cast<int>(std::count_if(_nodes.begin(), _nodes.end(), [](ModelNode const& p) { return p.alive; }));
}

bool Model::AnyHookArmed() const {
    return std::any_of(_nodes.begin(), _nodes.end(), [](ModelNode const& p) { return p.alive && p.hook.armed; });
}

void Model::Report(qeldebug::reportkind p_kind, std::string const& p_category, std::string const& p_text) {
    _expectation.reports.push_back(ToString(qeldebug::record{p_kind, p_category, p_text}));
}

std::uintptr_t Model::AddressOf(Entry const& p_entry) const {
    ModelNode const& node = Node(p_entry.node);
    return p_entry.property ? node.identity.propertyAddress : node.identity.address;
}

void Model::AddNode(int p_slot, int p_kind, NodeIdentity const& p_identity, std::string const& p_name) {
    _nodes.emplace_back();
    _nodes.back().kind = p_kind;
    _nodes.back().identity = p_identity;
    _nodes.back().name = p_name;
    _slots[static_cast<std::size_t>(p_slot)] = NodeCount() - 1;
}

void Model::CorruptStampForSelfTest() {
    auto const slot = std::find_if(_slots.begin(), _slots.end(), [](int p_id) { return p_id != kNoNode; });
    if (slot != _slots.end()) {
        At(*slot).stamp.Touch();
    }
}

Hook HookOf(Action const& p_arm) {
    static OpCode const codes[] = {OpCode::Insert, OpCode::Insert, OpCode::Remove,      OpCode::Clear,
                                   OpCode::Clear,  OpCode::Touch,  OpCode::SetProperty, OpCode::Release};
    Hook hook;
    hook.armed = true;
    hook.targetSlot = p_arm.id;
    hook.action.code = codes[p_arm.mode % 8];
    hook.action.other = p_arm.other;
    hook.action.value = p_arm.value;
    hook.action.property = p_arm.mode == 1 || (p_arm.mode == 2 && (p_arm.value & 1) != 0);
    return hook;
}

Expectation Model::Apply(Action const& p_action) {
    _expectation = Expectation();
    _throwing = p_action.throwing;
    try {
        if (!Perform(p_action, p_action.slot < 0 ? kNoNode : InSlot(p_action.slot),
                     p_action.other < 0 ? kNoNode : InSlot(p_action.other))) {
            _expectation.outcome = Outcome::CheckFailed;
        }
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
    return std::move(_expectation);
}

// Also what a hook does, from inside a walk. False when a check fails.
bool Model::Perform(Action const& p_action, int p_id, int p_other) {
    ModelWatcher& watcher = _watchers[static_cast<std::size_t>(p_action.watcher)];
    switch (p_action.code) {
        case OpCode::Release:
            std::replace(_slots.begin(), _slots.end(), p_id, kNoNode);
            At(p_id).held = false;
            if (Node(p_id).pins == 0) {
                Deleter(p_id);
            }
            break;
        case OpCode::Insert:
            if (Refused(p_id, "Insert" + kModifiableArgument)) {
                return false;
            }
            At(p_id).deps.push_back(Entry{p_other, p_action.property});
            break;
        case OpCode::Remove: {
            if (Refused(p_id, "Remove" + kModifiableArgument)) {
                return false;
            }
            // By address only: an expired entry of a node that lived at the same address matches too.
            std::vector<Entry>& deps = At(p_id).deps;
            std::uintptr_t const address = AddressOf(Entry{p_other, p_action.property});
            auto const found =
                std::find_if(deps.begin(), deps.end(), [&](Entry const& p) { return AddressOf(p) == address; });
            if (found == deps.end()) {
                Report(qeldebug::reportkind::ensure, "", kRemoveMissing);
                return false;
            }
            deps.erase(found);
            break;
        }
        case OpCode::Clear:
            ClearListOf(p_id);
            break;
        case OpCode::Touch: {
            // Walks started inside keep the choice, as the library's scope does.
            bool const enclosing = _oncePerObject;
            _oncePerObject = enclosing || p_action.mode == 1;
            try {
                TouchThis(p_id, kTypeNode, kForce, kSelf, kNoNode, Node(p_id).name, "");
            } catch (...) {
                _oncePerObject = enclosing;
                throw;
            }
            _oncePerObject = enclosing;
            break;
        }
        case OpCode::SetProperty:
            SetValue(p_id, p_action.mode == 0, p_action.value);
            break;
        case OpCode::Access:
            // Through an accessor found by name, which holds the node meanwhile.
            if (p_action.name != PropertyName(Node(p_id).kind)) {
                Report(qeldebug::reportkind::sentry, "", kPropertyNameMiss);
                return false;
            }
            ++At(p_id).pins;
            try {
                if (p_action.mode == 2) {
                    PropertyChanged(p_id, kForce, "", false);
                } else {
                    SetValue(p_id, p_action.mode == 0, p_action.value);
                }
            } catch (WalkAborted const&) {
                _expectation.outcome = Outcome::CheckFailed;
            }
            if (--At(p_id).pins == 0 && !Node(p_id).held) {
                Deleter(p_id);
            }
            break;
        case OpCode::Watch:
            // Another subject starts modified, remembering (0, touched); the same one again changes nothing.
            if (WatcherEmpty(p_action.watcher) || watcher.subject != p_id || watcher.property != p_action.property) {
                watcher = ModelWatcher{p_id, p_action.property, Stamp{0, true}};
            }
            break;
        case OpCode::Reset:
            watcher.last = WatcherEmpty(p_action.watcher) ? Stamp() : SubjectStamp(watcher);
            break;
        case OpCode::Arm:
            At(p_id).hook = HookOf(p_action);
            break;
        case OpCode::Subscribe:
            if (p_action.mode < 2) {
                _subscriptions.push_back(ModelSubscription{p_id, p_action.mode == 1, true});
            } else if (!_subscriptions.empty()) {
                _subscriptions[static_cast<std::size_t>(p_action.value) % _subscriptions.size()].active = false;
            }
            break;
        case OpCode::DependOn:
            return p_action.mode == 0 ? DependOn(p_id, p_other) : StopDependingOn(p_id, p_other);
        default:
            break;
    }
    return true;
}

void Model::DisarmAll() {
    for (ModelNode& node : _nodes) {
        node.hook.armed = false;
    }
}

std::vector<std::string> Model::StateLines() const {
    std::vector<std::string> lines;
    lines.reserve(kSlots + kWatchers + 2);
    int bytes = 0;
    for (int id : _slots) {
        std::string list;
        for (Entry const& entry : id == kNoNode ? std::vector<Entry>() : Node(id).deps) {
            list += (list.empty() ? "" : ",") + (Expired(entry) ? "x" : std::to_string(entry.node)) +
                    (entry.property && !Expired(entry) ? "p" : "");
        }
        ModelNode const* node = id == kNoNode ? nullptr : &Node(id);
        lines.push_back(!node ? "-"
                              : NodeText(id, node->kind, ToString(node->stamp), ToString(node->propertyStamp),
                                         node->propertyDefined ? std::to_string(node->propertyValue) : "-", node->name,
                                         list));
    }
    for (ModelNode const& node : _nodes) {
        bytes += node.alive ? node.identity.size : 0;
    }
    lines.push_back("nodes " + std::to_string(Constructed()) + " bytes " + std::to_string(bytes));
    bool anyModified = false;
    for (int w = 0; w < kWatchers; ++w) {
        lines.push_back(WatcherText(WatcherEmpty(w), WatcherModified(w), WatcherModified(w)));
        anyModified = anyModified || WatcherModified(w);
    }
    lines.push_back(WatcherText(false, anyModified, anyModified));
    lines.push_back("subscriptions active " +
                    std::to_string(std::count_if(_subscriptions.begin(), _subscriptions.end(),
                                                 [](ModelSubscription const& p) { return p.active; })));
    return lines;
}

Model::Frame* Model::FirstFrameOf(int p_owner) {
    for (Frame& frame : _frames) {
        if (frame.owner == p_owner && !frame.orphaned) {
            return &frame;
        }
    }
    return nullptr;
}

// A list being walked is detached: the walks read it to its end and drop it
// unsqueezed, while the owner starts afresh with an empty list.
void Model::ClearListOf(int p_id) {
    for (Frame& frame : _frames) {
        if (frame.owner == p_id) {
            frame.orphaned = true;
        }
    }
    At(p_id).deps.clear();
}

bool Model::Refused(int p_owner, std::string const& p_operation) {
    bool const walked = FirstFrameOf(p_owner) != nullptr;
    if (walked) {
        Report(qeldebug::reportkind::ensure, "", kWalkedListRefused + p_operation);
    }
    return walked;
}

// The test node's TouchThis: log, stamp, walk when it is the origin, then run its hook.
// A walk hands on its root's weak reference, which reads as the root only while something owns it.
void Model::TouchThis(int p_id, int p_type, int p_change, int p_relationship, int p_originator,
                      std::string const& p_name, std::string const& p_payload) {
    bool const shown = p_originator != kNoNode && (Node(p_originator).held || Node(p_originator).pins > 0);
    _expectation.touches.push_back(
        TouchText(p_id, p_type, p_change, p_relationship, shown ? p_originator : kNoNode, p_name, p_payload));
    At(p_id).stamp.Touch();
    // Subscribers hear of the touch between the stamp and the walk.
    for (std::size_t k = 0; k < _subscriptions.size(); ++k) {
        if (_subscriptions[k].active && _subscriptions[k].node == p_id && !_subscriptions[k].property) {
            _expectation.touches.push_back(SubscriberText(static_cast<int>(k), std::to_string(p_change)));
        }
    }
    if (p_relationship == kSelf) {
        Walk(++_walks, p_id, kSelf, p_type, p_change, p_id, p_name, p_payload);
    }
    FireHook(p_id);
}

// Depth first, in list order, over the list as it was when the walk reached
// it. A list already on the path of the same walk is not walked again; one
// that only enclosing walks are on is. Expired entries are skipped, and the
// list squeezed after by the outermost walk on it.
void Model::Walk(int p_walk, int p_owner, int p_given, int p_type, int p_change, int p_originator,
                 std::string const& p_name, std::string const& p_payload) {
    if (Node(p_owner).deps.empty()) {
        return;
    }
    for (Frame const& frame : _frames) {
        if (frame.owner == p_owner && frame.walk == p_walk && !frame.orphaned) {
            return;
        }
    }
    int const derived = p_given == kSelf ? kExplicit : kImplicit;
    if (_oncePerObject && p_given == kSelf) {
        _visited[p_walk].insert(VisitKey(Entry{p_owner, false}));  // the origin is touched already
    }
    _frames.push_back(Frame{p_owner, p_walk, Node(p_owner).deps, false, false});
    std::size_t const index = _frames.size() - 1;
    try {
        for (std::size_t i = 0; i < _frames[index].entries.size(); ++i) {
            Entry const entry = _frames[index].entries[i];
            if (!Expired(entry) && _oncePerObject && !_visited[p_walk].insert(VisitKey(entry)).second) {
                continue;  // reached before in this walk
            }
            if (!Expired(entry) && entry.property) {
                // A property stamps itself and has no dependents to follow.
                At(entry.node).propertyStamp.Touch();
                Report(qeldebug::reportkind::chkptr, "", kNotATracker);
                if (_throwing) {
                    throw WalkAborted();
                }
                continue;
            }
            if (!Expired(entry)) {
                TouchThis(entry.node, p_type, p_change, derived, p_originator, p_name, p_payload);
            }
            if (Expired(entry)) {
                _frames[index].expiredSeen = true;
                continue;
            }
            Walk(p_walk, entry.node, derived, p_type, p_change, p_originator, p_name, p_payload);
        }
    } catch (...) {
        EndWalk(p_owner, false);  // leaving by an exception squeezes nothing
        throw;
    }
    EndWalk(p_owner, true);
}

void Model::EndWalk(int p_owner, bool p_squeeze) {
    Frame const done = _frames.back();
    _frames.pop_back();
    if (!done.orphaned) {
        if (Frame* const outer = FirstFrameOf(p_owner)) {
            // An enclosing walk is still on the list: it squeezes when it ends.
            outer->expiredSeen = outer->expiredSeen || (p_squeeze && done.expiredSeen);
            return;
        }
        if (p_squeeze && done.expiredSeen) {
            std::vector<Entry>& deps = At(p_owner).deps;
            deps.erase(std::remove_if(deps.begin(), deps.end(), [this](Entry const& p) { return Expired(p); }),
                       deps.end());
        }
    }
}

// A new value is told to the property's subscribers once it has propagated,
// unless the node ended meanwhile.
void Model::PropertyChanged(int p_id, int p_change, std::string const& p_payload, bool p_valueChanged) {
    At(p_id).propertyStamp.Touch();
    std::size_t const subscribers = _subscriptions.size();
    TouchThis(p_id, kTypeProperty, p_change, kSelf, kNoNode, PropertyName(Node(p_id).kind), p_payload);
    for (std::size_t k = 0; p_valueChanged && Node(p_id).alive && k < subscribers; ++k) {
        if (_subscriptions[k].active && _subscriptions[k].node == p_id && _subscriptions[k].property) {
            _expectation.touches.push_back(SubscriberText(
                static_cast<int>(k), Node(p_id).propertyDefined ? std::to_string(Node(p_id).propertyValue) : "-"));
        }
    }
}

// A duplicate is a live entry naming the dependent; a cycle, a path from the
// dependent to the source. Both change nothing; a walked list refuses.
bool Model::DependOn(int p_source, int p_dependent) {
    for (Entry const& entry : Node(p_source).deps) {
        if (!Expired(entry) && !entry.property && entry.node == p_dependent) {
            _expectation.touches.push_back(LinkText(true, false));
            return true;
        }
    }
    if (Reaches(p_dependent, p_source)) {
        _expectation.outcome = Outcome::OtherException;  // CyclicDependencyFoundExcept
        return true;
    }
    if (Refused(p_source, "Insert" + kModifiableArgument)) {
        return false;
    }
    At(p_source).deps.push_back(Entry{p_dependent, false});
    _expectation.touches.push_back(LinkText(true, true));
    return true;
}

bool Model::StopDependingOn(int p_source, int p_dependent) {
    if (Refused(p_source, "Remove" + kModifiableArgument)) {
        return false;
    }
    std::vector<Entry>& deps = At(p_source).deps;
    auto const found = std::find_if(
        deps.begin(), deps.end(), [&](Entry const& p) { return !Expired(p) && !p.property && p.node == p_dependent; });
    bool const listed = found != deps.end();
    if (listed) {
        deps.erase(found);
    }
    _expectation.touches.push_back(LinkText(false, listed));
    return true;
}

bool Model::Reaches(int p_from, int p_target) const {
    std::vector<char> seen(_nodes.size(), 0);
    std::vector<int> pending{p_from};
    seen[static_cast<std::size_t>(p_from)] = 1;
    while (!pending.empty()) {
        int const id = pending.back();
        pending.pop_back();
        if (id == p_target) {
            return true;
        }
        for (Entry const& entry : Node(id).deps) {
            if (!Expired(entry) && !entry.property && seen[static_cast<std::size_t>(entry.node)] == 0) {
                seen[static_cast<std::size_t>(entry.node)] = 1;
                pending.push_back(entry.node);
            }
        }
    }
    return false;
}

void Model::SetValue(int p_id, bool p_defined, int p_value) {
    At(p_id).propertyDefined = p_defined;
    At(p_id).propertyValue = p_value;
    PropertyChanged(p_id, p_defined ? kEdit : kClear, p_defined ? "/" + std::to_string(p_value) : "", true);
}

// Through an accessor found by name, which holds the node meanwhile: set,
// reset, touch, or set a value of the wrong type.
// A deletion that starts while another runs is done inside it, up to a
// depth of 64; beyond that it waits for the deletion at that depth to end.
void Model::Deleter(int p_id) {
    int const kInlineDepth = 64;
    if (_deletionDepth >= kInlineDepth) {
        _pending.push_back(p_id);
        return;
    }
    ++_deletionDepth;
    DeleteOne(p_id);
    if (_deletionDepth == kInlineDepth) {
        for (std::size_t i = 0; i < _pending.size(); ++i) {
            DeleteOne(_pending[i]);
        }
        _pending.clear();
    }
    --_deletionDepth;
}

void Model::DeleteOne(int p_id) {
    Report(qeldebug::reportkind::dout, "Trace",
           "delete node id(" + std::to_string(Node(p_id).identity.uniqueId) + ") type(" +
               std::to_string(Node(p_id).identity.typeId) +
               ") : count = " + std::to_string(_baselineCount + Constructed()));
    TouchThis(p_id, kTypeNode, kDeallocate, kSelf, kNoNode, Node(p_id).name, "");
    ClearListOf(p_id);
    At(p_id).alive = false;
    for (ModelSubscription& subscription : _subscriptions) {
        subscription.active = subscription.active && subscription.node != p_id;
    }
}

int Model::SlotOf(int p_id) const {
    auto const found = std::find(_slots.begin(), _slots.end(), p_id);
    return found == _slots.end() ? -1 : static_cast<int>(found - _slots.begin());
}

void Model::FireHook(int p_id) {
    if (!Node(p_id).hook.armed) {
        return;
    }
    Hook const hook = Node(p_id).hook;
    At(p_id).hook.armed = false;
    HookDecision decision{false, hook.targetSlot, hook.action.other};
    if (hook.targetSlot == kWalkingList) {
        decision.targetSlot = _frames.empty() ? -1 : SlotOf(_frames.back().owner);
    }
    int const target = decision.targetSlot < 0 ? kNoNode : InSlot(decision.targetSlot);
    int const argument = InSlot(hook.action.other);
    OpCode const code = hook.action.code;
    decision.perform = target != kNoNode;
    if (code == OpCode::Insert || code == OpCode::Remove) {
        decision.perform = decision.perform && argument != kNoNode &&
                           (code == OpCode::Remove || Node(target).deps.size() < kMaxListSize);
    } else if (code == OpCode::Touch || code == OpCode::SetProperty || code == OpCode::Release) {
        decision.perform = decision.perform && EstimateWalk(target) <= kWalkBudget;
    }
    _expectation.hookDecisions.push_back(decision);
    if (decision.perform) {
        Outcome const outcome = Perform(hook.action, target, argument) ? Outcome::Normal : Outcome::CheckFailed;
        _expectation.hookOutcomes.push_back(outcome);
    }
}

Stamp Model::SubjectStamp(ModelWatcher const& p_watcher) const {
    ModelNode const& node = Node(p_watcher.subject);
    return p_watcher.property ? node.propertyStamp : node.stamp;
}

bool Model::WatcherEmpty(int p_watcher) const {
    ModelWatcher const& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    return watcher.subject == kNoNode || !Node(watcher.subject).alive;
}

bool Model::WatcherModified(int p_watcher) const {
    ModelWatcher const& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    return WatcherEmpty(p_watcher) || SubjectStamp(watcher) != watcher.last;
}

// By address, along the current path: meeting one again is a cycle. Expired entries and
// properties have no dependents; once a cycle is found every further visit stops its siblings.
bool Model::Visit(Entry const& p_node, std::vector<std::uintptr_t>& p_path, bool& p_found,
                  std::size_t& p_visits) const {
    if (++p_visits > kSearchBudget) {
        return false;
    }
    std::uintptr_t const address = AddressOf(p_node);
    if (std::find(p_path.begin(), p_path.end(), address) != p_path.end()) {
        p_found = true;
        return true;
    }
    if (p_found) {
        return false;
    }
    p_path.push_back(address);
    if (!Expired(p_node) && !p_node.property) {
        std::vector<Entry> const children = Node(p_node.node).deps;
        for (Entry const& child : children) {
            if (!Visit(child, p_path, p_found, p_visits)) {
                break;
            }
        }
    }
    p_path.pop_back();
    return true;
}

bool Model::HasCycle(int p_start, bool p_property, bool& p_completed) const {
    std::vector<std::uintptr_t> path;
    bool found = false;
    std::size_t visits = 0;
    Visit(Entry{p_start, p_property}, path, found, visits);
    p_completed = visits <= kSearchBudget;
    return found;
}

std::size_t Model::CountWalk(int p_owner, std::vector<char>& p_onPath, std::size_t p_count) const {
    std::size_t const owner = static_cast<std::size_t>(p_owner);
    if (Node(p_owner).deps.empty() || p_onPath[owner] != 0) {
        return p_count;
    }
    p_onPath[owner] = 1;
    for (Entry const& entry : Node(p_owner).deps) {
        if (!Expired(entry) &&
            (++p_count > kWalkBudget ||
             (!entry.property && (p_count = CountWalk(entry.node, p_onPath, p_count)) > kWalkBudget))) {
            break;
        }
    }
    p_onPath[owner] = 0;
    return p_count;
}

std::size_t Model::EstimateWalk(int p_id) const {
    // A walk started from a hook is a walk of its own: it walks every list.
    std::vector<char> onPath(_nodes.size(), 0);
    return CountWalk(p_id, onPath, 1);
}

}  // namespace qelmodel
