// A growable array for the per-thread state of the deleter and the walk.
#ifndef QEL_CORE_GROWABLE_H
#define QEL_CORE_GROWABLE_H

#include <cstddef>
#include <cstdlib>
#include <new>

namespace Qel {
namespace Chart {
namespace Core {
namespace Private {

// Per-thread state of the library is kept in trivially destructible
// thread-locals (they stay valid until the thread is gone), and whatever they
// own is freed by a cleaner object registered on first use. Nodes may end
// after the cleaner ran (a thread_local or static Ptr released at exit): the
// state then says so and each user falls back to working without it.
template <class T>
struct Growable {
    T* items;
    std::size_t size;
    std::size_t capacity;

    void Grow() {
        std::size_t const grown = capacity == 0 ? 64 : capacity * 2;
        void* fresh = std::realloc(
            static_cast<void*>(items),
            grown * sizeof(T));  // NOLINT(bugprone-sizeof-expression): T may be a pointer: an array of them
        if (fresh == nullptr) {
            throw std::bad_alloc();
        }
        items = static_cast<T*>(fresh);
        capacity = grown;
    }
    void Push(T const& p_item) {
        if (size == capacity) {
            Grow();
        }
        items[size++] = p_item;
    }
    void Free() noexcept {
        std::free(items);
        items = nullptr;
        size = 0;
        capacity = 0;
    }
};

}  // namespace Private
}  // namespace Core
}  // namespace Chart
}  // namespace Qel

#endif
