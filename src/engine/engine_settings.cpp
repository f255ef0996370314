// Machine resources for the fast engine, read once from the environment.
#include "engine_settings.h"

#include <cstdlib>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

// A whole number from the environment; false when unset or not a number.
bool environment_number(const char* name, unsigned long long& value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return *end == '\0';
}

EngineSettings from_environment() {
    EngineSettings settings;
    unsigned long long value = 0;
    if (environment_number("PROGRAMMA_THREADS", value) && value > 0) {
        settings.threads = value > 1024 ? 1024 : unsigned(value);
    }
    if (environment_number("PROGRAMMA_CACHE_MB", value)) settings.cache_bytes = std::size_t(value) << 20;
    return settings;
}

}  // namespace

unsigned default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return unsigned(CPU_COUNT(&set));
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

std::size_t default_cache_bytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::size_t(256) << 20;
    return std::size_t(pages) * std::size_t(page_size) / 4;
}

EngineSettings& engine_settings() {
    static EngineSettings settings = from_environment();
    return settings;
}
