#include "Driver.h"

#include "Model.h"

#include <ModificationWatcher.h>
#include <Node.h>
#include <NodeAccess.h>
#include <Property.h>
#include <PropertyAccess.h>

#include <boost/any.hpp>

#include <algorithm>
#include <optional>
#include <utility>

namespace qelmodel {

namespace core = Qel::Chart::Core;

// Logs every TouchThis it receives, lets the node do its part, then runs its armed hook.
class LoggedNode : public core::Node {
public:
    explicit LoggedNode(std::string const& p_propertyName) : _property(*this, p_propertyName) {}
    int _modelId = kNoNode;
    core::Property<int> _property;

protected:
    void TouchThis(core::IModifiable::ModifiableType p_type, core::IModifiable::Change p_change,
                   core::IModifiable::Relationship p_relationship, core::WeakPtr<core::Node> const& p_originator,
                   std::string const& p_name, boost::any const& p_value) override;
};

template <int K>
class NodeKind final : public LoggedNode {
public:
    NodeKind() : LoggedNode(Model::PropertyName(K)) {}
};
using NodeKindA = NodeKind<0>;
using NodeKindB = NodeKind<1>;

class Harness;

namespace {

thread_local Harness* t_active = nullptr;

int KindOf(LoggedNode const& p_node) { return dynamic_cast<NodeKindB const*>(&p_node) != nullptr ? 1 : 0; }

core::IModifiable const& Object(LoggedNode const& p_node, bool p_property) {
    return p_property ? static_cast<core::IModifiable const&>(p_node._property) : p_node;
}

template <class Body>
Outcome Guarded(Body p_body) {
    try {
        p_body();
    } catch (qeldebug::check_failed const&) {
        return Outcome::CheckFailed;
    } catch (...) {
        return Outcome::OtherException;
    }
    return Outcome::Normal;
}

// Class registration is traced once per process, whenever the first node of
// a class happens to be made: not something a step can predict.
std::vector<std::string> Relevant(std::vector<qeldebug::record> const& p_records) {
    std::vector<std::string> result;
    for (qeldebug::record const& record : p_records) {
        if (record.kind != qeldebug::reportkind::dout || record.category != "NodeTypeInfo") {
            result.push_back(ToString(record));
        }
    }
    return result;
}

std::string Text(core::TimeStamp const& p_stamp) { return ToString(Stamp{p_stamp.Counter(), p_stamp.Touched()}); }

std::string FirstDifference(std::vector<std::string> const& p_expected, std::vector<std::string> const& p_actual) {
    auto const differ = std::mismatch(p_expected.begin(), p_expected.end(), p_actual.begin(), p_actual.end());
    bool const modelEnds = differ.first == p_expected.end();
    bool const libraryEnds = differ.second == p_actual.end();
    if (modelEnds && libraryEnds) {
        return std::string();
    }
    return "at #" + std::to_string(differ.first - p_expected.begin()) +
           "\n    model:   " + (modelEnds ? "(end)" : *differ.first) +
           "\n    library: " + (libraryEnds ? "(end)" : *differ.second);
}

// Opcodes by weight: the low seven bits of the first byte pick one of 128 entries.
struct Weighted {
    OpCode code;
    int weight;
};
Weighted const kWeights[] = {
    {OpCode::Create, 11}, {OpCode::Clone, 4},     {OpCode::Release, 7},  {OpCode::Insert, 22},
    {OpCode::Remove, 7},  {OpCode::Clear, 4},     {OpCode::Touch, 14},   {OpCode::SetProperty, 8},
    {OpCode::Access, 8},  {OpCode::Watch, 8},     {OpCode::Reset, 5},    {OpCode::CycleQuery, 2},
    {OpCode::Arm, 16},    {OpCode::Subscribe, 6}, {OpCode::DependOn, 6},
};

OpCode CodeFor(int p_index) {
    for (Weighted const& entry : kWeights) {
        if (p_index < entry.weight) {
            return entry.code;
        }
        p_index -= entry.weight;
    }
    return OpCode::Touch;
}

}  // namespace

// The library and the model, stepped together. The library side keeps the
// nodes in slots, the watchers, the touch log and the hooks.
class Harness {
public:
    // Library calls are logged and run hooks while a harness lives, not in its teardown.
    Harness() { t_active = this; }
    ~Harness() { t_active = nullptr; }

