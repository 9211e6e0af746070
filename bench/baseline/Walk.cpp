// The baseline's depth-first walks. Every touch and every stamp read is a
// virtual call, which link-time optimisation may see through.
#include "Baseline.h"

namespace QelBench {
namespace Baseline {

namespace {

struct Frame {
    BaseNode* const* next;
    BaseNode* const* end;
    Relationship relationship;
};

// Out of line on purpose: inlined, the compiler recomputes the address of
// a thread_local after every call in the loop (one __tls_get_addr each in a
// shared library); through this function the walk asks once.
__attribute__((noinline)) std::vector<Frame>& WalkStack() {
    static thread_local std::vector<Frame> stack;
    return stack;
}

struct SearchFrame {
    BaseNode* node;
    std::size_t next;
};

__attribute__((noinline)) std::vector<SearchFrame>& SearchStack() {
    static thread_local std::vector<SearchFrame> stack;
    return stack;
}

}  // namespace

void BaseNode::Change(void const* p_payload) {
    Touch(Self, p_payload);
    if (_dependents.empty()) {
        return;
    }
    std::vector<Frame>& stack = WalkStack();
    // A touch may start a walk of its own: it pushes above this one's frames.
    std::size_t const base = stack.size();
    stack.push_back(Frame{_dependents.data(), _dependents.data() + _dependents.size(), Explicit});
    while (stack.size() > base) {
        Frame& frame = stack.back();
        if (frame.next == frame.end) {
            stack.pop_back();
            continue;
        }
        BaseNode* const dependent = *frame.next++;
        Relationship const relationship = frame.relationship;
        dependent->Touch(relationship, p_payload);
        std::vector<BaseNode*> const& below = dependent->_dependents;
        if (!below.empty()) {
            stack.push_back(Frame{below.data(), below.data() + below.size(), Implicit});
        }
    }
}

bool HasCycle(BaseNode& p_start, std::uint64_t& p_entered) {
    std::vector<SearchFrame>& stack = SearchStack();
    std::size_t const base = stack.size();
    p_entered = 1;
    p_start._onPath = true;
    stack.push_back(SearchFrame{&p_start, 0});
    bool found = false;
    while (stack.size() > base) {
        SearchFrame& frame = stack.back();
        std::vector<BaseNode*> const& dependents = frame.node->_dependents;
        if (found || frame.next == dependents.size()) {
            frame.node->_onPath = false;
            stack.pop_back();
            continue;
        }
        BaseNode* const child = dependents[frame.next++];
        if (child->_onPath) {
            found = true;
            continue;
        }
        ++p_entered;
        child->_onPath = true;
        stack.push_back(SearchFrame{child, 0});
    }
    return found;
}

bool AnyModified(Watcher const* p_first, Watcher const* p_last) {
    for (Watcher const* watcher = p_first; watcher != p_last; ++watcher) {
        if (watcher->subject->Time() != watcher->lastTime) {
            return true;
        }
    }
    return false;
}

void IntProperty::Set(int p_value) {
    _value = p_value;
    ++_stamp;
    _owner->Change(&_value);
}

}  // namespace Baseline
}  // namespace QelBench
