// Sample-set files (measure and load) and mistake-list files (save and
// restore), plus the records that hold a loaded sample set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "list_lib.h"

// Size of a sample set: columns (features plus the label), then rows.
struct Dims {
    uint32_t columns = 0;
    uint32_t rows = 0;
};

// Plain memory for `bytes` bytes (std::bad_alloc when there is none), and
// its release.
void* allocate_plain(std::size_t bytes);
void release_plain(void* block, std::size_t bytes);

// A vector allocator whose new elements are left uninitialised (unless a
// value is given), over a source of memory with allocate(bytes) and
// release(memory, bytes).
template <typename T, typename Memory>
struct UninitialisedAllocator {
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    Memory memory{};

    UninitialisedAllocator() = default;
    explicit UninitialisedAllocator(Memory source) : memory(source) {}
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U, Memory>& other) : memory(other.memory) {}
    T* allocate(std::size_t count) { return static_cast<T*>(memory.allocate(count * sizeof(T))); }
    void deallocate(T* block, std::size_t count) { memory.release(block, count * sizeof(T)); }
    template <typename U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(static_cast<Args&&>(args)...);
    }
    friend bool operator==(const UninitialisedAllocator& a, const UninitialisedAllocator& b) {
        return a.memory == b.memory;
    }
};

// Where a sample set's floats live: plain memory, unless a loader names its
// own (the engine hands out memory of its own). New floats are left
// uninitialised: the loader writes every one, so zero-filling them first
// would only cost time.
struct ValueMemory {
    void* (*allocate)(std::size_t bytes) = allocate_plain;
    void (*release)(void* block, std::size_t bytes) = release_plain;
    bool operator==(const ValueMemory&) const = default;
};

using SampleValues = std::vector<float, UninitialisedAllocator<float, ValueMemory>>;

// A loaded sample set: rows of `columns` floats each, the label last.
struct SampleMatrix {
    uint32_t columns = 0;
    uint32_t rows = 0;
    SampleValues values;  // row-major, rows * columns floats

    const float* row(uint32_t r) const { return values.data() + std::size_t(r) * columns; }
    float* row(uint32_t r) { return values.data() + std::size_t(r) * columns; }
};

// +1 when a sample's label equals the target digit (compared as reals), -1
// otherwise, a label that is not a number included.
inline int32_t target_label(float label, uint32_t digit) {
    return static_cast<double>(label) == static_cast<double>(digit) ? 1 : -1;
}

// A count of wrong answers over a row count, each taken as a real exactly and
// the quotient rounded to float (0 rows give 0/0, not a number).
inline float error_fraction(uint32_t wrong, uint32_t rows) {
    return static_cast<float>(static_cast<double>(wrong) / static_cast<double>(rows));
}

// Counts the sample lines (lines holding a non-separator byte) and the numbers
// on the first of them. Returns 0, or 1 after a diagnostic when the file
// cannot be read or holds no sample line.
int line_counter(const char* path, Dims& dims);

// Loads a measured file. Returns 0 when every sample line held exactly
// `columns` numbers, 1 after a diagnostic naming the file and line otherwise.
int read_file(SampleMatrix& matrix, uint32_t columns, uint32_t rows, const char* path);

// Writes one index per line, replacing the file only once every byte is safely
// written. Returns 0, or 1 when there is no list or the save failed. A
// non-zero delete flag deletes the list afterwards.
int dump_file(std::unique_ptr<IndexList>& list, const char* path, uint8_t delete_flag);

// Reads unsigned indices until the first thing that is not a number into a
// new list. Returns 0, or 1 when the file cannot be read.
int restore_list(const char* path, std::unique_ptr<IndexList>& list);
