// A small pool of worker threads for splitting one piece of work into
// independent ranges. The calling thread takes part, so a pool of one thread
// runs everything inline. Results never depend on the number of threads:
// callers give each range its own output slots.
#pragma once

#include <cstddef>
#include <functional>

// Calls work(begin, end) over disjoint ranges that together cover [0, count),
// on up to engine_settings().threads threads, and returns when all are done.
// Ranges are at least `grain` long, so small jobs stay on the caller.
void parallel_for(std::size_t count, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& work);

// The number of threads parallel_for may use.
unsigned pool_threads();

// Starts work() on a worker thread and returns true at once; false, without
// running it, when no worker is free for it (one thread, or a background job
// already running). Meanwhile parallel_for uses the other workers.
bool start_background(std::function<void()> work);

// Returns once the job of start_background has run: on its worker, or here
// if no worker had started it. Rethrows what the job threw.
void finish_background();