    void RecordTouch(int p_id, core::IModifiable::ModifiableType p_type, core::IModifiable::Change p_change,
                     core::IModifiable::Relationship p_relationship, core::WeakPtr<core::Node> const& p_originator,
                     std::string const& p_name, boost::any const& p_value) {
        int originator = kNoNode;
        if (!p_originator.Expired()) {
            core::Ptr<core::Node> const locked = p_originator.Lock();
            LoggedNode const* logged = dynamic_cast<LoggedNode const*>(locked.Get());
            originator = logged != nullptr ? logged->_modelId : -2;
        }
        std::string payload;
        if (!p_value.empty()) {
            int const* value = boost::any_cast<int>(&p_value);
            payload = value != nullptr ? "/" + std::to_string(*value) : "/not-an-int";
        }
        _touches.push_back(TouchText(p_id, p_type, p_change, p_relationship, originator, p_name, payload));
    }

    // Follows the model's decision on the hook of a node just touched; the node may be gone afterwards.
    void AfterTouch(int p_id) {
        std::size_t const id = static_cast<std::size_t>(p_id);
        if (p_id < 0 || id >= _hooks.size() || !_hooks[id].armed) {
            return;
        }
        Hook const hook = _hooks[id];
        _hooks[id].armed = false;
        if (_cursor >= _decisions.size()) {
            ++_cursor;
            _hookTrouble = "a hook fired that the model did not fire (node " + std::to_string(p_id) + ")";
            return;
        }
        HookDecision const decision = _decisions[_cursor++];
        if (!decision.perform) {
            return;
        }
        Action action = hook.action;
        action.slot = decision.targetSlot;
        action.other = decision.argumentSlot;
        if (action.slot < 0 || Slot(action.slot) == nullptr ||
            ((action.code == OpCode::Insert || action.code == OpCode::Remove) && Slot(action.other) == nullptr)) {
            _hookTrouble = "a hook's slot is empty on the library side";
            return;
        }
        _hookOutcomes.push_back(Guarded([&] { Perform(action); }));
    }

    // Also what a hook does, from inside a walk.
    void Perform(Action const& p_action) {
        Action const& r = p_action;
        LoggedNode* node = r.slot < 0 ? nullptr : Slot(r.slot);
        core::ModificationWatcher& watcher = _watchers[static_cast<std::size_t>(r.watcher)];
        switch (r.code) {
            case OpCode::Release:
                ReleaseSlot(r.slot);
                break;
            case OpCode::Insert:
                if (r.mode == 1) {
                    node->Deps().Reserve(node->Deps().Size() + 4);  // room that later inserts use
                }
                node->Deps().Insert(Object(*Slot(r.other), r.property));
                break;
            case OpCode::Remove:
                node->Deps().Remove(Object(*Slot(r.other), r.property));
                break;
            case OpCode::Clear:
                node->Deps().Clear();
                break;
            case OpCode::Touch: {
                // Mode 0 touches under whatever the enclosing action chose.
                std::optional<core::PropagationScope> once;
                if (r.mode == 1) {
                    once.emplace(core::Propagation::OncePerObject);
                }
                node->Touch();
                break;
            }
            case OpCode::SetProperty:
                r.mode == 0 ? node->_property.Set(r.value) : node->_property.ResetValue();
                break;
            case OpCode::Access: {
                core::Accessors::PropertyAccess access(core::Ptr<core::Node>(_slots[static_cast<std::size_t>(r.slot)]),
                                                       r.name);
                if (r.mode == 0) {
                    access.SetValue(boost::any(r.value));
                } else if (r.mode == 1) {
                    access.ResetValue();
                } else {
                    access.Touch();
                }
                break;
            }
            case OpCode::Watch:
                watcher.Watch(Object(*node, r.property));
                break;
            case OpCode::Reset:
                watcher.Reset();
                break;
            case OpCode::Arm:
                _hooks[static_cast<std::size_t>(node->_modelId)] = HookOf(r);
                break;
            case OpCode::Subscribe:
                Subscribe(*node, r);
                break;
            case OpCode::DependOn: {
                LoggedNode& dependent = *Slot(r.other);
                bool const result = r.mode == 0 ? dependent.DependOn(*node) : dependent.StopDependingOn(*node);
                _touches.push_back(LinkText(r.mode == 0, result));
                break;
            }
            default:
                break;
        }
    }

