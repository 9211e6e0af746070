// Runs operations decoded from bytes on the library and on the reference
// model side by side, and compares the two after every step. The seeded
// randomized test and the fuzzer share this decoder and this comparison.
#ifndef QEL_TESTS_MODEL_DRIVER_H
#define QEL_TESTS_MODEL_DRIVER_H

#include "Model.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qelmodel {

enum class OpCode : std::uint8_t {
    Create,
    Clone,
    Release,
    Insert,
    Remove,
    Squeeze,
    ClearList,
    Touch,
    AccessTouch,
    SetProperty,
    AccessByName,
    AccessByIndex,
    Rename,
    Watch,
    WatchFresh,
    ResetWatcher,
    TouchWatcher,
    CopyWatcher,
    ClearWatcher,
    CycleQuery,
    Arm,
};

/// One operation as decoded: what to do and three argument bytes whose
/// meaning depends on the code. Slots are resolved against the current
/// state when the operation runs, so every byte string is a valid program.
struct Operation {
    OpCode code = OpCode::Create;
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    std::uint8_t c = 0;
    bool throwing = false;  // run under the throwing failure policy where that is safe
};

/// Bytes per operation.
constexpr std::size_t kOperationBytes = 4;

/// Decodes exactly `kOperationBytes` bytes.
Operation DecodeOperation(std::uint8_t const* p_bytes);

/// Counts of what the operations reached, to show that a run exercised the
/// interesting cases and was not mostly skipped.
struct HarnessStats {
    std::size_t steps = 0;
    std::size_t skipped = 0;
    std::size_t touches = 0;
    std::size_t deallocations = 0;
    std::size_t hooksPerformed = 0;
    std::size_t refusedChanges = 0;  // Insert/Remove/Squeze on a list being walked
    std::size_t missingRemoves = 0;
    std::size_t cyclesFound = 0;
    std::size_t cycleRuleWalks = 0;  // steps that touched while a cycle was reachable
    std::size_t throwingWalks = 0;   // walks ended by an exception
    std::size_t clones = 0;
};

class LibrarySide;

/// The library and the model, stepped together.
class Harness {
public:
    explicit Harness(ModelLimits const& p_limits = ModelLimits());
    ~Harness();
    Harness(Harness const&) = delete;
    Harness& operator=(Harness const&) = delete;

    /// Runs one operation on both sides and compares; false on divergence.
    bool Step(Operation const& p_operation);
    /// Disarms hooks, clears every list and releases every node, comparing
    /// each step, then checks that the node counters are back where they
    /// started; false on divergence.
    bool Finish();

    /// What diverged, with the step and the operation.
    std::string const& Failure() const { return _failure; }
    /// The operations run so far, compactly, in order.
    std::string History() const;
    HarnessStats const& Stats() const { return _stats; }
    Model& ModelForSelfTest() { return *_model; }

private:
    friend class LibrarySide;

    struct Resolved;
    Resolved Resolve(Operation const& p_operation) const;
    bool RunResolved(Resolved const& p_resolved);
    int FindOccupied(int p_from) const;
    int FindEmpty(int p_from) const;
    int SlotOf(int p_id) const;
    std::string NewName(int p_style) const;
    bool TouchLike(OpCode p_code) const;
    bool CheapWalk(int p_slot) const;
    void ApplyToModel(Resolved const& p_resolved);
    Outcome RunLibrary(Resolved const& p_resolved);
    bool CreateOrClone(Resolved const& p_resolved);
    bool Compare(Expectation const& p_expected, Outcome p_outcome, std::vector<qeldebug::record> const& p_records);
    bool CompareState();
    bool Fail(std::string const& p_text);
    void CountStats(Resolved const& p_resolved, Expectation const& p_expected, Outcome p_outcome);

    std::unique_ptr<Model> _model;
    std::unique_ptr<LibrarySide> _library;
    std::vector<std::string> _history;
    std::string _failure;
    HarnessStats _stats;
    bool _finished = false;
    bool _cycleReachable = false;  // as of the last comparison
};

/// Runs `p_size / kOperationBytes` operations (at most `p_maxSteps`) from
/// the bytes and finishes. Returns the failure text, empty when both sides
/// agreed throughout.
std::string RunBytes(std::uint8_t const* p_bytes, std::size_t p_size, std::size_t p_maxSteps,
                     ModelLimits const& p_limits = ModelLimits());

}  // namespace qelmodel

#endif
