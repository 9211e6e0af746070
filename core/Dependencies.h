// Lists of dependents held by weak identity, and the cycle test over them.
#ifndef QEL_CORE_DEPENDENCIES_H
#define QEL_CORE_DEPENDENCIES_H

#include "DebugStream.h"
#include "IModifiable.h"
#include "QelCoreExport.h"

#include "LightArray.h"

#include <boost/bind/bind.hpp>
#include <boost/function.hpp>
#include <boost/ref.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

class Node;
namespace Private {
class DependencyWalk;
}

/// The ordered list of an object's dependents: the objects to tell when it
/// changes. Entries are weak identities, so the list keeps nothing alive; a
/// destroyed dependent leaves an expired entry until `Squeze` drops it.
/// Insertion order, duplicates allowed, storage exactly as large as the
/// entries (every `Insert` reallocates) unless room was reserved.
///
/// A list must not change while a propagation walks it: `Insert`, `Remove`
/// and `Squeze` on a list that is being walked are refused with an `ensure`
/// report and `qeldebug::check_failed`, and the list stays as it was.
/// `Clear` (and so the destruction of the list's owner) is allowed: the walk
/// keeps the old entries until it is done with them and then frees them.
class QELCORE_API Dependencies {
public:
    // Inline: every node makes and ends one, most of them empty.
    Dependencies() noexcept : _list() {}
    ~Dependencies() {
        if (_list.Begin() != nullptr) {  // entries, or reserved room
            Clear();
        }
    }
    Dependencies(Dependencies const&) = delete;
    Dependencies& operator=(Dependencies const&) = delete;

    /// Releases every entry, first to last, and frees the storage.
    void Clear() noexcept;
    /// Appends `p_object.Id()`. Checks nothing: not duplicates, not cycles,
    /// not expiry (ask `HasCyclicDependency` before linking when it matters).
    void Insert(IModifiable const& p_object);
    /// Removes the first entry naming `p_object`; a missing entry is reported
    /// through `ensure` and nothing is removed.
    void Remove(IModifiable const& p_object);
    /// Drops every expired entry, keeping the order of the others. A list
    /// without expired entries keeps its storage untouched.
    void Squeze();
    /// Room for `p_count` entries, so that inserts up to that count do not
    /// reallocate (each one copies the list otherwise). The storage is
    /// exact-size again after the next `Squeze` that drops an entry, or
    /// `Clear`. Refused like `Insert` while the list is walked.
    void Reserve(std::size_t p_count);

    /// The first entry; null without entries (reserved room is not shown).
    /// Valid until the next change.
    IModifiable::Identifier* Begin() { return Empty() ? nullptr : _list.Begin(); }
    IModifiable::Identifier const* Begin() const { return Empty() ? nullptr : _list.Begin(); }
    IModifiable::Identifier* End() { return Empty() ? nullptr : _list.End(); }
    IModifiable::Identifier const* End() const { return Empty() ? nullptr : _list.End(); }

    std::size_t Size() const { return _list.Size(); }
    bool Empty() const { return _list.Size() == 0; }
    /// True while a propagation on this thread or another walks the list.
    bool IsBeingWalked() const;

    /// Range-for over the entries: `Begin()` and `End()`.
    IModifiable::Identifier* begin() { return Begin(); }              // NOLINT(readability-identifier-naming)
    IModifiable::Identifier* end() { return End(); }                  // NOLINT(readability-identifier-naming)
    IModifiable::Identifier const* begin() const { return Begin(); }  // NOLINT(readability-identifier-naming)
    IModifiable::Identifier const* end() const { return End(); }      // NOLINT(readability-identifier-naming)

    /// True when a cycle is reachable from `p_start` along the dependents of
    /// live trackers. Enters every object once (time linear in objects plus
    /// entries) and keeps its path on the heap, so any depth is fine.
    static bool HasCyclicDependency(IModifiable::Identifier const& p_start);

private:
    friend class Private::DependencyWalk;
    friend class Node;
    void RefuseWhileWalked(Private::Report p_report) const;
    // Removes the first entry that names the live `p_object` (an expired
    // entry at a reused address is passed over); false when there is none.
    // Refused while walked, with the text of `Remove`.
    bool RemoveLive(IModifiable const& p_object);

