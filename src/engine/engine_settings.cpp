// Machine resources for the fast engine, read once from the environment.
#include "engine_settings.h"

#include <cstdlib>
#include <cstring>
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

// A vector level named in the environment; false when unset or not a name.
bool environment_level(const char* name, VectorLevel& level) {
    const char* text = std::getenv(name);
    if (text == nullptr) return false;
    for (VectorLevel named : {VectorLevel::scalar, VectorLevel::avx2, VectorLevel::avx512}) {
        if (std::strcmp(text, vector_level_name(named)) == 0) {
            level = named;
            return true;
        }
    }
    return false;
}

}  // namespace

const char* vector_level_name(VectorLevel level) {
    switch (level) {
        case VectorLevel::scalar: return "scalar";
        case VectorLevel::avx2: return "avx2";
        case VectorLevel::avx512: return "avx512";
    }
    return "scalar";
}

EngineSettings settings_from_environment() {
    EngineSettings settings;
    unsigned long long value = 0;
    if (environment_number("PROGRAMMA_THREADS", value) && value > 0) {
        settings.threads = value > 1024 ? 1024 : unsigned(value);
    }
    if (environment_number("PROGRAMMA_CACHE_MB", value)) settings.cache_bytes = std::size_t(value) << 20;
    environment_level("PROGRAMMA_VECTOR", settings.widest);
    return settings;
}

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
