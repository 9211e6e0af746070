// Hand-written baselines for the benchmarks: the least work that the same
// behaviour needs, written plainly. Built into each benchmark binary, where
// link-time optimisation may inline it into the loops that time it.
#ifndef QEL_BENCH_BASELINE_H
#define QEL_BENCH_BASELINE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace QelBench {
namespace Baseline {

/// How a touched node stands to the change, as in the library.
enum Relationship { Self = 0, Explicit = 1, Implicit = 2 };

/// A node reduced to what propagation needs: a stamp, raw pointers to its
/// dependents and a virtual touch.
class BaseNode {
public:
    BaseNode() noexcept;
    virtual ~BaseNode();
    BaseNode(BaseNode const&) = delete;
    BaseNode& operator=(BaseNode const&) = delete;

    /// Advances the stamp. `p_payload` is what changed (may be null).
    virtual void Touch(Relationship p_relationship, void const* p_payload);
    /// The stamp, through a virtual call as a watcher's subject is asked.
    virtual std::uint64_t Time() const;

    /// Touches this node, then every dependent depth first in list order,
    /// keeping the path on an explicit per-thread stack (no recursion).
    void Change(void const* p_payload);

    void AddDependent(BaseNode& p_dependent) { _dependents.push_back(&p_dependent); }
    std::vector<BaseNode*> const& Dependents() const { return _dependents; }
    std::uint64_t Stamp() const { return _stamp; }

    /// Nodes constructed and destroyed so far in the process.
    static std::uint64_t Constructed();
    static std::uint64_t Destroyed();

private:
    friend bool HasCycle(BaseNode& p_start, std::uint64_t& p_entered);

    std::uint64_t _stamp;
    std::vector<BaseNode*> _dependents;
    bool _onPath;
};

/// `new BaseNode` and `delete`.
BaseNode* NewNode();
void DeleteNode(BaseNode* p_node);

/// Depth-first cycle search from `p_start` that marks only the current path
/// (a node reached along two paths is entered twice, as in the library).
/// `p_entered` receives the number of nodes entered.
bool HasCycle(BaseNode& p_start, std::uint64_t& p_entered);

/// A watcher: a subject and its stamp when last looked at.
struct Watcher {
    BaseNode const* subject;
    std::uint64_t lastTime;
};
/// True as soon as one watcher's subject has a stamp other than the remembered one.
bool AnyModified(Watcher const* p_first, Watcher const* p_last);

/// An int property of a node: stores the value, stamps itself and has its
/// owner propagate the change with the value as payload.
class IntProperty {
public:
    explicit IntProperty(BaseNode& p_owner) noexcept : _owner(&p_owner), _value(0), _stamp(0) {}
    void Set(int p_value);
    int Get() const { return _value; }
    std::uint64_t Stamp() const { return _stamp; }

private:
    BaseNode* _owner;
    int _value;
    std::uint64_t _stamp;
};

/// Name interning under a lock: a hash map from text to id, a deque from id to text.
class NameCache {
public:
    unsigned short GenerateId(std::string const& p_name);
    std::string const& FindName(unsigned short p_id);

private:
    std::mutex _mutex;
    std::unordered_map<std::string, unsigned short> _ids;
    std::deque<std::string> _names;
};

}  // namespace Baseline
}  // namespace QelBench

#endif
