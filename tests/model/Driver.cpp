#include "Driver.h"

#include <ModificationWatcher.h>
#include <Node.h>
#include <NodeAccess.h>
#include <Property.h>
#include <PropertyAccess.h>

#include <boost/any.hpp>

#include <algorithm>
#include <map>
#include <sstream>

namespace qelmodel {

namespace core = Qel::Chart::Core;

class LibrarySide;

// The test node: it logs every TouchThis it receives, lets the node do its
// part, and then runs the hook armed on it, if any.
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

class NodeKindA final : public LoggedNode {
public:
    NodeKindA() : LoggedNode("value") {}
};

class NodeKindB final : public LoggedNode {
public:
    NodeKindB() : LoggedNode("weight") {}
};

namespace {

thread_local LibrarySide* t_active = nullptr;

int KindOf(LoggedNode const& p_node) { return dynamic_cast<NodeKindB const*>(&p_node) != nullptr ? 1 : 0; }

std::string StampText(core::TimeStamp const& p_stamp) {
    std::ostringstream text;
    text << p_stamp;
    return text.str();
}

bool Ignored(qeldebug::record const& p_record) {
    // Class registration is traced once per process, whenever the first
    // node of a class happens to be made: not something a step can predict.
    return p_record.kind == qeldebug::reportkind::dout && p_record.category == "NodeTypeInfo";
}

std::vector<qeldebug::record> Relevant(std::vector<qeldebug::record> const& p_records) {
    std::vector<qeldebug::record> result;
    for (qeldebug::record const& record : p_records) {
        if (!Ignored(record)) {
            result.push_back(record);
        }
    }
    return result;
}

bool SameRecord(qeldebug::record const& p_left, qeldebug::record const& p_right) {
    return p_left.kind == p_right.kind && p_left.category == p_right.category && p_left.text == p_right.text;
}

}  // namespace

// The library half of a harness: the nodes in their slots, the watchers,
// the log of touches and the hooks.
class LibrarySide {
public:
    LibrarySide(int p_slots, int p_watchers)
        : _slots(static_cast<std::size_t>(p_slots)),
          _watchers(static_cast<std::size_t>(p_watchers)),
          _baseCount(core::Node::_debugNodeCount.load()),
          _baseMemory(core::Node::_debugNodeMemUsage.load()) {}

    ~LibrarySide() {
        // Unlogged and without hooks; lists first so that no deletion walks.
        for (Hook& hook : _hooks) {
            hook.armed = false;
        }
        for (core::Ptr<LoggedNode>& slot : _slots) {
            if (slot) {
                slot->Deps().Clear();
            }
        }
        for (std::size_t i = 0; i < _slots.size(); ++i) {
            ReleaseSlot(static_cast<int>(i));
        }
    }

    void BeginStep(std::vector<HookDecision> const& p_decisions) {
        _touches.clear();
        _decisions = p_decisions;
        _cursor = 0;
        _hookOutcomes.clear();
        _hookTrouble.clear();
    }

    void RecordTouch(int p_id, core::IModifiable::ModifiableType p_type, core::IModifiable::Change p_change,
                     core::IModifiable::Relationship p_relationship, core::WeakPtr<core::Node> const& p_originator,
                     std::string const& p_name, boost::any const& p_value) {
        TouchRecord record;
        record.node = p_id;
        record.type = static_cast<int>(p_type);
        record.change = static_cast<int>(p_change);
        record.relationship = static_cast<int>(p_relationship);
        if (!p_originator.Expired()) {
            core::Ptr<core::Node> const originator = p_originator.Lock();
            LoggedNode const* logged = dynamic_cast<LoggedNode const*>(originator.Get());
            record.originator = logged != nullptr ? logged->_modelId : -2;
        }
        record.name = p_name;
        if (!p_value.empty()) {
            record.hasPayload = true;
            int const* payload = boost::any_cast<int>(&p_value);
            record.payload = payload != nullptr ? *payload : -999999;
        }
        _touches.push_back(record);
    }

    // Runs the hook of a node that was just touched, following the model's
    // decision on whether to perform it. The node may be gone afterwards.
    void AfterTouch(int p_id) {
        if (p_id < 0 || static_cast<std::size_t>(p_id) >= _hooks.size() ||
            !_hooks[static_cast<std::size_t>(p_id)].armed) {
            return;
        }
        Hook const hook = _hooks[static_cast<std::size_t>(p_id)];
        _hooks[static_cast<std::size_t>(p_id)].armed = false;
        if (_cursor >= _decisions.size()) {
            ++_cursor;
            _hookTrouble = "a hook fired that the model did not fire (node " + std::to_string(p_id) + ")";
            return;
        }
        HookDecision const decision = _decisions[_cursor++];
        if (decision.perform) {
            _hookOutcomes.push_back(PerformHook(hook, decision));
        }
    }

