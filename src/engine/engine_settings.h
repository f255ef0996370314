// How the fast engine may use the machine: how many threads it may start,
// how much memory the training kernel cache may take, and the widest
// instruction set its batch kernels may use. Read once from the
// environment; tests may change them in place.
#pragma once

#include <cstddef>

enum class VectorLevel { scalar, avx2, avx512 };

// What an engine entry point returns when the memory it needs beyond the
// reference's cannot be had; it has printed nothing, and the caller computes
// with the reference modules instead.
constexpr int kEngineOutOfMemory = 2;

// Every processor the process may run on (a `taskset` or cpuset limits it).
unsigned default_threads();
// A quarter of physical memory.
std::size_t default_cache_bytes();

struct EngineSettings {
    unsigned threads = default_threads();           // 1 or more
    std::size_t cache_bytes = default_cache_bytes();  // 0 turns the cache off
    VectorLevel widest = VectorLevel::avx512;       // lowered to test narrower paths
};

// The settings in force: the defaults, with PROGRAMMA_THREADS and
// PROGRAMMA_CACHE_MB applied when first asked for. The pool keeps the thread
// count it had when a job first needed several threads; a lower count
// applies later.
EngineSettings& engine_settings();