    // Header bits of the list's storage, set by the propagation walk.
    static constexpr std::uint32_t kWalkedBit = 0x80000000u;  // on a walk's current path
    static constexpr std::uint32_t kOrphanBit = 0x40000000u;  // cleared while walked: the walk frees it

    Utility::LightArray<IModifiable::Identifier> _list;
};

/// An object whose dependents propagation and the cycle search follow.
class QELCORE_API IDependencyTracker {
public:
    virtual ~IDependencyTracker();
    virtual Dependencies& Deps() = 0;
    virtual Dependencies const& Deps() const = 0;
};

/// What client code throws to refuse a link that would close a cycle. The
/// message is "Cyclic Dependency : " followed by the given text.
struct QELCORE_API CyclicDependencyFoundExcept : public Utility::Exception {
    CyclicDependencyFoundExcept(std::string const& p_text);
    CyclicDependencyFoundExcept(CyclicDependencyFoundExcept const& p_other);
    CyclicDependencyFoundExcept& operator=(CyclicDependencyFoundExcept const& p_other);
    ~CyclicDependencyFoundExcept() override;
};

/// A generic depth-first search. `_perNodeOp` is called for each node the
/// search enters, with a function that visits ranges of children at once,
/// during the call; its result steers the siblings (false stops them).
/// `_cycleDetectOp` is called with a node reached while it is on the current
/// path. The search keeps only the current path, so a node reached along two
/// paths is entered twice.
///
/// The search recurses, through `Visit`, `VisitRange` and the bound children
/// function at each level of the path, so the depth it reaches is bounded by
/// the thread's stack: docs/errors.md gives the figures.
/// `Dependencies::HasCyclicDependency` answers without it.
template <class N, class It>
class DepthFirstSearch {
public:
    using ChildrenOp = boost::function<void(It const&, It const&)>;
    using PerNodeOp = boost::function<bool(N&, ChildrenOp const&)>;
    using CycleOp = boost::function<void(N&)>;

    DepthFirstSearch(PerNodeOp const p_perNodeOp, CycleOp const p_cycleDetectOp)
        : _perNodeOp(p_perNodeOp), _cycleDetectOp(p_cycleDetectOp) {
        if (!_perNodeOp) {
            Private::FailEnsure(Private::Report::SearchWithoutPerNodeOp);
        }
        if (!_cycleDetectOp) {
            Private::FailEnsure(Private::Report::SearchWithoutCycleOp);
        }
    }

    /// Runs one search from `p_start`.
    void operator()(N& p_start) const {
        std::set<N> colors;
        Visit(p_start, colors);
        if (!colors.empty()) {
            Private::ReportEnsure(Private::Report::SearchLeftNodesMarked);
        }
    }

private:
    bool Visit(N& p_node, std::set<N>& p_colors) const {
        if (!p_colors.insert(p_node).second) {
            _cycleDetectOp(p_node);
            return true;
        }
        bool result = false;
        try {
            ChildrenOp const children = boost::bind(&DepthFirstSearch::VisitRange, this, boost::placeholders::_1,
                                                    boost::placeholders::_2, boost::ref(p_colors));
            result = _perNodeOp(p_node, children);
        } catch (...) {
            p_colors.erase(p_node);
            throw;
        }
        p_colors.erase(p_node);
        return result;
    }

    void VisitRange(It const& p_first, It const& p_last, std::set<N>& p_colors) const {
        for (It position = p_first; position != p_last; ++position) {
            N node = *position;  // holds its own weak count while it is visited
            if (!Visit(node, p_colors)) {
                return;
            }
        }
    }

    PerNodeOp _perNodeOp;
    CycleOp _cycleDetectOp;
};

}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