    // Subscribers log their calls among the touches, numbered as made.
    void Subscribe(LoggedNode& p_node, Action const& p_action) {
        if (p_action.mode == 2) {
            if (!_subscriptions.empty()) {
                _subscriptions[static_cast<std::size_t>(p_action.value) % _subscriptions.size()].Cancel();
            }
            return;
        }
        int const number = static_cast<int>(_subscriptions.size());
        auto log = [number](std::string const& p_what) {
            if (t_active != nullptr) {
                t_active->_touches.push_back(SubscriberText(number, p_what));
            }
        };
        _subscriptions.push_back(
            p_action.mode == 0
                ? p_node.OnTouched([log](core::TouchEvent const& p_event) { log(std::to_string(p_event.change)); })
                : p_node._property.OnChanged([log](core::Property<int> const& p_property) {
                      log(p_property.IsValueDefined() ? std::to_string(p_property.Get()) : "-");
                  }));
    }

    LoggedNode* Slot(int p_slot) const { return _slots[static_cast<std::size_t>(p_slot)].Get(); }

    // The slot gives up its node first, so that whatever the deletion sets off sees it empty.
    void ReleaseSlot(int p_slot) {
        core::Ptr<LoggedNode> doomed;
        std::swap(doomed, _slots[static_cast<std::size_t>(p_slot)]);
    }

    int FindSlot(int p_from, bool p_occupied) const {
        for (int i = 0; i < kSlots; ++i) {
            if (_model.Occupied((p_from + i) % kSlots) == p_occupied) {
                return (p_from + i) % kSlots;
            }
        }
        return -1;
    }

    Action Resolve(std::uint8_t const* p_bytes) const {
        Action r;
        r.code = CodeFor(p_bytes[0] & 0x7F);
        int const a = p_bytes[1];
        int const b = p_bytes[2];
        int const c = p_bytes[3];
        bool const making = r.code == OpCode::Create || r.code == OpCode::Clone;
        r.slot = FindSlot(a % kSlots, !making);
        r.skip = r.slot < 0;
        switch (r.code) {
            case OpCode::Create: {
                r.mode = c & 1;
                // No name, short (held inside the node), long (on the heap), and 13 or 14 characters.
                std::string const number = std::to_string(_model.NodeCount() % 10);
                std::string const names[] = {"", "n" + number, "a-rather-long-node-name-" + number,
                                             "node-name-12" + number, "node-name-123" + number};
                r.name = names[(c >> 1) % 5];
                break;
            }
            case OpCode::Clone:
            case OpCode::Insert:
            case OpCode::Remove:
            case OpCode::DependOn:
                r.other = FindSlot(b % kSlots, true);
                r.property = (r.code == OpCode::Insert || r.code == OpCode::Remove) && c % 8 == 0;
                r.mode = r.code == OpCode::Insert ? (c >> 1) & 1 : r.code == OpCode::DependOn ? c & 1 : 0;
                r.skip = r.skip || r.other < 0;
                if ((r.code == OpCode::Insert || (r.code == OpCode::DependOn && r.mode == 0)) && !r.skip) {
                    r.skip = _model.Node(_model.InSlot(r.slot)).deps.size() >= kMaxListSize;
                } else if (r.code == OpCode::Remove && !r.skip && (c & 0x10) != 0) {
                    // Mostly remove something listed, so that removal does more than report a missing entry.
                    std::vector<Entry> const& deps = _model.Node(_model.InSlot(r.slot)).deps;
                    Entry const listed = deps.empty() ? Entry() : deps[(c >> 5) % deps.size()];
                    if (listed.node != kNoNode && _model.SlotOf(listed.node) >= 0) {
                        r.other = _model.SlotOf(listed.node);
                        r.property = listed.property;
                    }
                }
                break;
            case OpCode::Touch:
                r.mode = c & 1;  // 1: once per object
                break;
            case OpCode::SetProperty:
            case OpCode::Access:
                r.value = b;
                r.mode = r.code == OpCode::SetProperty ? c & 1 : (c >> 1) % 3;
                r.name = Model::PropertyName(c & 1);
                break;
            case OpCode::Watch:
                r.watcher = b % kWatchers;
                r.property = (c & 1) != 0;
                break;
            case OpCode::Reset:
                r.slot = -1;
                r.watcher = a % kWatchers;
                r.skip = false;
                break;
            case OpCode::CycleQuery:
                r.slot = -1;
                r.skip = _model.NodeCount() == 0;
                r.id = r.skip ? kNoNode : a % _model.NodeCount();
                r.property = (c & 1) != 0;
                break;
            case OpCode::Subscribe:
                r.mode = c % 3;
                r.value = b;
                r.skip = r.skip || (r.mode == 2 && _model.SubscriptionCount() == 0);
                break;
            case OpCode::Arm:
                r.mode = c % 8;
                r.value = c / 8;
                // Half of the hooks act on the list being walked: that is where changes must be refused.
                r.id = r.value % 2 == 1 ? kWalkingList : b % kSlots;
                r.other = (b / kSlots) % kSlots;
                break;
            default:
                break;
        }
        bool const walks = r.code == OpCode::Release || r.code == OpCode::Touch || r.code == OpCode::SetProperty ||
                           r.code == OpCode::Access;
        r.skip = r.skip || (walks && _model.EstimateWalk(_model.InSlot(r.slot)) > kWalkBudget);
        // The throwing policy only where a failed check can end nothing but the
        // walk itself: a touch while no hook could delete nodes.
        r.throwing = (p_bytes[0] & 0x80) != 0 && walks && r.code != OpCode::Release && !_model.AnyHookArmed();
        // The code's letter, then slot,other,watcher,id,mode,value'name'.
        r.text = std::string(1, "CKDIRLTPNWrYHSO"[static_cast<int>(r.code)]);
        for (int field : {r.slot, r.other, r.watcher, r.id, r.mode, r.value}) {
            r.text += std::to_string(field) + ",";
        }
        r.text += "'" + r.name + "'" + (r.property ? "p" : "") + (r.throwing ? "!" : "");
        return r;
    }
    bool Step(std::uint8_t const* p_bytes) {
        ++_steps;
        Action const action = Resolve(p_bytes);
        return action.skip || Run(action);
    }