    Outcome PerformHook(Hook const& p_hook, HookDecision const& p_decision) {
        if (p_decision.targetSlot < 0 || p_decision.argumentSlot < 0) {
            _hookTrouble = "the model performed a hook without a slot";
            return Outcome::OtherException;
        }
        LoggedNode* target = _slots[static_cast<std::size_t>(p_decision.targetSlot)].Get();
        LoggedNode* argument = _slots[static_cast<std::size_t>(p_decision.argumentSlot)].Get();
        bool const needsArgument = p_hook.action == HookAction::Insert || p_hook.action == HookAction::InsertProperty ||
                                   p_hook.action == HookAction::Remove;
        if (target == nullptr || (needsArgument && argument == nullptr)) {
            _hookTrouble = "a hook's slot is empty on the library side";
            return Outcome::OtherException;
        }
        try {
            switch (p_hook.action) {
                case HookAction::Insert:
                    target->Deps().Insert(Object(*argument, false));
                    break;
                case HookAction::InsertProperty:
                    target->Deps().Insert(Object(*argument, true));
                    break;
                case HookAction::Remove:
                    target->Deps().Remove(Object(*argument, (p_hook.value & 1) != 0));
                    break;
                case HookAction::Squeeze:
                    target->Deps().Squeze();
                    break;
                case HookAction::Clear:
                    target->Deps().Clear();
                    break;
                case HookAction::Touch:
                    target->Touch();
                    break;
                case HookAction::SetProperty:
                    target->_property.Set(p_hook.value);
                    break;
                case HookAction::Release:
                    ReleaseSlot(p_decision.targetSlot);
                    break;
            }
        } catch (qeldebug::check_failed const&) {
            return Outcome::CheckFailed;
        } catch (boost::bad_any_cast const&) {
            return Outcome::BadAnyCast;
        } catch (...) {
            return Outcome::OtherException;
        }
        return Outcome::Normal;
    }

    static core::IModifiable const& Object(LoggedNode const& p_node, bool p_property) {
        if (p_property) {
            return p_node._property;
        }
        return p_node;
    }

    // The slot gives up its node first, so that whatever the deletion sets
    // off already sees the slot empty.
    void ReleaseSlot(int p_slot) {
        core::Ptr<LoggedNode> doomed;
        std::swap(doomed, _slots[static_cast<std::size_t>(p_slot)]);
        doomed = core::Ptr<LoggedNode>();
    }

