// How the fast engine may use the machine for one computation: how many
// threads it may run, how much memory the training kernel cache may take,
// the widest instruction set its fast paths may use, and whether it binds
// threads to processors. Every entry point of the engine takes the settings
// of its call; nothing holds them between calls.
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
    unsigned threads = default_threads();             // 1 or more
    std::size_t cache_bytes = default_cache_bytes();  // 0 turns the cache off
    // A cap on the processor's level (processor_probe.h); scalar turns off
    // every vector path. Output is the same at every level.
    VectorLevel widest = VectorLevel::avx512;
    // Whether the pool's workers are bound to a processor each while they
    // work for this call (worker_pool.h): programma and digit-tools ask for
    // it, a library user's process is left as it is.
    bool pin_workers = false;
    // Whether the calling thread is bound to a processor too, beside the
    // workers: programma, which starts no other process, asks for it (left
    // unbound, the scheduler now and then runs it and a worker on one
    // processor); a process that starts others must leave its own mask
    // alone, since they inherit it.
    bool bind_caller = false;
};

// A level's name, as PROGRAMMA_VECTOR gives it: "scalar", "avx2" or "avx512".
const char* vector_level_name(VectorLevel level);

// The defaults with PROGRAMMA_THREADS, PROGRAMMA_CACHE_MB and
// PROGRAMMA_VECTOR applied; a value that is not a number (or not a level's
// name) is ignored. Read by the programs at start, never by the engine on
// its own.
EngineSettings settings_from_environment();
