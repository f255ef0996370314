// Machine resources for the fast engine, read once from the environment.
#include "engine_settings.h"

#include <cstdlib>
#include <thread>
#include <sched.h>
#include <unistd.h>

namespace {

// One thread per processor the process may run on (a `taskset` or cpuset
// limits it), else per processor of the machine.
unsigned default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return unsigned(CPU_COUNT(&set));
    }
    unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

std::size_t default_cache_bytes() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::size_t(256) << 20;
    return std::size_t(pages) * std::size_t(page_size) / 4;
}

// A positive whole number from the environment, or 0 when unset or invalid.
unsigned long long environment_number(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' ? value : 0;
}

EngineSettings& mutable_settings() {
    static EngineSettings settings = [] {
        EngineSettings s;
        s.threads = default_threads();
        s.cache_bytes = default_cache_bytes();
        if (unsigned long long threads = environment_number("PROGRAMMA_THREADS")) {
            s.threads = threads > 1024 ? 1024 : unsigned(threads);
        }
        if (const char* text = std::getenv("PROGRAMMA_CACHE_MB"); text != nullptr && *text != '\0') {
            char* end = nullptr;
            unsigned long long megabytes = std::strtoull(text, &end, 10);
            if (*end == '\0') s.cache_bytes = std::size_t(megabytes) << 20;
        }
        return s;
    }();
    return settings;
}

}  // namespace

const EngineSettings& engine_settings() { return mutable_settings(); }

void use_reference_arithmetic() { set_fast_engine(false); }

void set_fast_engine(bool on) { mutable_settings().fast = on; }

void set_engine_threads(unsigned threads) { mutable_settings().threads = threads == 0 ? 1 : threads; }

void set_cache_budget(std::size_t bytes) { mutable_settings().cache_bytes = bytes; }