    std::vector<core::Ptr<LoggedNode>> _slots;
    std::vector<core::ModificationWatcher> _watchers;
    std::vector<core::IModifiable::Identifier> _nodeIds;      // by model id, kept after the node is gone
    std::vector<core::IModifiable::Identifier> _propertyIds;  // likewise
    std::vector<Hook> _hooks;                                 // by model id
    std::vector<TouchRecord> _touches;
    std::vector<HookDecision> _decisions;
    std::size_t _cursor = 0;
    std::vector<Outcome> _hookOutcomes;
    std::string _hookTrouble;
    int _baseCount;
    int _baseMemory;
};

namespace {

// Library calls made during a step are logged and run hooks; calls made
// outside (the teardown of a harness) are not.
class ActiveScope {
public:
    explicit ActiveScope(LibrarySide& p_side) : _previous(t_active) { t_active = &p_side; }
    ~ActiveScope() { t_active = _previous; }
    ActiveScope(ActiveScope const&) = delete;
    ActiveScope& operator=(ActiveScope const&) = delete;

private:
    LibrarySide* _previous;
};

}  // namespace

void LoggedNode::TouchThis(core::IModifiable::ModifiableType p_type, core::IModifiable::Change p_change,
                           core::IModifiable::Relationship p_relationship,
                           core::WeakPtr<core::Node> const& p_originator, std::string const& p_name,
                           boost::any const& p_value) {
    LibrarySide* const side = t_active;
    int const id = _modelId;
    if (side != nullptr) {
        side->RecordTouch(id, p_type, p_change, p_relationship, p_originator, p_name, p_value);
    }
    core::Node::TouchThis(p_type, p_change, p_relationship, p_originator, p_name, p_value);
    if (side != nullptr) {
        side->AfterTouch(id);  // may end this node: nothing of it is used afterwards
    }
}

namespace {

// Opcodes by weight: the byte picks one of 128 entries.
struct Weighted {
    OpCode code;
    int weight;
};
Weighted const kWeights[] = {
    {OpCode::Create, 11},      {OpCode::Clone, 4},       {OpCode::Release, 7},      {OpCode::Insert, 28},
    {OpCode::Remove, 7},       {OpCode::Squeeze, 2},     {OpCode::ClearList, 2},    {OpCode::Touch, 12},
    {OpCode::AccessTouch, 4},  {OpCode::SetProperty, 6}, {OpCode::AccessByName, 5}, {OpCode::AccessByIndex, 3},
    {OpCode::Rename, 2},       {OpCode::Watch, 5},       {OpCode::WatchFresh, 3},   {OpCode::ResetWatcher, 4},
    {OpCode::TouchWatcher, 2}, {OpCode::CopyWatcher, 2}, {OpCode::ClearWatcher, 1}, {OpCode::CycleQuery, 2},
    {OpCode::Arm, 16},
};

OpCode CodeFor(int p_index) {
    int remaining = p_index;
    for (Weighted const& entry : kWeights) {
        if (remaining < entry.weight) {
            return entry.code;
        }
        remaining -= entry.weight;
    }
    return OpCode::Touch;
}

char const* const kActionLetters = "IPRSCTVD";              // by HookAction
char const* const kAccessLetters[] = {"=", "~", "!", "?"};  // set, reset, touch, wrong type

}  // namespace

Operation DecodeOperation(std::uint8_t const* p_bytes) {
    Operation operation;
    operation.code = CodeFor(p_bytes[0] & 0x7F);
    operation.throwing = (p_bytes[0] & 0x80) != 0;
    operation.a = p_bytes[1];
    operation.b = p_bytes[2];
    operation.c = p_bytes[3];
    return operation;
}

// ---------------------------------------------------------------------------
// Harness

struct Harness::Resolved {
    OpCode code = OpCode::Create;
    bool skip = false;
    bool throwing = false;
    int slot = -1;
    int other = -1;
    int watcher = -1;
    int id = kNoNode;
    int value = 0;
    int mode = 0;
    bool property = false;
    std::string name;
    Hook hook;
    std::string text;
};

Harness::Harness(ModelLimits const& p_limits) : _library(new LibrarySide(p_limits.slots, p_limits.watchers)) {
    _model.reset(new Model(p_limits, _library->_baseCount));
    _model->SetClassSize(0, static_cast<int>(sizeof(NodeKindA)));
    _model->SetClassSize(1, static_cast<int>(sizeof(NodeKindB)));
}

Harness::~Harness() = default;

std::string Harness::History() const {
    std::string text;
    for (std::string const& entry : _history) {
        if (!text.empty()) {
            text += " ";
        }
        text += entry;
    }
    return text;
}

int Harness::FindOccupied(int p_from) const {
    int const slots = _model->Limits().slots;
    for (int i = 0; i < slots; ++i) {
        int const slot = (p_from + i) % slots;
        if (_model->Occupied(slot)) {
            return slot;
        }
    }
    return -1;
}

int Harness::FindEmpty(int p_from) const {
    int const slots = _model->Limits().slots;
    for (int i = 0; i < slots; ++i) {
        int const slot = (p_from + i) % slots;
        if (!_model->Occupied(slot)) {
            return slot;
        }
    }
    return -1;
}

int Harness::SlotOf(int p_id) const {
    for (int slot = 0; slot < _model->Limits().slots; ++slot) {
        if (_model->InSlot(slot) == p_id) {
            return slot;
        }
    }
    return -1;
}

// Names of every kind: none, short (held inside the node) and long (on the heap).
std::string Harness::NewName(int p_style) const {
    std::string const number = std::to_string(_model->NodeCount());
    switch (p_style % 4) {
        case 0:
            return std::string();
        case 1:
            return "n" + number;
        case 2:
            return "a-rather-long-node-name-" + number;
        default:
            return "node" + number;
    }
}

bool Harness::TouchLike(OpCode p_code) const {
    return p_code == OpCode::Touch || p_code == OpCode::AccessTouch || p_code == OpCode::SetProperty ||
           p_code == OpCode::AccessByName || p_code == OpCode::AccessByIndex;
}

bool Harness::CheapWalk(int p_slot) const {
    std::size_t const budget = _model->Limits().walkBudget;
    return _model->EstimateWalk(_model->InSlot(p_slot), budget) <= budget;
}

Harness::Resolved Harness::Resolve(Operation const& p_operation) const {
    Resolved r;
    r.code = p_operation.code;
    int const slots = _model->Limits().slots;
    int const watchers = _model->Limits().watchers;
    auto slotText = [](int p_slot) { return std::to_string(p_slot); };
    switch (p_operation.code) {
        case OpCode::Create:
            r.slot = FindEmpty(p_operation.a % slots);
            r.mode = p_operation.c & 1;
            r.name = NewName(p_operation.c >> 1);
            r.skip = r.slot < 0;
            r.text = "C" + slotText(r.slot) + (r.mode == 0 ? "a" : "b") + "'" + r.name + "'";
            break;
        case OpCode::Clone:
            r.slot = FindEmpty(p_operation.a % slots);
            r.other = FindOccupied(p_operation.b % slots);
            r.skip = r.slot < 0 || r.other < 0;
            r.text = "K" + slotText(r.slot) + "<" + slotText(r.other);
            break;
        case OpCode::Release:
            r.slot = FindOccupied(p_operation.a % slots);
            r.skip = r.slot < 0 || !CheapWalk(r.slot);
            r.text = "D" + slotText(r.slot);
            break;
        case OpCode::Insert:
            r.slot = FindOccupied(p_operation.a % slots);
            r.other = FindOccupied(p_operation.b % slots);
            r.property = p_operation.c % 8 == 0;
            r.skip = r.slot < 0 || _model->Node(_model->InSlot(r.slot)).deps.size() >= _model->Limits().maxListSize;
            r.text = "I" + slotText(r.slot) + "+" + slotText(r.other) + (r.property ? "p" : "");
            break;
        case OpCode::Remove: {
            r.slot = FindOccupied(p_operation.a % slots);
            r.other = FindOccupied(p_operation.b % slots);
            r.property = p_operation.c % 8 == 0;
            r.skip = r.slot < 0;
            if (!r.skip && (p_operation.c & 0x10) != 0) {
                // Mostly remove something that is listed, so that removal
                // does more than report a missing entry.
                std::vector<Entry> const& deps = _model->Node(_model->InSlot(r.slot)).deps;
                if (!deps.empty()) {
                    Entry const entry = deps[(p_operation.c >> 5) % deps.size()];
                    int const slot = SlotOf(entry.node);
                    if (slot >= 0) {
                        r.other = slot;
                        r.property = entry.property;
                    }
                }
            }
            r.text = "R" + slotText(r.slot) + "-" + slotText(r.other) + (r.property ? "p" : "");
            break;
        }
        case OpCode::Squeeze:
        case OpCode::ClearList:
        case OpCode::Touch:
        case OpCode::AccessTouch:
            r.slot = FindOccupied(p_operation.a % slots);
            r.skip = r.slot < 0 || (TouchLike(r.code) && !CheapWalk(r.slot));
            r.text = std::string(r.code == OpCode::Squeeze     ? "S"
                                 : r.code == OpCode::ClearList ? "L"
                                 : r.code == OpCode::Touch     ? "T"
                                                               : "A") +
                     slotText(r.slot);
            break;
        case OpCode::SetProperty:
            r.slot = FindOccupied(p_operation.a % slots);
            r.value = p_operation.b;
            r.mode = p_operation.c & 1;
            r.skip = r.slot < 0 || !CheapWalk(r.slot);
            r.text = "P" + slotText(r.slot) + (r.mode == 0 ? "=" + std::to_string(r.value) : std::string("~"));
            break;
        case OpCode::AccessByName:
            r.slot = FindOccupied(p_operation.a % slots);
            r.value = p_operation.b;
            r.name = (p_operation.c & 1) != 0 ? "weight" : "value";
            r.mode = (p_operation.c >> 1) % 4;
            r.skip = r.slot < 0 || !CheapWalk(r.slot);
            r.text = "N" + slotText(r.slot) + "." + r.name + kAccessLetters[r.mode] +
                     (r.mode == 0 ? std::to_string(r.value) : std::string());
            break;
        case OpCode::AccessByIndex:
            r.slot = FindOccupied(p_operation.a % slots);
            r.value = p_operation.b;
            r.other = p_operation.c % 4 == 3 ? 1 + (p_operation.c >> 6) : 0;  // the index
            r.mode = (p_operation.c >> 2) % 4;
            r.skip = r.slot < 0 || !CheapWalk(r.slot);
            r.text = "X" + slotText(r.slot) + "[" + std::to_string(r.other) + "]" + kAccessLetters[r.mode] +
                     (r.mode == 0 ? std::to_string(r.value) : std::string());
            break;
        case OpCode::Rename:
            r.slot = FindOccupied(p_operation.a % slots);
            r.name = NewName(p_operation.c);
            r.skip = r.slot < 0;
            r.text = "M" + slotText(r.slot) + "'" + r.name + "'";
            break;
        case OpCode::Watch:
        case OpCode::WatchFresh:
            r.watcher = p_operation.b % watchers;
            r.slot = FindOccupied(p_operation.a % slots);
            r.property = (p_operation.c & 1) != 0;
            r.mode = !r.property && (p_operation.c & 2) != 0 ? 1 : 0;  // 1: through a Ptr
            r.skip = r.slot < 0;
            r.text = std::string(r.code == OpCode::Watch ? "W" : "F") + std::to_string(r.watcher) + "<" +
                     slotText(r.slot) + (r.property ? "p" : "") + (r.mode == 1 ? "*" : "");
            break;
        case OpCode::ResetWatcher:
        case OpCode::TouchWatcher:
        case OpCode::ClearWatcher:
            r.watcher = p_operation.a % watchers;
            r.text = std::string(r.code == OpCode::ResetWatcher   ? "r"
                                 : r.code == OpCode::TouchWatcher ? "t"
                                                                  : "e") +
                     std::to_string(r.watcher);
            break;
        case OpCode::CopyWatcher:
            r.watcher = p_operation.a % watchers;
            r.other = p_operation.b % watchers;
            r.text = "c" + std::to_string(r.watcher) + "=" + std::to_string(r.other);
            break;
        case OpCode::CycleQuery:
            r.skip = _model->NodeCount() == 0;
            r.id = r.skip ? kNoNode : p_operation.a % _model->NodeCount();
            r.property = (p_operation.c & 1) != 0;
            r.text = "Y" + std::to_string(r.id) + (r.property ? "p" : "");
            break;
        case OpCode::Arm:
            r.slot = FindOccupied(p_operation.a % slots);
            r.hook.action = static_cast<HookAction>(p_operation.c % 8);
            r.hook.value = p_operation.c / 8;
            // Half of the hooks act on the list being walked when they fire:
            // that is where changes must be refused.
            r.hook.targetSlot = r.hook.value % 2 == 1 ? kWalkingList : p_operation.b % slots;
            r.hook.argumentSlot = (p_operation.b / slots) % slots;
            r.skip = r.slot < 0;
            r.text = "H" + slotText(r.slot) + ":" + kActionLetters[static_cast<int>(r.hook.action)] +
                     (r.hook.targetSlot == kWalkingList ? std::string("w") : std::to_string(r.hook.targetSlot)) + "," +
                     std::to_string(r.hook.argumentSlot);
            break;
    }
    // The throwing policy is used only where a failed check can end nothing
    // but the walk itself: a touch without hooks that could delete nodes.
    r.throwing = p_operation.throwing && TouchLike(r.code) && !_model->AnyHookArmed();
    return r;
}

void Harness::ApplyToModel(Resolved const& p_resolved) {
    Resolved const& r = p_resolved;
    Model& model = *_model;
    switch (r.code) {
        case OpCode::Create:
        case OpCode::Clone:
        case OpCode::CycleQuery:
            break;
        case OpCode::Release:
            model.Release(r.slot);
            break;
        case OpCode::Insert:
            model.Insert(r.slot, r.other, r.property);
            break;
        case OpCode::Remove:
            model.Remove(r.slot, r.other, r.property);
            break;
        case OpCode::Squeeze:
            model.Squeeze(r.slot);
            break;
        case OpCode::ClearList:
            model.ClearList(r.slot);
            break;
        case OpCode::Touch:
            model.Touch(r.slot);
            break;
        case OpCode::AccessTouch:
            model.AccessTouch(r.slot);
            break;
        case OpCode::SetProperty:
            if (r.mode == 0) {
                model.SetProperty(r.slot, r.value);
            } else {
                model.ResetProperty(r.slot);
            }
            break;
        case OpCode::AccessByName:
            model.AccessProperty(r.slot, r.name, static_cast<Model::AccessAction>(r.mode), r.value);
            break;
        case OpCode::AccessByIndex:
            model.AccessPropertyByIndex(r.slot, r.other, static_cast<Model::AccessAction>(r.mode), r.value);
            break;
        case OpCode::Rename:
            model.Rename(r.slot, r.name);
            break;
        case OpCode::Watch:
            model.Watch(r.watcher, r.slot, r.property);
            break;
        case OpCode::WatchFresh:
            model.WatchFresh(r.watcher, r.slot, r.property);
            break;
        case OpCode::ResetWatcher:
            model.ResetWatcher(r.watcher);
            break;
        case OpCode::TouchWatcher:
            model.TouchWatcher(r.watcher);
            break;
        case OpCode::CopyWatcher:
            model.CopyWatcher(r.watcher, r.other);
            break;
        case OpCode::ClearWatcher:
            model.ClearWatcher(r.watcher);
            break;
        case OpCode::Arm:
            model.Arm(r.slot, r.hook);
            break;
    }
}

namespace {

void Act(core::Accessors::PropertyAccess& p_access, int p_mode, int p_value) {
    switch (static_cast<Model::AccessAction>(p_mode)) {
        case Model::AccessAction::Set:
            p_access.SetValue(boost::any(p_value));
            break;
        case Model::AccessAction::Reset:
            p_access.ResetValue();
            break;
        case Model::AccessAction::Touch:
            p_access.Touch();
            break;
        case Model::AccessAction::SetWrongType:
            p_access.SetValue(boost::any(std::string("text")));
            break;
    }
}

}  // namespace

Outcome Harness::RunLibrary(Resolved const& p_resolved) {
    Resolved const& r = p_resolved;
    LibrarySide& lib = *_library;
    auto node = [&](int p_slot) -> LoggedNode& { return *lib._slots[static_cast<std::size_t>(p_slot)].Get(); };
    auto owned = [&](int p_slot) { return core::Ptr<core::Node>(lib._slots[static_cast<std::size_t>(p_slot)]); };
    auto watcher = [&](int p_watcher) -> core::ModificationWatcher& {
        return lib._watchers[static_cast<std::size_t>(p_watcher)];
    };
    try {
        switch (r.code) {
            case OpCode::Create:
            case OpCode::Clone:
            case OpCode::CycleQuery:
                break;
            case OpCode::Release:
                lib.ReleaseSlot(r.slot);
                break;
            case OpCode::Insert:
                node(r.slot).Deps().Insert(LibrarySide::Object(node(r.other), r.property));
                break;
            case OpCode::Remove:
                node(r.slot).Deps().Remove(LibrarySide::Object(node(r.other), r.property));
                break;
            case OpCode::Squeeze:
                node(r.slot).Deps().Squeze();
                break;
            case OpCode::ClearList:
                node(r.slot).Deps().Clear();
                break;
            case OpCode::Touch:
                node(r.slot).Touch();
                break;
            case OpCode::AccessTouch: {
                core::Accessors::NodeAccess access(owned(r.slot));
                access.Touch();
                break;
            }
            case OpCode::SetProperty:
                if (r.mode == 0) {
                    node(r.slot)._property.Set(r.value);
                } else {
                    node(r.slot)._property.ResetValue();
                }
                break;
            case OpCode::AccessByName: {
                core::Accessors::PropertyAccess access(owned(r.slot), r.name);
                Act(access, r.mode, r.value);
                break;
            }
            case OpCode::AccessByIndex: {
                core::Accessors::PropertyAccess access(owned(r.slot), static_cast<std::uint64_t>(r.other));
                Act(access, r.mode, r.value);
                break;
            }
            case OpCode::Rename: {
                core::Accessors::NodeAccess access(owned(r.slot));
                access.SetName(r.name);
                break;
            }
            case OpCode::Watch:
                if (r.mode == 1) {
                    watcher(r.watcher).Watch(
                        core::Ptr<core::IModifiable>(lib._slots[static_cast<std::size_t>(r.slot)]));
                } else {
                    watcher(r.watcher).Watch(LibrarySide::Object(node(r.slot), r.property));
                }
                break;
            case OpCode::WatchFresh:
                if (r.mode == 1) {
                    watcher(r.watcher) = core::ModificationWatcher(
                        core::Ptr<core::IModifiable>(lib._slots[static_cast<std::size_t>(r.slot)]));
                } else {
                    watcher(r.watcher) = core::ModificationWatcher(LibrarySide::Object(node(r.slot), r.property));
                }
                break;
            case OpCode::ResetWatcher:
                watcher(r.watcher).Reset();
                break;
            case OpCode::TouchWatcher:
                watcher(r.watcher).Touch();
                break;
            case OpCode::CopyWatcher:
                watcher(r.watcher) = watcher(r.other);
                break;
            case OpCode::ClearWatcher:
                watcher(r.watcher) = core::ModificationWatcher();
                break;
            case OpCode::Arm: {
                Hook hook = r.hook;
                hook.armed = true;
                lib._hooks[static_cast<std::size_t>(_model->InSlot(r.slot))] = hook;
                break;
            }
        }
    } catch (qeldebug::check_failed const&) {
        return Outcome::CheckFailed;
    } catch (boost::bad_any_cast const&) {
        return Outcome::BadAnyCast;
    } catch (...) {
        return Outcome::OtherException;
    }
    return Outcome::Normal;
}

bool Harness::Fail(std::string const& p_text) {
    if (_failure.empty()) {
        _failure = "step " + std::to_string(_stats.steps - 1) + " (" +
                   (_history.empty() ? std::string("-") : _history.back()) + "): " + p_text;
    }
    return false;
}

bool Harness::Step(Operation const& p_operation) {
    if (!_failure.empty() || _finished) {
        return false;
    }
    ++_stats.steps;
    Resolved const resolved = Resolve(p_operation);
    if (resolved.skip) {
        ++_stats.skipped;
        return true;
    }
    return RunResolved(resolved);
}

bool Harness::RunResolved(Resolved const& p_resolved) {
    Resolved const& r = p_resolved;
    _history.push_back(r.text + (r.throwing ? "!" : ""));
    if (r.code == OpCode::Create || r.code == OpCode::Clone) {
        return CreateOrClone(r);
    }
    if (r.code == OpCode::CycleQuery) {
        bool completed = false;
        bool const expected = _model->HasCycle(r.id, r.property, completed);
        if (!completed) {
            ++_stats.skipped;
            return true;
        }
        std::size_t const index = static_cast<std::size_t>(r.id);
        bool const actual = core::Dependencies::HasCyclicDependency(r.property ? _library->_propertyIds[index]
                                                                               : _library->_nodeIds[index]);
        if (expected != actual) {
            return Fail(std::string("cycle query from ") + std::to_string(r.id) + (r.property ? "p" : "") + ": model " +
                        (expected ? "true" : "false") + ", library " + (actual ? "true" : "false"));
        }
        return true;
    }
    _model->BeginStep(r.throwing);
    ApplyToModel(r);
    Expectation const expected = _model->TakeExpectation();
    _library->BeginStep(expected.hookDecisions);
    Outcome outcome = Outcome::Normal;
    std::vector<qeldebug::record> records;
    {
        qeldebug::capture capture(r.throwing ? qeldebug::failpolicy::throwing : qeldebug::failpolicy::returning);
        ActiveScope active(*_library);
        outcome = RunLibrary(r);
        records = Relevant(capture.records());
    }
    CountStats(r, expected, outcome);
    return Compare(expected, outcome, records) && CompareState();
}

bool Harness::CreateOrClone(Resolved const& p_resolved) {
    Resolved const& r = p_resolved;
    LibrarySide& lib = *_library;
    core::Ptr<LoggedNode> made;
    std::vector<qeldebug::record> records;
    int kind = r.mode;
    {
        qeldebug::capture capture(qeldebug::failpolicy::returning);
        ActiveScope active(lib);
        try {
            if (r.code == OpCode::Create) {
                made = r.mode == 0 ? core::Ptr<LoggedNode>(core::Node::Create<NodeKindA>())
                                   : core::Ptr<LoggedNode>(core::Node::Create<NodeKindB>());
            } else {
                LoggedNode const& source = *lib._slots[static_cast<std::size_t>(r.other)].Get();
                kind = _model->Node(_model->InSlot(r.other)).kind;
                core::Ptr<core::Node> const clone =
                    core::Node::CreateTypeOf(core::Ptr<core::Node>(lib._slots[static_cast<std::size_t>(r.other)]));
                made = core::DynamicPtrCast<LoggedNode>(clone);
                if (made.Get() == &source || !(made->Type() == source.Type())) {
                    return Fail("the clone is the source itself or of another class");
                }
                ++_stats.clones;
            }
        } catch (std::exception const& p_error) {
            return Fail(std::string("creating a node threw: ") + p_error.what());
        }
        records = Relevant(capture.records());
    }
    if (!records.empty()) {
        return Fail("creating a node reported: " + ToString(records.front()));
    }
    if (KindOf(*made) != kind) {
        return Fail("the new node is of the wrong class");
    }
    int const id = _model->NodeCount();
    made->_modelId = id;
    core::Accessors::NodeAccess access{core::Ptr<core::Node>(made)};
    std::string const name = r.code == OpCode::Create ? r.name : std::string();
    if (!name.empty()) {
        access.SetName(name);
    }
    NodeIdentity identity;
    identity.address = reinterpret_cast<std::uintptr_t>(static_cast<core::IModifiable*>(made.Get()));
    identity.propertyAddress = reinterpret_cast<std::uintptr_t>(static_cast<core::IModifiable*>(&made->_property));
    identity.uniqueId = access.UniqueId();
    identity.typeId = access.TypeId();
    lib._nodeIds.push_back(made->Id());
    lib._propertyIds.push_back(made->_property.Id());
    lib._hooks.push_back(Hook());
    lib._slots[static_cast<std::size_t>(r.slot)] = made;
    std::string error;
    _model->AddNode(r.slot, kind, identity, name, error);
    if (!error.empty()) {
        return Fail(error);
    }
    return CompareState();
}

void Harness::CountStats(Resolved const& p_resolved, Expectation const& p_expected, Outcome p_outcome) {
    _stats.touches += p_expected.touches.size();
    for (TouchRecord const& touch : p_expected.touches) {
        if (touch.change == kDeallocate && touch.relationship == kSelf) {
            ++_stats.deallocations;
        }
    }
    _stats.hooksPerformed += p_expected.hookOutcomes.size();
    for (qeldebug::record const& report : p_expected.reports) {
        if (report.text.find("IsBeingWalked") != std::string::npos) {
            ++_stats.refusedChanges;
        } else if (report.text.find("found != _list.End()") != std::string::npos) {
            ++_stats.missingRemoves;
        }
    }
    if (p_resolved.throwing && p_outcome == Outcome::CheckFailed) {
        ++_stats.throwingWalks;
    }
    if (_cycleReachable && p_expected.touches.size() > 1) {
        ++_stats.cycleRuleWalks;
    }
}

namespace {

template <class T, class Show>
std::string FirstDifference(std::vector<T> const& p_expected, std::vector<T> const& p_actual, Show p_show,
                            bool (*p_same)(T const&, T const&)) {
    std::size_t const common = std::min(p_expected.size(), p_actual.size());
    std::size_t index = 0;
    while (index < common && p_same(p_expected[index], p_actual[index])) {
        ++index;
    }
    if (index == common && p_expected.size() == p_actual.size()) {
        return std::string();
    }
    std::ostringstream text;
    text << "first difference at #" << index << " of " << p_expected.size() << " expected, " << p_actual.size()
         << " actual\n    expected:";
    for (std::size_t i = index; i < p_expected.size() && i < index + 4; ++i) {
        text << "\n      " << p_show(p_expected[i]);
    }
    text << "\n    actual:";
    for (std::size_t i = index; i < p_actual.size() && i < index + 4; ++i) {
        text << "\n      " << p_show(p_actual[i]);
    }
    return text.str();
}

bool SameTouch(TouchRecord const& p_left, TouchRecord const& p_right) { return p_left == p_right; }

}  // namespace

bool Harness::Compare(Expectation const& p_expected, Outcome p_outcome,
                      std::vector<qeldebug::record> const& p_records) {
    LibrarySide const& lib = *_library;
    std::string const touches = FirstDifference(
        p_expected.touches, lib._touches, [](TouchRecord const& p_record) { return ToString(p_record); }, &SameTouch);
    if (!touches.empty()) {
        return Fail("touch log differs: " + touches);
    }
    std::string const reports = FirstDifference(
        p_expected.reports, p_records, [](qeldebug::record const& p_record) { return ToString(p_record); },
        &SameRecord);
    if (!reports.empty()) {
        return Fail("reports differ: " + reports);
    }
    if (p_outcome != p_expected.outcome) {
        return Fail(std::string("outcome: model ") + ToString(p_expected.outcome) + ", library " + ToString(p_outcome));
    }
    if (!lib._hookTrouble.empty()) {
        return Fail(lib._hookTrouble);
    }
    if (lib._cursor != p_expected.hookDecisions.size()) {
        return Fail("hooks fired: model " + std::to_string(p_expected.hookDecisions.size()) + ", library " +
                    std::to_string(lib._cursor));
    }
    if (lib._hookOutcomes != p_expected.hookOutcomes) {
        std::string text = "hook outcomes differ: model";
        for (Outcome outcome : p_expected.hookOutcomes) {
            text += std::string(" ") + ToString(outcome);
        }
        text += ", library";
        for (Outcome outcome : lib._hookOutcomes) {
            text += std::string(" ") + ToString(outcome);
        }
        return Fail(text);
    }
    return true;
}

bool Harness::CompareState() {
    LibrarySide& lib = *_library;
    Model const& model = *_model;
    std::map<core::IModifiable const*, std::string> live;
    for (core::Ptr<LoggedNode> const& slot : lib._slots) {
        if (slot) {
            live[static_cast<core::IModifiable const*>(slot.Get())] = std::to_string(slot->_modelId);
            live[static_cast<core::IModifiable const*>(&slot->_property)] = std::to_string(slot->_modelId) + "p";
        }
    }
    for (int s = 0; s < model.Limits().slots; ++s) {
        int const id = model.InSlot(s);
        LoggedNode* node = lib._slots[static_cast<std::size_t>(s)].Get();
        std::string const where = "slot " + std::to_string(s) + " (node " + std::to_string(id) + "): ";
        if ((id == kNoNode) != (node == nullptr)) {
            return Fail("slot " + std::to_string(s) + ": model " + (id == kNoNode ? "empty" : "occupied") +
                        ", library " + (node == nullptr ? "empty" : "occupied"));
        }
        if (node == nullptr) {
            continue;
        }
        ModelNode const& expected = model.Node(id);
        if (node->_modelId != id || KindOf(*node) != expected.kind) {
            return Fail(where + "holds another node or class");
        }
        if (StampText(node->Time()) != ToString(expected.stamp)) {
            return Fail(where + "stamp: model " + ToString(expected.stamp) + ", library " + StampText(node->Time()));
        }
        if (StampText(node->_property.Time()) != ToString(expected.propertyStamp)) {
            return Fail(where + "property stamp: model " + ToString(expected.propertyStamp) + ", library " +
                        StampText(node->_property.Time()));
        }
        bool const defined = node->_property.IsValueDefined();
        if (defined != expected.propertyDefined || (defined && node->_property.Get() != expected.propertyValue)) {
            return Fail(where + "property value differs");
        }
        if (node->Name() != expected.name) {
            return Fail(where + "name: model '" + expected.name + "', library '" + node->Name() + "'");
        }
        std::string list;
        for (core::IModifiable::Identifier const* entry = node->Deps().Begin(); entry != node->Deps().End(); ++entry) {
            if (!list.empty()) {
                list += ",";
            }
            if (entry->Expired()) {
                list += "x";
            } else {
                auto const found = live.find(entry->Get());
                list += found != live.end() ? found->second : std::string("?");
            }
        }
        if (list != model.ListText(id)) {
            return Fail(where + "list: model [" + model.ListText(id) + "], library [" + list + "]");
        }
    }
    int const count = core::Node::_debugNodeCount.load() - lib._baseCount;
    if (count != model.Constructed()) {
        return Fail("node count: model " + std::to_string(model.Constructed()) + ", library " + std::to_string(count));
    }
    int const memory = core::Node::_debugNodeMemUsage.load() - lib._baseMemory;
    if (memory != model.MemoryInUse()) {
        return Fail("node memory: model " + std::to_string(model.MemoryInUse()) + ", library " +
                    std::to_string(memory));
    }
    core::ModificationWatcherList all;
    bool anyModified = false;
    for (int w = 0; w < model.Limits().watchers; ++w) {
        core::ModificationWatcher const& watcher = lib._watchers[static_cast<std::size_t>(w)];
        bool const empty = model.WatcherEmpty(w);
        bool const modified = model.WatcherModified(w);
        if (watcher.Empty() != empty || watcher.Modified() != modified || watcher.ModifiedOrEmpty() != modified) {
            return Fail("watcher " + std::to_string(w) + ": model empty=" + std::to_string(empty) +
                        " modified=" + std::to_string(modified) + ", library empty=" + std::to_string(watcher.Empty()) +
                        " modified=" + std::to_string(watcher.Modified()) +
                        " modifiedOrEmpty=" + std::to_string(watcher.ModifiedOrEmpty()));
        }
        anyModified = anyModified || modified;
        all.Append(watcher);
    }
    if (all.Empty() != (model.Limits().watchers == 0) || all.Modified() != anyModified ||
        all.ModifiedOrEmpty() != (anyModified || model.Limits().watchers == 0)) {
        return Fail("watcher list answers differ from its watchers'");
    }
    _cycleReachable = false;
    for (int s = 0; s < model.Limits().slots; ++s) {
        int const id = model.InSlot(s);
        if (id == kNoNode) {
            continue;
        }
        bool completed = false;
        bool const expected = model.HasCycle(id, false, completed);
        if (!completed) {
            continue;
        }
        bool const actual = core::Dependencies::HasCyclicDependency(lib._slots[static_cast<std::size_t>(s)]->Id());
        if (expected != actual) {
            return Fail("cycle query from node " + std::to_string(id) + ": model " + (expected ? "true" : "false") +
                        ", library " + (actual ? "true" : "false"));
        }
        if (expected) {
            _cycleReachable = true;
            ++_stats.cyclesFound;
        }
    }
    return true;
}

bool Harness::Finish() {
    if (!_failure.empty() || _finished) {
        return _failure.empty();
    }
    _model->DisarmAll();
    for (Hook& hook : _library->_hooks) {
        hook.armed = false;
    }
    for (OpCode code : {OpCode::ClearList, OpCode::Release}) {
        for (int s = 0; s < _model->Limits().slots; ++s) {
            if (!_model->Occupied(s)) {
                continue;
            }
            ++_stats.steps;
            Resolved r;
            r.code = code;
            r.slot = s;
            r.text = std::string(code == OpCode::ClearList ? "L" : "D") + std::to_string(s);
            if (!RunResolved(r)) {
                return false;
            }
        }
    }
    _finished = true;
    if (_model->Constructed() != 0) {
        return Fail("nodes left after every slot was released");
    }
    return true;
}

std::string RunBytes(std::uint8_t const* p_bytes, std::size_t p_size, std::size_t p_maxSteps,
                     ModelLimits const& p_limits) {
    Harness harness(p_limits);
    std::size_t const steps = std::min(p_size / kOperationBytes, p_maxSteps);
    bool agreed = true;
    for (std::size_t i = 0; i < steps && agreed; ++i) {
        agreed = harness.Step(DecodeOperation(p_bytes + i * kOperationBytes));
    }
    if (agreed) {
        agreed = harness.Finish();
    }
    if (agreed) {
        return std::string();
    }
    return harness.Failure() + "\nops: " + harness.History();
}

}  // namespace qelmodel
