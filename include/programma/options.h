// How one call of the library may use the machine: threads, memory for the
// training kernel cache, the widest instruction set, and whether it may bind
// threads to processors. Every loading, training, scoring and test call takes
// its own; nothing of one call carries over to another, and the library
// reads no environment variable. A default EngineOptions uses every
// processor the process may run on, a quarter of physical memory and the
// widest instructions the processor has, and binds nothing. (The engine
// takes these options as they are; its library defines the functions
// declared here.)
#pragma once

#include <cstddef>

namespace programma {

// A cap on the instructions the engine uses: its output is the same at every
// level, only its speed differs. A level the processor lacks means the widest
// it has; `scalar` uses no vector code at all.
enum class VectorLevel { scalar, avx2, avx512 };

// Every processor this process may run on (a `taskset` or cpuset limits it).
unsigned available_processors();
// A quarter of physical memory, in bytes.
std::size_t quarter_of_memory();

struct EngineOptions {
    unsigned threads = available_processors();      // 1 or more
    std::size_t cache_bytes = quarter_of_memory();  // 0 turns the cache off
    VectorLevel widest = VectorLevel::avx512;
    // Whether the engine's worker threads are each bound to a processor of
    // their own while the call runs (when the process may run on as many
    // processors as there are threads): steadier speed for a program that
    // owns the machine, a change a host process may not want.
    bool pin_workers = false;
    // Whether the calling thread is bound to a processor too, beside the
    // pinned workers, for the rest of its life. Only for a program whose
    // thread starts no other process: a child inherits its mask.
    bool bind_caller = false;
};

// A level's name, as PROGRAMMA_VECTOR gives it: "scalar", "avx2" or "avx512".
const char* vector_level_name(VectorLevel level);

// The defaults with the environment's PROGRAMMA_THREADS (1 to 1024),
// PROGRAMMA_CACHE_MB (in MiB) and PROGRAMMA_VECTOR (a level's name) applied;
// a value that is not plain decimal digits in range, or not a level's name,
// is ignored. programma, digit-tools and the Python package read it once, at
// start; the library itself never does.
EngineOptions options_from_environment();

}  // namespace programma
