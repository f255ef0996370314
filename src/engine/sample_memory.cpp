// Sample memory is glibc's malloc, tuned once when the first large block is
// asked for: blocks up to 32 MiB come from the heap rather than from mappings
// of their own, and the heap keeps up to 64 MiB of freed memory for the next
// blocks instead of giving it back to the system. Large blocks are whole
// 4 KiB pages, offered huge pages. Under an address-space limit every
// block is plain memory, exactly as large as asked for.
#include "sample_memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPage = std::size_t(4) << 10;
// Blocks from this size are whole pages, offered huge pages.
constexpr std::size_t kLargeBytes = std::size_t(256) << 10;

std::size_t rounded_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

bool plain_memory(std::size_t bytes) { return bytes < kLargeBytes || address_space_limited(); }

// Once, for the whole process: the thresholds turn off glibc's own
// adjustment of them, which would map and unmap large blocks afresh.
void tune_malloc_once() {
    [[maybe_unused]] static const bool tuned = [] {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
        mallopt(M_TOP_PAD, 2 << 20);
        return true;
    }();
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
    tune_malloc_once();
    void* memory = nullptr;
    const std::size_t size = rounded_up(bytes, kPage);
    if (::posix_memalign(&memory, kPage, size) != 0) throw std::bad_alloc();
    // The hint covers every huge page the block reaches into: blocks next to
    // each other in the heap share them, as a 1.2 MB set and a 0.6 MB one
    // then share one.
    const uintptr_t start = reinterpret_cast<uintptr_t>(memory) / kHugePage * kHugePage;
    const uintptr_t end = rounded_up(reinterpret_cast<uintptr_t>(memory) + size, kHugePage);
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    return memory;
}

void free_sample_memory(void* memory, std::size_t) { std::free(memory); }
