#include "Dependencies.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Qel {
namespace Chart {
namespace Core {

bool Dependencies::IsBeingWalked() const { return (_list.UserBits() & kWalkedBit) != 0; }

void Dependencies::RefuseWhileWalked(Private::Report p_report) const {
    if (IsBeingWalked()) {
        Private::FailEnsure(p_report);
    }
}

void Dependencies::Clear() noexcept {
    if (IsBeingWalked()) {
        // A walk still reads these entries; it frees the block when it is done.
        IModifiable::Identifier* block = _list.Detach();
        Utility::LightArray<IModifiable::Identifier>::SetUserBitsOf(block, kWalkedBit | kOrphanBit);
        return;
    }
    _list.Clear();
}

void Dependencies::Insert(IModifiable const& p_object) {
    RefuseWhileWalked(Private::Report::InsertWhileWalked);
    IModifiable::Identifier const id = p_object.Id();
    _list.Append(id);
}

void Dependencies::Reserve(std::size_t p_count) {
    RefuseWhileWalked(Private::Report::ReserveWhileWalked);
    _list.Reserve(p_count);
}

void Dependencies::Remove(IModifiable const& p_object) {
    RefuseWhileWalked(Private::Report::RemoveWhileWalked);
    std::size_t found = _list.Size();
    {
        IModifiable::Identifier const id = p_object.Id();
        for (std::size_t i = 0; i < _list.Size(); ++i) {
            if (_list[i] == id) {
                found = i;
                break;
            }
        }
    }
    if (found == _list.Size()) {
        Private::FailEnsure(Private::Report::RemoveMissingEntry);
    }
    if (_list.Size() == 1) {
        _list.Clear();
    } else {
        _list.Erase(found);
    }
}

bool Dependencies::RemoveLive(IModifiable const& p_object) {
    RefuseWhileWalked(Private::Report::RemoveWhileWalked);
    IModifiable::Identifier const id = p_object.Id();
    for (std::size_t i = 0; i < _list.Size(); ++i) {
        if (_list[i] == id && !_list[i].Expired()) {
            _list.Erase(i);
            return true;
        }
    }
    return false;
}

void Dependencies::Squeze() {
    RefuseWhileWalked(Private::Report::SquezeWhileWalked);
    std::size_t const count = _list.Size();
    std::size_t firstExpired = 0;
    while (firstExpired < count && !_list[firstExpired].Expired()) {
        ++firstExpired;
    }
    if (firstExpired == count) {
        return;
    }
    // One block of exactly the survivors, filled in order.
    std::size_t survivors = firstExpired;
    for (std::size_t i = firstExpired + 1; i < count; ++i) {
        survivors += _list[i].Expired() ? 0 : 1;
    }
    Utility::LightArray<IModifiable::Identifier> fresh;
    fresh.Resize(survivors);
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i < firstExpired || (i > firstExpired && !_list[i].Expired())) {
            fresh[next++] = _list[i];
        }
    }
    _list.Swap(fresh);
    fresh.Clear();
}

// ---------------------------------------------------------------------------
// The cycle test

namespace {
bool SearchOncePerObject(IModifiable::Identifier const& p_start, bool& p_ambiguous);

void MarkCycleFound(IModifiable::Identifier& /*p_node*/, bool& p_found) { p_found = true; }

bool VisitDependents(
    IModifiable::Identifier& p_node,
    boost::function<void(IModifiable::Identifier* const&, IModifiable::Identifier* const&)> const& p_children,
    bool& p_found) {
    if (p_found) {
        return false;
    }
    if (p_node.Expired()) {
        return true;
    }
    IDependencyTracker* tracker = dynamic_cast<IDependencyTracker*>(p_node.Get());
    if (tracker == nullptr) {
        return true;
    }
    Dependencies& deps = tracker->Deps();
    p_children(deps.Begin(), deps.End());
    return true;
}

bool SearchEveryPath(IModifiable::Identifier const& p_start) {
    using namespace boost::placeholders;
    bool found = false;
    DepthFirstSearch<IModifiable::Identifier, IModifiable::Identifier*> search(
        boost::bind(&VisitDependents, _1, _2, boost::ref(found)), boost::bind(&MarkCycleFound, _1, boost::ref(found)));
    IModifiable::Identifier start = p_start;
    search(start);
    return found;
}

}  // namespace

// Three colours by address: on the path, finished, or not met yet. A
// finished tracker cannot lead back to the path (a cycle through it would
// have been found while it was on it), so each one is entered once. An
// expired entry, or an object that is no tracker, closes a cycle when its
// address is on the path and is a leaf otherwise.
//
// Identity is by address, and an expired entry may carry the address of a
// live tracker that was made where the dead object was. Then whether it
// closes a cycle depends on the path it is met on, which only the search
// along every path answers; the answer for that rare graph comes from there.
bool Dependencies::HasCyclicDependency(IModifiable::Identifier const& p_start) {
    bool ambiguous = false;
    bool const found = SearchOncePerObject(p_start, ambiguous);
    return ambiguous ? SearchEveryPath(p_start) : found;
}

namespace {
bool SearchOncePerObject(IModifiable::Identifier const& p_start, bool& p_ambiguous) {
    enum Colour : char { OnPath, Finished };
    struct Level {
        IModifiable::Identifier const* next;
        IModifiable::Identifier const* end;
        IModifiable* address;
    };
    std::unordered_map<IModifiable*, Colour> colours;
    std::unordered_set<IModifiable*> expired;  // addresses of the expired entries met
    std::vector<Level> path;
    auto enter = [&](IModifiable::Identifier const& p_object) {
        IModifiable* const address = p_object.Address();
        auto const met = colours.find(address);
        if (met != colours.end() && met->second == OnPath) {
            return true;  // back on the path: a cycle
        }
        if (p_object.Expired()) {
            expired.insert(address);
            p_ambiguous = p_ambiguous || met != colours.end();
            return false;
        }
        IDependencyTracker* const tracker = dynamic_cast<IDependencyTracker*>(p_object.Get());
        // Only live trackers are coloured: an expired entry may share its
        // address with a live object that still has to be entered.
        if (tracker == nullptr || met != colours.end() || tracker->Deps().Empty()) {
            return false;
        }
        colours.emplace(address, OnPath);
        p_ambiguous = p_ambiguous || expired.count(address) != 0;
        Dependencies const& deps = tracker->Deps();
        path.push_back(Level{deps.Begin(), deps.End(), address});
        return false;
    };
    if (enter(p_start)) {
        return true;
    }
    while (!path.empty()) {
        Level& level = path.back();
        if (level.next == level.end) {
            colours[level.address] = Finished;
            path.pop_back();
            continue;
        }
        IModifiable::Identifier const& child = *level.next++;
        if (enter(child)) {
            return true;
        }
    }
    return false;
}
}  // namespace

IDependencyTracker::~IDependencyTracker() {}

CyclicDependencyFoundExcept::CyclicDependencyFoundExcept(std::string const& p_text)
    : Utility::Exception("Cyclic Dependency : " + p_text) {}
CyclicDependencyFoundExcept::CyclicDependencyFoundExcept(CyclicDependencyFoundExcept const& p_other)
    : Utility::Exception(p_other) {}
CyclicDependencyFoundExcept& CyclicDependencyFoundExcept::operator=(CyclicDependencyFoundExcept const& p_other) {
    Utility::Exception::operator=(p_other);
    return *this;
}
CyclicDependencyFoundExcept::~CyclicDependencyFoundExcept() = default;

}  // namespace Core
}  // namespace Chart
}  // namespace Qel
