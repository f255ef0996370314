// Memory for the engine's sample sets and large buffers (read buffers, packed
// rows, cache chunks, the trace buffer). Large blocks are mapped in huge
// pages and pre-faulted in one call: first touching memory is what costs
// here, since the system zeroes every fresh page, and under a virtual
// machine each fault is a trip to the host (see sample_memory.cpp).
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "file_lib.h"

// Memory for `bytes` bytes, left as it is (not zeroed); throws std::bad_alloc
// when there is none.
void* allocate_sample_memory(std::size_t bytes);

// Releases memory from allocate_sample_memory (the byte count is that of the
// allocation, for allocators that want it).
void free_sample_memory(void* memory, std::size_t bytes);

// Whether the process runs under an address-space limit (ulimit -v): the
// engine then takes plain memory, exactly as much as it asks for.
bool address_space_limited();

struct SampleMemory {
    void* allocate(std::size_t bytes) const { return allocate_sample_memory(bytes); }
    void release(void* block, std::size_t bytes) const { free_sample_memory(block, bytes); }
    bool operator==(const SampleMemory&) const = default;
};

// Sample sets in sample memory.
inline SampleValues values_in_sample_memory() {
    return SampleValues(SampleValues::allocator_type(ValueMemory{allocate_sample_memory, free_sample_memory}));
}

// A vector allocator of sample memory whose new elements are left
// uninitialised.
template <typename T>
using SampleAllocator = UninitialisedAllocator<T, SampleMemory>;

// Floats in sample memory, new ones left uninitialised.
using EngineFloats = std::vector<float, SampleAllocator<float>>;
