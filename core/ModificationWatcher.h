// Watchers: remember a subject's stamp and tell later whether it moved.
#ifndef QEL_CORE_MODIFICATIONWATCHER_H
#define QEL_CORE_MODIFICATIONWATCHER_H

#include "IModifiable.h"
#include "ModifiablePtr.h"
#include "Ptr.h"
#include "QelCoreExport.h"
#include "TimeStamp.h"

#include "LightArray.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

/// Remembers one subject, weakly, with its stamp as it was when the watcher
/// last looked. A destroyed subject counts as modified. Because every node
/// that a change reaches stamps itself, a watcher on a node also notices
/// changes of everything the node depends on.
class QELCORE_API ModificationWatcher {
public:
    /// Empty: nothing watched.
    ModificationWatcher();
    /// Watches `p_subject`, starting clean.
    ModificationWatcher(Ptr<IModifiable> const& p_subject);
    ModificationWatcher(IModifiable const& p_subject);
    ModificationWatcher(ModificationWatcher const& p_other);
    ModificationWatcher& operator=(ModificationWatcher const& p_other);
    ~ModificationWatcher();

    /// Switches to `p_subject`; a different subject starts modified, the same one changes nothing.
    void Watch(Ptr<IModifiable> const& p_subject);
    void Watch(IModifiable const& p_subject);

    /// True when nothing is watched or the subject's node is gone.
    bool Empty() const;
    /// True when empty, or when the subject's stamp differs from the remembered one.
    /// Inline: it is the check that clients run over many watchers.
    bool Modified() const {
        // One expiry test, which also covers an empty watcher.
        if (_subject.Id().Expired()) {
            return true;
        }
        // The stamp of a node whose class keeps Node's Time is read in
        // place; other subjects are asked.
        IModifiable const* const subject = _subject.Id().Address();  // live: tested above
        if (_stampOffset != 0) {
            return *reinterpret_cast<TimeStamp const*>(reinterpret_cast<char const*>(subject) + _stampOffset) !=
                   _lastTime;
        }
        return subject->Time() != _lastTime;
    }
    /// Same answer as `Modified()` in every state.
    bool ModifiedOrEmpty() const;
    /// Remembers the subject's current stamp (or resets it when empty).
    void Reset();
    /// Forces the next `Modified()` to answer true (unless the subject's stamp is (0, touched)).
    void Touch();

private:
    friend class ModificationWatcherList;

    void Follow(IModifiable const& p_subject);

    TimeStamp _lastTime;
    // Where the subject's stamp is, from the subject's address, when the
    // subject is a node that keeps Node's Time; 0 (never a stamp's place:
    // the vtable pointer is there) when it is to be asked. It fills the
    // padding after the 4-byte stamp, so a watcher is as large as its two
    // other members: two watchers share a cache line.
    std::int32_t _stampOffset;
    ModifiablePtr _subject;
};

}  // namespace Core

namespace Utility {
// A stamp, an identifier and a pointer into the subject, none pointing
// into the watcher.
template <>
struct IsTriviallyRelocatable<Core::ModificationWatcher> : std::true_type {};
}  // namespace Utility

namespace Core {

/// Several watchers, asked at once.
class QELCORE_API ModificationWatcherList {
public:
    ModificationWatcherList();
    ModificationWatcherList(ModificationWatcherList const& p_other);
    /// Self-assignment leaves the list as it was.
    ModificationWatcherList& operator=(ModificationWatcherList const& p_other);
    ~ModificationWatcherList();

    /// Adds a copy of `p_watcher` at the end (the storage grows by exactly one;
    /// a subject may be watched more than once).
    void Append(ModificationWatcher const& p_watcher);
    /// Room for `p_count` watchers, so that appends up to that count do not
    /// reallocate; exact-size again after `Clear`.
    void Reserve(std::size_t p_count);
    void Clear();
    bool Empty() const;
    ModificationWatcher const* Begin() const;
    ModificationWatcher const* End() const;
    /// Range-for over the watchers: `Begin()` and `End()`.
    ModificationWatcher const* begin() const { return Begin(); }  // NOLINT(readability-identifier-naming)
    ModificationWatcher const* end() const { return End(); }      // NOLINT(readability-identifier-naming)
    /// Range-for that may change the watchers, e.g. reset the ones that fired:
    /// `for (ModificationWatcher& w : list) if (w.Modified()) w.Reset();`
    ModificationWatcher* begin() { return _watchers.Begin(); }  // NOLINT(readability-identifier-naming)
    ModificationWatcher* end() { return _watchers.End(); }      // NOLINT(readability-identifier-naming)
    /// True as soon as one watcher, in order, reports `Modified()`; false for an empty list.
    bool Modified() const;
    /// True for an empty list; otherwise `Modified()`.
    bool ModifiedOrEmpty() const;
    /// The positions of the watchers that report `Modified()`, in order, found
    /// in one pass over the list.
    std::vector<std::size_t> ModifiedIndices() const;
    void Reset();
    void Touch();

private:
    Utility::LightArray<ModificationWatcher> _watchers;
};

}  // namespace Core

}  // namespace Chart
}  // namespace Qel

#endif