    bool Run(Action const& p_action);
    bool CreateOrClone(Action const& p_action);

    bool Fail(std::string const& p_text) {
        _failure = "step " + std::to_string(_steps - 1) + " (" + _history.back() + "): " + p_text;
        return false;
    }

    // A step's touches, reports, outcome and hooks, as lines to compare.
    static std::vector<std::string> Log(std::vector<std::string> p_lines, std::vector<std::string> const& p_reports,
                                        Outcome p_outcome, std::size_t p_hooks, std::vector<Outcome> const& p_ends) {
        p_lines.push_back("reports:");
        p_lines.insert(p_lines.end(), p_reports.begin(), p_reports.end());
        p_lines.push_back(std::string("outcome ") + ToString(p_outcome) + ", hooks fired " + std::to_string(p_hooks));
        for (Outcome end : p_ends) {
            p_lines.back() += std::string(" ") + ToString(end);
        }
        return p_lines;
    }

    // The same lines as Model::StateLines, read from the library.
    std::vector<std::string> StateLines() const {
        std::vector<std::pair<core::IModifiable const*, int>> live;  // model id, times two, plus one for a property
        for (core::Ptr<LoggedNode> const& slot : _slots) {
            if (slot) {
                live.emplace_back(&Object(*slot, false), 2 * slot->_modelId);
                live.emplace_back(&Object(*slot, true), 2 * slot->_modelId + 1);
            }
        }
        std::vector<std::string> lines;
        lines.reserve(kSlots + kWatchers + 2);
        for (core::Ptr<LoggedNode> const& node : _slots) {
            std::string list;
            for (core::IModifiable::Identifier const* entry = node ? node->Deps().Begin() : nullptr;
                 node && entry != node->Deps().End(); ++entry) {
                auto const found =
                    std::find_if(live.begin(), live.end(), [&](auto const& p) { return p.first == entry->Get(); });
                list += list.empty() ? "" : ",";
                list += entry->Expired()      ? "x"
                        : found == live.end() ? "?"
                                              : std::to_string(found->second / 2) + (found->second % 2 ? "p" : "");
            }
            bool const defined = node && node->_property.IsValueDefined();
            lines.push_back(
                !node ? "-"
                      : NodeText(node->_modelId, KindOf(*node), Text(node->Time()), Text(node->_property.Time()),
                                 defined ? std::to_string(node->_property.Get()) : "-", node->Name(), list));
        }
        lines.push_back("nodes " + std::to_string(core::Node::_debugNodeCount.load() - _baseCount) + " bytes " +
                        std::to_string(core::Node::_debugNodeMemUsage.load() - _baseMemory));
        core::ModificationWatcherList all;
        for (core::ModificationWatcher const& watcher : _watchers) {
            lines.push_back(WatcherText(watcher.Empty(), watcher.Modified(), watcher.ModifiedOrEmpty()));
            all.Append(watcher);
        }
        lines.push_back(WatcherText(all.Empty(), all.Modified(), all.ModifiedOrEmpty()));
        lines.push_back("subscriptions active " +
                        std::to_string(std::count_if(_subscriptions.begin(), _subscriptions.end(),
                                                     [](core::Subscription const& p) { return p.Active(); })));
        return lines;
    }
    bool CompareState() {
        std::string const state = FirstDifference(_model.StateLines(), StateLines());
        if (!state.empty()) {
            return Fail("state differs: " + state);
        }
        for (int s = 0; s < kSlots; ++s) {
            bool completed = false;
            bool const expected = _model.Occupied(s) && _model.HasCycle(_model.InSlot(s), false, completed);
            if (completed && expected != core::Dependencies::HasCyclicDependency(Slot(s)->Id())) {
                return Fail("cycle query from slot " + std::to_string(s) + ": model " + (expected ? "true" : "false"));
            }
        }
        return true;
    }

