// The engine's default options, and the environment values that programs
// read at start to change them (the declarations are the library's, in
// programma/options.h).
#include "engine_settings.h"

#include <sched.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// The most threads a setting may ask for; a larger count is ignored.
constexpr unsigned long long kMostThreads = 1024;

// A whole number from the environment: decimal digits alone, within 64
// bits; false when unset, empty, signed, garbage or out of range.
bool environment_number(const char* name, unsigned long long& value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;  // no sign, blank or other text
    }
    errno = 0;
    value = std::strtoull(text, nullptr, 10);
    return errno == 0;  // beyond 64 bits is out of range
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

namespace programma {

const char* vector_level_name(VectorLevel level) {
    switch (level) {
        case VectorLevel::scalar: return "scalar";
        case VectorLevel::avx2: return "avx2";
        case VectorLevel::avx512: return "avx512";
    }
    return "scalar";
}

EngineOptions options_from_environment() {
    EngineOptions settings;
    unsigned long long value = 0;
    if (environment_number("PROGRAMMA_THREADS", value) && value > 0 && value <= kMostThreads) {
        settings.threads = unsigned(value);
    }
    if (environment_number("PROGRAMMA_CACHE_MB", value) && value <= (SIZE_MAX >> 20)) {
        settings.cache_bytes = std::size_t(value) << 20;
    }
    environment_level("PROGRAMMA_VECTOR", settings.widest);
    return settings;
}

unsigned available_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return unsigned(CPU_COUNT(&set));
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

std::size_t quarter_of_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::size_t(256) << 20;
    return std::size_t(pages) * std::size_t(page_size) / 4;
}

}  // namespace programma
