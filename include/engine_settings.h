// How the program may use the machine: whether the fast kernel engine runs
// (off, every kernel goes through the plain scalar formulas, which give the
// same bytes more slowly), how many threads it may start, and how much memory
// the training kernel cache may take. Read once from the environment.
#pragma once

#include <cstddef>

struct EngineSettings {
    bool fast = true;
    unsigned threads = 1;           // worker threads, 1 or more
    std::size_t cache_bytes = 0;    // budget of the training kernel cache
};

// The settings in force: PROGRAMMA_THREADS and PROGRAMMA_CACHE_MB override
// the defaults (every hardware thread; a quarter of physical memory).
const EngineSettings& engine_settings();

// Makes every later computation use the plain scalar formulas.
void use_reference_arithmetic();

// Overrides for tests: the fast engine on or off, the thread count (at most
// the count in force when a job first needed several threads) and the cache
// budget.
void set_fast_engine(bool on);
void set_engine_threads(unsigned threads);
void set_cache_budget(std::size_t bytes);
