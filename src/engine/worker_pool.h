// A small pool of worker threads for splitting one piece of work into
// independent ranges. The calling thread takes part, so a pool of one thread
// runs everything inline. Results never depend on the number of threads:
// callers give each range its own output slots.
#pragma once

#include <cstddef>
#include <functional>

// Calls work(begin, end) over disjoint ranges that together cover [0, count),
// on up to engine_settings().threads threads, and returns when all are done.
// Ranges are at least `grain` long, so small jobs stay on the caller. A job
// started from inside a job runs inline.
void parallel_for(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& work);

// The number of threads parallel_for may use: the setting, or fewer when the
// system granted fewer.
unsigned pool_threads();
