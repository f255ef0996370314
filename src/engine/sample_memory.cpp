// Large blocks are whole 4 KiB pages of 2 MiB-aligned mappings. A block
// comes from the spare list when a spare run is big enough (the smallest such,
// its tail left spare), else from a new mapping whose tail past the block
// becomes spare at once: so a 1.2 MB set and a 0.6 MB one share one huge
// page instead of taking two. Released blocks join the spare runs
// next to them. The spare list holds at most kSpareLimit bytes; beyond
// that, released memory goes back to the system. Under an address-space
// limit every block is plain memory, exactly as large as asked for.
#include "sample_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPage = std::size_t(4) << 10;
// Blocks from this size get a mapping of their own.
constexpr std::size_t kMappedBytes = std::size_t(256) << 10;
// Released mappings kept for reuse, at most.
constexpr std::size_t kSpareLimit = std::size_t(64) << 20;

std::size_t rounded_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

struct Mapping {
    char* start;
    std::size_t size;
};

struct SpareMappings {
    std::mutex mutex;
    std::vector<Mapping> spare;
    std::size_t total = 0;

    // The smallest spare mapping of at least `size` bytes, cut to size;
    // nullptr when there is none.
    char* take(std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        std::size_t best = spare.size();
        for (std::size_t i = 0; i < spare.size(); ++i) {
            if (spare[i].size >= size && (best == spare.size() || spare[i].size < spare[best].size)) {
                best = i;
            }
        }
        if (best == spare.size()) return nullptr;
        Mapping found = spare[best];
        total -= size;
        if (found.size > size) {
            spare[best] = Mapping{found.start + size, found.size - size};
        } else {
            spare.erase(spare.begin() + long(best));
        }
        return found.start;
    }

    // Gives every spare run back to the system.
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Mapping& run : spare) ::munmap(run.start, run.size);
        spare.clear();
        total = 0;
    }

    // Keeps a released run, joined to the spare runs next to it, while the
    // limit allows; returns the rest of it to the system.
    void keep(char* start, std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t kept = std::min(size, kSpareLimit - total);
        if (kept < size) ::munmap(start + kept, size - kept);
        if (kept == 0) return;
        total += kept;
        Mapping run{start, kept};
        for (std::size_t i = 0; i < spare.size();) {
            if (spare[i].start + spare[i].size == run.start) {
                run = Mapping{spare[i].start, spare[i].size + run.size};
            } else if (run.start + run.size == spare[i].start) {
                run.size += spare[i].size;
            } else {
                ++i;
                continue;
            }
            spare.erase(spare.begin() + long(i));
        }
        try {
            spare.push_back(run);
        } catch (const std::bad_alloc&) {
            total -= run.size;
            ::munmap(run.start, run.size);
        }
    }
};

// Never destroyed: sets may be released while the program exits.
SpareMappings& spare_mappings() {
    static SpareMappings* mappings = new SpareMappings;
    return *mappings;
}

// Small blocks, and every block under an address-space limit, are plain
// memory: exactly as much as asked for.
bool plain_memory(std::size_t bytes) { return bytes < kMappedBytes || address_space_limited(); }

// A new 2 MiB-aligned mapping offered huge pages: one fault per 2 MiB where
// the system grants them, taken by whichever thread first writes there,
// instead of one per 4 KiB page.
char* new_mapping(std::size_t size) {
    void* mapping = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    char* start = static_cast<char*>(mapping);
    char* aligned =
        reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(uintptr_t(kHugePage) - 1));
    if (aligned > start) ::munmap(start, std::size_t(aligned - start));
    const std::size_t tail = std::size_t(start + size + kHugePage - (aligned + size));
    if (tail > 0) ::munmap(aligned + size, tail);
    ::madvise(aligned, size, MADV_HUGEPAGE);
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
    const std::size_t size = rounded_up(bytes, kPage);
    if (char* spare = spare_mappings().take(size)) return spare;
    const std::size_t mapped = rounded_up(size, kHugePage);
    char* block = new_mapping(mapped);
    if (block == nullptr) {  // the kept blocks go back to the system first
        spare_mappings().release();
        block = new_mapping(mapped);
        if (block == nullptr) throw std::bad_alloc();
    }
    if (mapped > size) spare_mappings().keep(block + size, mapped - size);
    return block;
}

void free_sample_memory(void* memory, std::size_t bytes) {
    if (plain_memory(bytes)) {
        std::free(memory);
    } else {
        spare_mappings().keep(static_cast<char*>(memory), rounded_up(bytes, kPage));
    }
}
