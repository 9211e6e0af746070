#include "ModificationWatcher.h"

#include "Node.h"

namespace Qel {
namespace Chart {
namespace Core {

ModificationWatcher::ModificationWatcher() : _lastTime(), _stampOffset(0), _subject() {}

ModificationWatcher::ModificationWatcher(Ptr<IModifiable> const& p_subject)
    : _lastTime(), _stampOffset(0), _subject(ModifiablePtr(Private::NonEmpty(p_subject)->Id())) {
    Follow(*p_subject);
    Reset();
}

ModificationWatcher::ModificationWatcher(IModifiable const& p_subject)
    : _lastTime(), _stampOffset(0), _subject(ModifiablePtr(p_subject.Id())) {
    Follow(p_subject);
    Reset();
}

ModificationWatcher::ModificationWatcher(ModificationWatcher const& p_other) = default;
ModificationWatcher& ModificationWatcher::operator=(ModificationWatcher const& p_other) = default;
ModificationWatcher::~ModificationWatcher() = default;

void ModificationWatcher::Watch(Ptr<IModifiable> const& p_subject) {
    // Keeps the subject alive for the call, whatever else holds it.
    Ptr<IModifiable> const held(Private::NonEmpty(p_subject));  // NOLINT(performance-unnecessary-copy-initialization)
    Watch(*held);
}

void ModificationWatcher::Watch(IModifiable const& p_subject) {
    IModifiable::Identifier const id = p_subject.Id();
    if (!Empty() && _subject->Id() == id) {
        return;
    }
    _subject = ModifiablePtr(id);
    Follow(p_subject);
    Reset();
    _lastTime.ForceTouch();
}

void ModificationWatcher::Follow(IModifiable const& p_subject) {
    // Asked once per subject, not per check. A node still being made or
    // ended is not yet, or no longer, a Node here: it is asked instead.
    // A class that overrides Time is asked at every check.
    Node const* const node = dynamic_cast<Node const*>(&p_subject);
    _stampOffset = node != nullptr && node->TakesNodeTime()
                       ? static_cast<std::int32_t>(reinterpret_cast<char const*>(&node->_time) -
                                                   reinterpret_cast<char const*>(&p_subject))
                       : 0;
}

bool ModificationWatcher::Empty() const { return !_subject; }

// Modified() already answers true for an empty watcher.
bool ModificationWatcher::ModifiedOrEmpty() const { return Modified(); }

void ModificationWatcher::Reset() {
    if (!Empty()) {
        _lastTime = _subject->Time();
    } else {
        _lastTime.Reset();
    }
}

void ModificationWatcher::Touch() { _lastTime.ForceTouch(); }

// ---------------------------------------------------------------------------

ModificationWatcherList::ModificationWatcherList() : _watchers() {}
ModificationWatcherList::ModificationWatcherList(ModificationWatcherList const& p_other)
    : _watchers(p_other._watchers) {}

ModificationWatcherList& ModificationWatcherList::operator=(ModificationWatcherList const& p_other) {
    if (this != &p_other) {
        Clear();
        _watchers = p_other._watchers;
    }
    return *this;
}

ModificationWatcherList::~ModificationWatcherList() { Clear(); }

void ModificationWatcherList::Append(ModificationWatcher const& p_watcher) { _watchers.Append(p_watcher); }
void ModificationWatcherList::Reserve(std::size_t p_count) { _watchers.Reserve(p_count); }
void ModificationWatcherList::Clear() { _watchers.Clear(); }
bool ModificationWatcherList::Empty() const { return _watchers.Size() == 0; }
ModificationWatcher const* ModificationWatcherList::Begin() const { return _watchers.Begin(); }
ModificationWatcher const* ModificationWatcherList::End() const { return _watchers.End(); }

bool ModificationWatcherList::Modified() const {
    // Over many subjects every check waits on a line of a subject's node;
    // asking for the line of the subject some watchers ahead overlaps those
    // waits. A node's stamp shares its line with the identity count that the
    // check reads first, and a prefetch of a freed node's line is harmless.
    constexpr std::ptrdiff_t kAhead = 32;
    ModificationWatcher const* const end = _watchers.End();
    ModificationWatcher const* w = _watchers.Begin();
    for (; end - w > kAhead; ++w) {
        __builtin_prefetch(w[kAhead]._subject.Id().Address());
        if (w->Modified()) {
            return true;
        }
    }
    for (; w != end; ++w) {
        if (w->Modified()) {
            return true;
        }
    }
    return false;
}

bool ModificationWatcherList::ModifiedOrEmpty() const { return Empty() || Modified(); }

std::vector<std::size_t> ModificationWatcherList::ModifiedIndices() const {
    // The same prefetch as Modified(), over the whole list.
    constexpr std::size_t kAhead = 32;
    std::vector<std::size_t> result;
    ModificationWatcher const* const watchers = _watchers.Begin();
    std::size_t const size = _watchers.Size();
    for (std::size_t index = 0; index < size; ++index) {
        if (index + kAhead < size) {
            __builtin_prefetch(watchers[index + kAhead]._subject.Id().Address());
        }
        if (watchers[index].Modified()) {
            result.push_back(index);
        }
    }
    return result;
}

void ModificationWatcherList::Reset() {
    for (ModificationWatcher* w = _watchers.Begin(); w != _watchers.End(); ++w) {
        w->Reset();
    }
}

void ModificationWatcherList::Touch() {
    for (ModificationWatcher* w = _watchers.Begin(); w != _watchers.End(); ++w) {
        w->Touch();
    }
}

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
