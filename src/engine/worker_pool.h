// A small pool of worker threads for splitting one piece of work into
// independent ranges. The calling thread takes part, so a pool of one thread
// runs everything inline. Results never depend on the number of threads:
// callers give each range its own output slots.
#pragma once

#include <cstddef>
#include <functional>

#include "engine_settings.h"

// Calls work(begin, end) over disjoint ranges that together cover [0, count),
// on up to settings.threads threads, and returns when all are done. Ranges
// are at least `grain` long, so small jobs stay on the caller. A job started
// from inside a job runs inline; one from another thread waits for the pool.
void parallel_for(const EngineSettings& settings, std::size_t count, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& work);

// The number of threads parallel_for may use for these settings: their
// count, or fewer when the system grants fewer.
unsigned pool_threads(const EngineSettings& settings);
