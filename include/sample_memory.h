// Memory for loaded sample sets and other large engine buffers. Large blocks
// are 2 MiB-aligned mappings offered huge pages, and a block released is
// kept (up to a limit) for the next one: first touching memory is what costs
// here, since the system zeroes every fresh page, and under a virtual
// machine the host may first have to back it.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Memory for `bytes` bytes, left as it is (not zeroed); throws std::bad_alloc
// when there is none.
void* allocate_sample_memory(std::size_t bytes);

// Releases memory from allocate_sample_memory, given the same byte count.
void free_sample_memory(void* memory, std::size_t bytes);

// An allocator of sample memory whose new elements are left uninitialised
// (unless a value is given): a loaded set is written once by the loader, so
// zero-filling it first would only cost time.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
    template <typename U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
    // Large blocks get huge pages, where the system has them, rather than a
    // fault per 4 KiB page as they are written, and reuse those of blocks
    // released before.
    T* allocate(std::size_t count) {
        return static_cast<T*>(allocate_sample_memory(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) { free_sample_memory(memory, count * sizeof(T)); }
};
