#include "Model.h"

#include <algorithm>
#include <sstream>

namespace qelmodel {

namespace {

// The library's own report texts for the cases the model predicts.
char const* const kRemoveMissing =
    "\"found != _list.End()\" - void __cdecl Qel::Chart::Core::Dependencies::Remove(const class "
    "Qel::Chart::Core::IModifiable &)";
char const* const kInsertRefused =
    "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
    "Qel::Chart::Core::Dependencies::Insert(const class Qel::Chart::Core::IModifiable &)";
char const* const kRemoveRefused =
    "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
    "Qel::Chart::Core::Dependencies::Remove(const class Qel::Chart::Core::IModifiable &)";
char const* const kSquezeRefused =
    "\"!IsBeingWalked() && \"Dependencies changed while a propagation walks them.\"\" - void __cdecl "
    "Qel::Chart::Core::Dependencies::Squeze(void)";
char const* const kNotATracker =
    "\"void*(tracker)\" - void __cdecl `anonymous-namespace'::CallTouch(class Qel::Chart::Core::Dependencies &,const "
    "enum Qel::Chart::Core::IModifiable::ModifiableType,const enum Qel::Chart::Core::IModifiable::Change,const enum "
    "Qel::Chart::Core::IModifiable::Relationship &,const class Qel::Chart::Core::WeakPtr<class "
    "Qel::Chart::Core::Node> &,const class std::basic_string<char,struct std::char_traits<char>,class "
    "std::allocator<char> > &,const class boost::any &,unsigned int &)";
char const* const kNoSuchName =
    "class Qel::Chart::Core::IProperty &__cdecl Qel::Chart::Core::PropertyMap::Get(const class "
    "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line41";
char const* const kNoSuchIndex =
    "\"0 <= (int)p_index < (int)_properties.Size()\" - class Qel::Chart::Core::IProperty &__cdecl "
    "Qel::Chart::Core::PropertyMap::Get(const unsigned __int64) const";
char const* const kDeallocatedWarning = "WARNING : Event propagation after node is deallocated!";

std::string const kPropertyNames[2] = {"value", "weight"};

char const* KindName(qeldebug::reportkind p_kind) {
    switch (p_kind) {
        case qeldebug::reportkind::ensure:
            return "ensure";
        case qeldebug::reportkind::sentry:
            return "sentry";
        case qeldebug::reportkind::chkptr:
            return "chkptr";
        case qeldebug::reportkind::chkrng:
            return "chkrng";
        case qeldebug::reportkind::derr:
            return "derr";
        case qeldebug::reportkind::dout:
            return "dout";
        case qeldebug::reportkind::handleexcept:
            return "handleexcept";
    }
    return "?";
}

}  // namespace

std::string ToString(Stamp const& p_stamp) {
    return std::to_string(p_stamp.counter) + "[" + (p_stamp.touched ? "1" : "0") + "]";
}

bool TouchRecord::operator==(TouchRecord const& p_other) const {
    return node == p_other.node && type == p_other.type && change == p_other.change &&
           relationship == p_other.relationship && originator == p_other.originator && name == p_other.name &&
           hasPayload == p_other.hasPayload && (!hasPayload || payload == p_other.payload);
}

std::string ToString(TouchRecord const& p_record) {
    static char const* const types[] = {"node", "property"};
    static char const* const changes[] = {"edit", "clear", "add", "remove", "deallocate", "force"};
    static char const* const relationships[] = {"self", "explicit", "implicit"};
    std::ostringstream text;
    text << p_record.node << ":" << (p_record.type >= 0 && p_record.type < 2 ? types[p_record.type] : "?") << "/"
         << (p_record.change >= 0 && p_record.change < 6 ? changes[p_record.change] : "?") << "/"
         << (p_record.relationship >= 0 && p_record.relationship < 3 ? relationships[p_record.relationship] : "?")
         << "/from=";
    if (p_record.originator == kNoNode) {
        text << "-";
    } else {
        text << p_record.originator;
    }
    text << "/'" << p_record.name << "'";
    if (p_record.hasPayload) {
        text << "/" << p_record.payload;
    }
    return text.str();
}

std::string ToString(qeldebug::record const& p_record) {
    return std::string(KindName(p_record.kind)) + "[" + p_record.category + "] " + p_record.text;
}

char const* ToString(Outcome p_outcome) {
    switch (p_outcome) {
        case Outcome::Normal:
            return "normal";
        case Outcome::CheckFailed:
            return "check_failed";
        case Outcome::BadAnyCast:
            return "bad_any_cast";
        case Outcome::OtherException:
            return "other exception";
    }
    return "?";
}

char const* ToString(HookAction p_action) {
    switch (p_action) {
        case HookAction::Insert:
            return "insert";
        case HookAction::InsertProperty:
            return "insert-property";
        case HookAction::Remove:
            return "remove";
        case HookAction::Squeeze:
            return "squeeze";
        case HookAction::Clear:
            return "clear";
        case HookAction::Touch:
            return "touch";
        case HookAction::SetProperty:
            return "set-property";
        case HookAction::Release:
            return "release";
    }
    return "?";
}

Model::Model(ModelLimits const& p_limits, int p_baselineCount)
    : _limits(p_limits),
      _baselineCount(p_baselineCount),
      _slots(static_cast<std::size_t>(p_limits.slots), kNoNode),
      _watchers(static_cast<std::size_t>(p_limits.watchers)) {}

std::string const& Model::PropertyName(int p_kind) const { return kPropertyNames[p_kind]; }

int Model::Constructed() const {
    return static_cast<int>(
        std::count_if(_nodes.begin(), _nodes.end(), [](ModelNode const& p_node) { return p_node.constructed; }));
}

int Model::MemoryInUse() const {
    int bytes = 0;
    for (ModelNode const& node : _nodes) {
        if (node.constructed) {
            bytes += _classSize[node.kind];
        }
    }
    return bytes;
}

bool Model::AnyHookArmed() const {
    return std::any_of(_nodes.begin(), _nodes.end(),
                       [](ModelNode const& p_node) { return p_node.alive && p_node.hook.armed; });
}

void Model::BeginStep(bool p_throwing) {
    _expectation = Expectation();
    _throwing = p_throwing;
}

Expectation Model::TakeExpectation() {
    Expectation result = std::move(_expectation);
    _expectation = Expectation();
    return result;
}

void Model::Report(qeldebug::reportkind p_kind, std::string const& p_category, std::string const& p_text) {
    _expectation.reports.push_back(qeldebug::record{p_kind, p_category, p_text});
}

std::uintptr_t Model::AddressOf(Entry const& p_entry) const {
    ModelNode const& node = Node(p_entry.node);
    return p_entry.property ? node.identity.propertyAddress : node.identity.address;
}

// A walk passes its root's own weak reference along; it reads as the root
// only while something still owns the root.
int Model::ShownOriginator(int p_originator) const {
    if (p_originator == kNoNode) {
        return kNoNode;
    }
    ModelNode const& node = Node(p_originator);
    return node.held || node.pins > 0 ? p_originator : kNoNode;
}

// ---------------------------------------------------------------------------
// Nodes and lists

int Model::AddNode(int p_slot, int p_kind, NodeIdentity const& p_identity, std::string const& p_name,
                   std::string& p_error) {
    int const other = 1 - p_kind;
    if (_typeIds[p_kind] == -1) {
        if (_typeIds[other] == static_cast<int>(p_identity.typeId)) {
            p_error = "both test classes have type id " + std::to_string(p_identity.typeId);
        }
        _typeIds[p_kind] = static_cast<int>(p_identity.typeId);
    } else if (_typeIds[p_kind] != static_cast<int>(p_identity.typeId)) {
        p_error = "type id " + std::to_string(p_identity.typeId) + " for a class first seen as " +
                  std::to_string(_typeIds[p_kind]);
    }
    ModelNode node;
    node.kind = p_kind;
    node.identity = p_identity;
    node.name = p_name;
    _nodes.push_back(node);
    int const id = static_cast<int>(_nodes.size()) - 1;
    _slots[static_cast<std::size_t>(p_slot)] = id;
    return id;
}

void Model::SqueezeList(int p_id) {
    std::vector<Entry>& deps = At(p_id).deps;
    deps.erase(std::remove_if(deps.begin(), deps.end(), [this](Entry const& p_entry) { return Expired(p_entry); }),
               deps.end());
}

// A list that a walk is reading is detached from its owner: the walk still
// reads it to its end (and then drops it, unsqueezed), while the owner
// starts afresh with an empty list that no walk marks.
void Model::ClearListOf(int p_id) {
    ModelNode& node = At(p_id);
    if (node.walkFrame != -1) {
        _frames[static_cast<std::size_t>(node.walkFrame)].orphaned = true;
        node.walkFrame = -1;
    }
    node.deps.clear();
}

bool Model::InsertInto(int p_owner, Entry p_entry) {
    if (Node(p_owner).walkFrame != -1) {
        Report(qeldebug::reportkind::ensure, "", kInsertRefused);
        return false;
    }
    At(p_owner).deps.push_back(p_entry);
    return true;
}

// Entries match by address only, so an expired entry of a node that lived
// at the same address matches too.
bool Model::RemoveFrom(int p_owner, Entry p_entry) {
    if (Node(p_owner).walkFrame != -1) {
        Report(qeldebug::reportkind::ensure, "", kRemoveRefused);
        return false;
    }
    std::vector<Entry>& deps = At(p_owner).deps;
    std::uintptr_t const address = AddressOf(p_entry);
    auto const found = std::find_if(deps.begin(), deps.end(), [this, address](Entry const& p_candidate) {
        return AddressOf(p_candidate) == address;
    });
    if (found == deps.end()) {
        Report(qeldebug::reportkind::ensure, "", kRemoveMissing);
        return false;
    }
    deps.erase(found);
    return true;
}

bool Model::SqueezeRequested(int p_owner) {
    if (Node(p_owner).walkFrame != -1) {
        Report(qeldebug::reportkind::ensure, "", kSquezeRefused);
        return false;
    }
    SqueezeList(p_owner);
    return true;
}

void Model::Insert(int p_ownerSlot, int p_objectSlot, bool p_property) {
    if (!InsertInto(InSlot(p_ownerSlot), Entry{InSlot(p_objectSlot), p_property})) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::Remove(int p_ownerSlot, int p_objectSlot, bool p_property) {
    if (!RemoveFrom(InSlot(p_ownerSlot), Entry{InSlot(p_objectSlot), p_property})) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::Squeeze(int p_slot) {
    if (!SqueezeRequested(InSlot(p_slot))) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::ClearList(int p_slot) { ClearListOf(InSlot(p_slot)); }

void Model::Rename(int p_slot, std::string const& p_name) { At(InSlot(p_slot)).name = p_name; }

void Model::Arm(int p_slot, Hook const& p_hook) {
    Hook hook = p_hook;
    hook.armed = true;
    At(InSlot(p_slot)).hook = hook;
}

void Model::DisarmAll() {
    for (ModelNode& node : _nodes) {
        node.hook.armed = false;
    }
}

std::string Model::ListText(int p_id) const {
    std::string text;
    for (Entry const& entry : Node(p_id).deps) {
        if (!text.empty()) {
            text += ",";
        }
        if (Expired(entry)) {
            text += "x";
        } else {
            text += std::to_string(entry.node) + (entry.property ? "p" : "");
        }
    }
    return text;
}

void Model::CorruptStampForSelfTest(int p_slot) { At(InSlot(p_slot)).stamp.Touch(); }

// ---------------------------------------------------------------------------
// Propagation

void Model::TouchSelf(int p_id, int p_type, int p_change, std::string const& p_name, Payload p_payload) {
    if (Node(p_id).deallocated) {
        Report(qeldebug::reportkind::derr, "", kDeallocatedWarning);
    } else {
        TouchThis(p_id, p_type, p_change, kSelf, kNoNode, p_name, p_payload);
    }
    if (p_change == kDeallocate) {
        At(p_id).deallocated = true;
    }
}

// The test node's TouchThis: log, stamp, walk when it is the origin, then
// run its hook.
void Model::TouchThis(int p_id, int p_type, int p_change, int p_relationship, int p_originator,
                      std::string const& p_name, Payload p_payload) {
    TouchRecord record;
    record.node = p_id;
    record.type = p_type;
    record.change = p_change;
    record.relationship = p_relationship;
    record.originator = ShownOriginator(p_originator);
    record.name = p_name;
    record.hasPayload = p_payload.has;
    record.payload = p_payload.value;
    _expectation.touches.push_back(record);
    At(p_id).stamp.Touch();
    if (p_relationship == kSelf) {
        _roots.push_back(Root{p_id, p_type});
        try {
            Walk(p_id, kSelf, p_type, p_change, p_id, p_name, p_payload);
        } catch (...) {
            _roots.pop_back();
            throw;
        }
        _roots.pop_back();
    }
    FireHook(p_id);
}

// Depth first, in list order, over the list as it was when the walk reached
// it, even if it is cleared meanwhile. A list that is already on the current
// path (of this walk or of one that encloses it) is not walked again: its
// owner was touched, and that is all. Expired entries are skipped, and the
// list is squeezed after its walk.
void Model::Walk(int p_owner, int p_given, int p_type, int p_change, int p_originator, std::string const& p_name,
                 Payload p_payload) {
    if (Node(p_owner).deps.empty() || Node(p_owner).walkFrame != -1) {
        return;
    }
    int const derived = p_given == kSelf ? kExplicit : kImplicit;
    _frames.push_back(Frame{p_owner, Node(p_owner).deps, derived, false, false});
    std::size_t const index = _frames.size() - 1;
    At(p_owner).walkFrame = static_cast<int>(index);
    try {
        for (std::size_t i = 0; i < _frames[index].entries.size(); ++i) {
            Entry const entry = _frames[index].entries[i];
            if (Expired(entry)) {
                _frames[index].expiredSeen = true;
                continue;
            }
            if (entry.property) {
                // A property stamps itself and has no dependents to follow.
                At(entry.node).propertyStamp.Touch();
                Report(qeldebug::reportkind::chkptr, "", kNotATracker);
                if (_throwing) {
                    throw WalkAborted();
                }
                continue;
            }
            TouchThis(entry.node, p_type, p_change, derived, p_originator, p_name, p_payload);
            if (Expired(entry)) {
                _frames[index].expiredSeen = true;
                continue;
            }
            Walk(entry.node, derived, p_type, p_change, p_originator, p_name, p_payload);
        }
    } catch (...) {
        // Leaving by an exception squeezes nothing.
        Frame const done = _frames.back();
        _frames.pop_back();
        if (!done.orphaned) {
            At(p_owner).walkFrame = -1;
        }
        throw;
    }
    Frame const done = _frames.back();
    _frames.pop_back();
    if (!done.orphaned) {
        At(p_owner).walkFrame = -1;
        if (done.expiredSeen) {
            SqueezeList(p_owner);
        }
    }
}

void Model::PropertyChanged(int p_id, int p_change, Payload p_payload) {
    At(p_id).propertyStamp.Touch();
    TouchThis(p_id, kTypeProperty, p_change, kSelf, kNoNode, PropertyName(Node(p_id).kind), p_payload);
}

void Model::Touch(int p_slot) {
    int const id = InSlot(p_slot);
    try {
        TouchSelf(id, kTypeNode, kForce, Node(id).name, Payload{false, 0});
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::AccessTouch(int p_slot) {
    int const id = InSlot(p_slot);
    ++At(id).pins;
    try {
        TouchSelf(id, kTypeNode, kForce, Node(id).name, Payload{false, 0});
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
    Unpin(id);
}

void Model::SetProperty(int p_slot, int p_value) {
    int const id = InSlot(p_slot);
    At(id).propertyDefined = true;
    At(id).propertyValue = p_value;
    try {
        PropertyChanged(id, kEdit, Payload{true, p_value});
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::ResetProperty(int p_slot) {
    int const id = InSlot(p_slot);
    At(id).propertyDefined = false;
    try {
        PropertyChanged(id, kClear, Payload{false, 0});
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
}

void Model::AccessProperty(int p_slot, std::string const& p_name, AccessAction p_action, int p_value) {
    int const id = InSlot(p_slot);
    if (p_name != PropertyName(Node(id).kind)) {
        Report(qeldebug::reportkind::sentry, "", kNoSuchName);
        _expectation.outcome = Outcome::CheckFailed;
        return;
    }
    AccessPropertyByIndex(p_slot, 0, p_action, p_value);
}

void Model::AccessPropertyByIndex(int p_slot, int p_index, AccessAction p_action, int p_value) {
    int const id = InSlot(p_slot);
    if (p_index != 0) {
        Report(qeldebug::reportkind::chkrng, "", kNoSuchIndex);
        _expectation.outcome = Outcome::CheckFailed;
        return;
    }
    ++At(id).pins;
    try {
        switch (p_action) {
            case AccessAction::Set:
                At(id).propertyDefined = true;
                At(id).propertyValue = p_value;
                PropertyChanged(id, kEdit, Payload{true, p_value});
                break;
            case AccessAction::Reset:
                At(id).propertyDefined = false;
                PropertyChanged(id, kClear, Payload{false, 0});
                break;
            case AccessAction::Touch:
                PropertyChanged(id, kForce, Payload{false, 0});
                break;
            case AccessAction::SetWrongType:
                _expectation.outcome = Outcome::BadAnyCast;
                break;
        }
    } catch (WalkAborted const&) {
        _expectation.outcome = Outcome::CheckFailed;
    }
    Unpin(id);
}

// ---------------------------------------------------------------------------
// Deletion

void Model::Release(int p_slot) { ReleaseNode(InSlot(p_slot)); }

void Model::ReleaseNode(int p_id) {
    for (int& slot : _slots) {
        if (slot == p_id) {
            slot = kNoNode;
        }
    }
    At(p_id).held = false;
    if (Node(p_id).pins == 0) {
        Deleter(p_id);
    }
}

void Model::Unpin(int p_id) {
    --At(p_id).pins;
    if (!Node(p_id).held && Node(p_id).pins == 0) {
        Deleter(p_id);
    }
}

// A deletion that starts while another runs waits until that one is done.
void Model::Deleter(int p_id) {
    if (_deleting) {
        _pending.push_back(p_id);
        return;
    }
    _deleting = true;
    DeleteOne(p_id);
    for (std::size_t i = 0; i < _pending.size(); ++i) {
        DeleteOne(_pending[i]);
    }
    _pending.clear();
    _deleting = false;
}

void Model::DeleteOne(int p_id) {
    ModelNode const& node = Node(p_id);
    Report(qeldebug::reportkind::dout, "Trace",
           "delete node id(" + std::to_string(node.identity.uniqueId) + ") type(" +
               std::to_string(node.identity.typeId) + ") : count = " + std::to_string(_baselineCount + Constructed()));
    TouchSelf(p_id, kTypeNode, kDeallocate, node.name, Payload{false, 0});
    ClearListOf(p_id);
    At(p_id).alive = false;
    At(p_id).constructed = false;
}

// ---------------------------------------------------------------------------
// Hooks

// A node may lose its last owner in the middle of its own walk. When the
// walk started from a property of that node, the change's name is the
// property's own and goes with the node, while the walk still hands it to
// every later dependent: that case is left out unless asked for.
bool Model::MayRelease(int p_id) const {
    if (_limits.releasePropertyRoot || Node(p_id).pins > 0) {
        return true;
    }
    return std::none_of(_roots.begin(), _roots.end(),
                        [p_id](Root const& p_root) { return p_root.node == p_id && p_root.type == kTypeProperty; });
}

bool Model::CheapToTouch(int p_id) const { return EstimateWalk(p_id, _limits.walkBudget) <= _limits.walkBudget; }

int Model::SlotOf(int p_id) const {
    for (std::size_t slot = 0; slot < _slots.size(); ++slot) {
        if (_slots[slot] == p_id) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

void Model::FireHook(int p_id) {
    if (!Node(p_id).hook.armed) {
        return;
    }
    Hook const hook = Node(p_id).hook;
    At(p_id).hook.armed = false;
    HookDecision decision;
    decision.targetSlot = hook.targetSlot;
    if (hook.targetSlot == kWalkingList) {
        decision.targetSlot = _frames.empty() ? -1 : SlotOf(_frames.back().owner);
    }
    decision.argumentSlot = hook.argumentSlot;
    int const target = decision.targetSlot < 0 ? kNoNode : InSlot(decision.targetSlot);
    int const argument = InSlot(hook.argumentSlot);
    bool perform = target != kNoNode;
    if (perform) {
        switch (hook.action) {
            case HookAction::Insert:
            case HookAction::InsertProperty:
                perform = argument != kNoNode && Node(target).deps.size() < _limits.maxListSize;
                break;
            case HookAction::Remove:
                perform = argument != kNoNode;
                break;
            case HookAction::Squeeze:
            case HookAction::Clear:
                break;
            case HookAction::Touch:
            case HookAction::SetProperty:
                perform = CheapToTouch(target);
                break;
            case HookAction::Release:
                perform = MayRelease(target) && CheapToTouch(target);
                break;
        }
    }
    decision.perform = perform;
    _expectation.hookDecisions.push_back(decision);
    if (perform) {
        Outcome const outcome = RunHook(hook, target, argument);
        _expectation.hookOutcomes.push_back(outcome);
    }
}

Outcome Model::RunHook(Hook const& p_hook, int p_target, int p_argument) {
    int const target = p_target;
    int const argument = p_argument;
    switch (p_hook.action) {
        case HookAction::Insert:
            return InsertInto(target, Entry{argument, false}) ? Outcome::Normal : Outcome::CheckFailed;
        case HookAction::InsertProperty:
            return InsertInto(target, Entry{argument, true}) ? Outcome::Normal : Outcome::CheckFailed;
        case HookAction::Remove:
            return RemoveFrom(target, Entry{argument, (p_hook.value & 1) != 0}) ? Outcome::Normal
                                                                                : Outcome::CheckFailed;
        case HookAction::Squeeze:
            return SqueezeRequested(target) ? Outcome::Normal : Outcome::CheckFailed;
        case HookAction::Clear:
            ClearListOf(target);
            return Outcome::Normal;
        case HookAction::Touch:
            TouchSelf(target, kTypeNode, kForce, Node(target).name, Payload{false, 0});
            return Outcome::Normal;
        case HookAction::SetProperty:
            At(target).propertyDefined = true;
            At(target).propertyValue = p_hook.value;
            PropertyChanged(target, kEdit, Payload{true, p_hook.value});
            return Outcome::Normal;
        case HookAction::Release:
            ReleaseNode(target);
            return Outcome::Normal;
    }
    return Outcome::Normal;
}

// ---------------------------------------------------------------------------
// Watchers

Stamp Model::SubjectStamp(ModelWatcher const& p_watcher) const {
    ModelNode const& node = Node(p_watcher.subject);
    return p_watcher.property ? node.propertyStamp : node.stamp;
}

bool Model::WatcherEmpty(int p_watcher) const {
    ModelWatcher const& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    return watcher.subject == kNoNode || !Node(watcher.subject).alive;
}

bool Model::WatcherModified(int p_watcher) const {
    if (WatcherEmpty(p_watcher)) {
        return true;
    }
    ModelWatcher const& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    return SubjectStamp(watcher) != watcher.last;
}

// Watching another subject starts modified: the remembered stamp becomes
// (0, touched). The same subject again changes nothing.
void Model::Watch(int p_watcher, int p_slot, bool p_property) {
    ModelWatcher& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    int const subject = InSlot(p_slot);
    bool const same = !WatcherEmpty(p_watcher) && watcher.subject == subject && watcher.property == p_property;
    if (same) {
        return;
    }
    watcher.subject = subject;
    watcher.property = p_property;
    watcher.last = SubjectStamp(watcher);
    watcher.last.ForceTouch();
}

void Model::WatchFresh(int p_watcher, int p_slot, bool p_property) {
    ModelWatcher& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    watcher.subject = InSlot(p_slot);
    watcher.property = p_property;
    watcher.last = SubjectStamp(watcher);
}

void Model::ResetWatcher(int p_watcher) {
    ModelWatcher& watcher = _watchers[static_cast<std::size_t>(p_watcher)];
    if (WatcherEmpty(p_watcher)) {
        watcher.last.Reset();
    } else {
        watcher.last = SubjectStamp(watcher);
    }
}

void Model::TouchWatcher(int p_watcher) { _watchers[static_cast<std::size_t>(p_watcher)].last.ForceTouch(); }

void Model::CopyWatcher(int p_to, int p_from) {
    _watchers[static_cast<std::size_t>(p_to)] = _watchers[static_cast<std::size_t>(p_from)];
}

void Model::ClearWatcher(int p_watcher) { _watchers[static_cast<std::size_t>(p_watcher)] = ModelWatcher(); }

// ---------------------------------------------------------------------------
// Cycle query and cost estimates

// The search keeps the addresses on its current path; meeting one of them
// again is a cycle. Expired entries and properties are entered (by address)
// but have no dependents; once a cycle is found every further visit stops
// its siblings.
bool Model::Visit(Entry const& p_node, std::vector<std::uintptr_t>& p_colors, bool& p_found,
                  std::size_t& p_visits) const {
    if (++p_visits > _limits.searchBudget) {
        return false;
    }
    std::uintptr_t const address = AddressOf(p_node);
    if (std::find(p_colors.begin(), p_colors.end(), address) != p_colors.end()) {
        p_found = true;
        return true;
    }
    p_colors.push_back(address);
    bool result = true;
    if (p_found) {
        result = false;
    } else if (!Expired(p_node) && !p_node.property) {
        std::vector<Entry> const children = Node(p_node.node).deps;
        for (Entry const& child : children) {
            if (!Visit(child, p_colors, p_found, p_visits)) {
                break;
            }
        }
    }
    p_colors.pop_back();
    return result;
}

bool Model::HasCycle(int p_start, bool p_property, bool& p_completed) const {
    std::vector<std::uintptr_t> colors;
    bool found = false;
    std::size_t visits = 0;
    Visit(Entry{p_start, p_property}, colors, found, visits);
    p_completed = visits <= _limits.searchBudget;
    return found;
}

std::size_t Model::CountWalk(int p_owner, std::vector<char>& p_onPath, std::size_t p_count,
                             std::size_t p_budget) const {
    std::size_t const owner = static_cast<std::size_t>(p_owner);
    if (Node(p_owner).deps.empty() || p_onPath[owner] != 0) {
        return p_count;
    }
    p_onPath[owner] = 1;
    for (Entry const& entry : Node(p_owner).deps) {
        if (Expired(entry)) {
            continue;
        }
        if (++p_count > p_budget) {
            break;
        }
        if (!entry.property) {
            p_count = CountWalk(entry.node, p_onPath, p_count, p_budget);
            if (p_count > p_budget) {
                break;
            }
        }
    }
    p_onPath[owner] = 0;
    return p_count;
}

std::size_t Model::EstimateWalk(int p_id, std::size_t p_budget) const {
    std::vector<char> onPath(_nodes.size(), 0);
    for (std::size_t i = 0; i < _nodes.size(); ++i) {
        onPath[i] = _nodes[i].walkFrame != -1 ? 1 : 0;
    }
    return CountWalk(p_id, onPath, 1, p_budget);
}

}  // namespace qelmodel