    // Disarms hooks, clears every list, releases every node, comparing each step.
    bool Finish() {
        _model.DisarmAll();
        for (Hook& hook : _hooks) {
            hook.armed = false;
        }
        for (OpCode code : {OpCode::Clear, OpCode::Release}) {
            for (int s = 0; s < kSlots; ++s) {
                Action action;
                action.code = code;
                action.slot = s;
                action.text = std::string(code == OpCode::Clear ? "L" : "D") + std::to_string(s);
                ++_steps;
                if (_model.Occupied(s) && !Run(action)) {
                    return false;
                }
            }
        }
        return _model.Constructed() == 0 || Fail("nodes left after every slot was released");
    }

    std::vector<core::Ptr<LoggedNode>> _slots = std::vector<core::Ptr<LoggedNode>>(kSlots);
    std::vector<core::ModificationWatcher> _watchers = std::vector<core::ModificationWatcher>(kWatchers);
    std::vector<core::Subscription> _subscriptions;           // by number; most outlive their nodes
    std::vector<core::IModifiable::Identifier> _nodeIds;      // by model id, kept after the node is gone
    std::vector<core::IModifiable::Identifier> _propertyIds;  // likewise
    std::vector<Hook> _hooks;                                 // by model id
    std::vector<std::string> _touches;
    std::vector<HookDecision> _decisions;
    std::size_t _cursor = 0;
    std::vector<Outcome> _hookOutcomes;
    std::string _hookTrouble;
    int _baseCount = core::Node::_debugNodeCount.load();
    int _baseMemory = core::Node::_debugNodeMemUsage.load();
    Model _model{_baseCount};
    std::vector<std::string> _history;
    std::string _failure;
    std::size_t _steps = 0;
};

void LoggedNode::TouchThis(core::IModifiable::ModifiableType p_type, core::IModifiable::Change p_change,
                           core::IModifiable::Relationship p_relationship,
                           core::WeakPtr<core::Node> const& p_originator, std::string const& p_name,
                           boost::any const& p_value) {
    Harness* const harness = t_active;
    int const id = _modelId;
    if (harness != nullptr) {
        harness->RecordTouch(id, p_type, p_change, p_relationship, p_originator, p_name, p_value);
    }
    core::Node::TouchThis(p_type, p_change, p_relationship, p_originator, p_name, p_value);
    if (harness != nullptr) {
        harness->AfterTouch(id);  // may end this node: nothing of it is used afterwards
    }
}

bool Harness::Run(Action const& p_action) {
    _history.push_back(p_action.text);
    if (p_action.code == OpCode::Create || p_action.code == OpCode::Clone) {
        return CreateOrClone(p_action);
    }
    if (p_action.code == OpCode::CycleQuery) {
        bool completed = false;
        bool const expected = _model.HasCycle(p_action.id, p_action.property, completed);
        std::size_t const index = static_cast<std::size_t>(p_action.id);
        bool const actual =
            core::Dependencies::HasCyclicDependency(p_action.property ? _propertyIds[index] : _nodeIds[index]);
        return !completed || expected == actual ||
               Fail(std::string("cycle query: model ") + (expected ? "true" : "false"));
    }
    Expectation const expected = _model.Apply(p_action);
    _touches.clear();
    _decisions = expected.hookDecisions;
    _cursor = 0;
    _hookOutcomes.clear();
    _hookTrouble.clear();
    Outcome outcome = Outcome::Normal;
    std::vector<std::string> reports;
    {
        qeldebug::capture capture(p_action.throwing ? qeldebug::failpolicy::throwing : qeldebug::failpolicy::returning);
        outcome = Guarded([&] { Perform(p_action); });
        reports = Relevant(capture.records());
    }
    std::string const log = FirstDifference(
        Log(expected.touches, expected.reports, expected.outcome, expected.hookDecisions.size(), expected.hookOutcomes),
        Log(_touches, reports, outcome, _cursor, _hookOutcomes));
    if (!log.empty() || !_hookTrouble.empty()) {
        return Fail("step differs: " + log + _hookTrouble);
    }
    return CompareState();
}

bool Harness::CreateOrClone(Action const& p_action) {
    core::Ptr<LoggedNode> made;
    std::vector<std::string> reports;
    int kind = p_action.mode;
    {
        qeldebug::capture capture(qeldebug::failpolicy::returning);
        if (p_action.code == OpCode::Create) {
            made = kind == 0 ? core::Ptr<LoggedNode>(core::Node::Create<NodeKindA>())
                             : core::Ptr<LoggedNode>(core::Node::Create<NodeKindB>());
        } else {
            LoggedNode const* source = Slot(p_action.other);
            kind = KindOf(*source);
            made = core::DynamicPtrCast<LoggedNode>(
                core::Node::CreateTypeOf(core::Ptr<core::Node>(_slots[static_cast<std::size_t>(p_action.other)])));
            if (made.Get() == source) {
                return Fail("the clone is the source itself");
            }
        }
        reports = Relevant(capture.records());
    }
    if (!reports.empty() || KindOf(*made) != kind) {
        return Fail("creating a node reported something or made the wrong class");
    }
    made->_modelId = _model.NodeCount();
    core::Accessors::NodeAccess access{core::Ptr<core::Node>(made)};
    std::string const name = p_action.code == OpCode::Create ? p_action.name : std::string();
    if (!name.empty()) {
        access.SetName(name);
    }
    NodeIdentity const identity{reinterpret_cast<std::uintptr_t>(static_cast<core::IModifiable*>(made.Get())),
                                reinterpret_cast<std::uintptr_t>(static_cast<core::IModifiable*>(&made->_property)),
                                access.UniqueId(), access.TypeId(),
                                static_cast<int>(kind == 0 ? sizeof(NodeKindA) : sizeof(NodeKindB))};
    _nodeIds.push_back(made->Id());
    _propertyIds.push_back(made->_property.Id());
    _hooks.push_back(Hook());
    _slots[static_cast<std::size_t>(p_action.slot)] = made;
    _model.AddNode(p_action.slot, kind, identity, name);
    return CompareState();
}

std::string RunBytes(std::uint8_t const* p_bytes, std::size_t p_size, std::size_t p_maxSteps, bool p_corruptModel) {
    Harness harness;
    std::size_t const steps = std::min(p_size / kOperationBytes, p_maxSteps);
    bool agreed = true;
    for (std::size_t i = 0; i < steps && agreed; ++i) {
        agreed = harness.Step(p_bytes + i * kOperationBytes);
    }
    if (agreed && p_corruptModel) {
        harness._model.CorruptStampForSelfTest();
    }
    if (agreed && harness.Finish()) {
        return std::string();
    }
    std::string history;
    for (std::string const& entry : harness._history) {
        history += " " + entry;
    }
    return harness._failure + "\nops:" + history;
}

}  // namespace qelmodel
