// Large blocks are mappings of their own, so that the system does not fault
// them in 4 KiB at a time: each fault is costly under a virtual machine. A
// block of at least 128 KiB is whole 2 MiB huge pages at a 2 MiB boundary,
// offered huge pages: one fault each, taken by whichever thread first writes
// there, so that a load's threads share the zeroing. Measured side by side,
// huge pages pay from that size: a 128 KiB read buffer or the trace buffer
// in 4 KiB pages cost more in faults and in stalls on first stores than one
// huge page's zeroing. A block from 64 KiB up to that is whole 4 KiB pages,
// pre-faulted in one call where the kernel can, since the engine writes every
// large block as soon as it has it. Each block is unmapped when it is
// released: nothing process-wide is tuned or kept. Small blocks, and every
// block under an address-space limit (ulimit -v), are malloc's, exactly as
// large as asked for; huge pages refused or pre-faulting unknown leave plain
// pages, the same bytes.
#include "sample_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it with EINVAL
#endif

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPage = std::size_t(4) << 10;
// Blocks from this size get a mapping of their own.
constexpr std::size_t kLargeBytes = std::size_t(64) << 10;

std::size_t rounded_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

bool plain_memory(std::size_t bytes) { return bytes < kLargeBytes || address_space_limited(); }

bool in_huge_pages(std::size_t bytes) { return bytes >= kHugePage / 16; }

std::size_t mapped_size(std::size_t bytes) { return rounded_up(bytes, in_huge_pages(bytes) ? kHugePage : kPage); }

// A mapping of `size` bytes (whole huge pages) at a 2 MiB boundary: mapped
// one huge page longer, then trimmed at both ends.
char* huge_page_mapping(std::size_t size) {
    void* mapping = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    char* const start = static_cast<char*>(mapping);
    char* const aligned = reinterpret_cast<char*>(rounded_up(reinterpret_cast<uintptr_t>(start), kHugePage));
    if (aligned > start) ::munmap(start, std::size_t(aligned - start));
    char* const end = start + size + kHugePage;
    if (end > aligned + size) ::munmap(aligned + size, std::size_t(end - (aligned + size)));
    return aligned;
}

}  // namespace

bool address_space_limited() {
    static const bool limited = [] {
        rlimit limit{};
        return ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
    }();
    return limited;
}

void* allocate_sample_memory(std::size_t bytes) {
    if (plain_memory(bytes)) {
        void* memory = std::malloc(bytes == 0 ? 1 : bytes);
        if (memory == nullptr) throw std::bad_alloc();
        return memory;
    }
    const std::size_t size = mapped_size(bytes);
    char* block = nullptr;
    if (in_huge_pages(bytes)) {
        block = huge_page_mapping(size);
        if (block != nullptr) ::madvise(block, size, MADV_HUGEPAGE);
    } else {
        void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping != MAP_FAILED) block = static_cast<char*>(mapping);
    }
    if (block == nullptr) throw std::bad_alloc();
    // Pre-faulting fails with ENOMEM when the memory cannot be had: better
    // said now, where the engine can fall back, than by a signal later.
    if (!in_huge_pages(bytes) && ::madvise(block, bytes, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
        ::munmap(block, size);
        throw std::bad_alloc();
    }
    return block;
}

void free_sample_memory(void* memory, std::size_t bytes) {
    if (plain_memory(bytes)) {
        std::free(memory);
    } else if (memory != nullptr) {
        ::munmap(memory, mapped_size(bytes));
    }
}
