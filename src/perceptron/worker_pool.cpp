// Worker threads started once, on first use. Each worker owns one slot that
// the caller fills with a range and marks assigned. Whoever claims an
// assigned slot first runs it: normally its worker, but the caller takes back
// any slot whose worker has not started by the time the caller's own range is
// done. So a worker that the system has not scheduled (a busy machine) never
// holds up a job, and a job costs microseconds when the workers are awake,
// which lets training split single decisions.
#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "engine_settings.h"

namespace {

enum SlotState : int { kIdle = 0, kAssigned = 1, kRunning = 2, kStopping = 3 };

// Busy-wait rounds before a thread sleeps: tens of microseconds.
constexpr int kSpins = 2000;

void pause() { __builtin_ia32_pause(); }

struct Slot {
    const std::function<void(std::size_t, std::size_t)>* work = nullptr;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::exception_ptr failure;
    std::atomic<int> state{kIdle};

    // Runs the range if this caller wins it; false when someone else has.
    bool claim_and_run() {
        int expected = kAssigned;
        if (!state.compare_exchange_strong(expected, kRunning)) return false;
        try {
            (*work)(begin, end);
        } catch (...) {
            failure = std::current_exception();
        }
        state.store(kIdle);
        state.notify_all();
        return true;
    }
};

struct Pool {
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<std::thread> workers;

    explicit Pool(unsigned threads) {
        workers.reserve(threads);
        slots.reserve(threads);
        for (unsigned i = 1; i < threads; ++i) {
            auto slot = std::make_unique<Slot>();
            try {
                workers.emplace_back([s = slot.get()] { serve(*s); });
            } catch (const std::system_error&) {
                break;  // the system grants no more threads: work with those there are
            }
            slots.push_back(std::move(slot));
        }
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        for (auto& slot : slots) {
            slot->state.store(kStopping);
            slot->state.notify_all();
        }
        for (std::thread& worker : workers) worker.join();
    }

    static void serve(Slot& slot) {
        for (;;) {
            // Jobs often come back to back: spin briefly (without system
            // calls) before sleeping.
            int state = slot.state.load();
            for (int spin = 0; spin < kSpins && state != kAssigned && state != kStopping; ++spin) {
                pause();
                state = slot.state.load();
            }
            if (state == kStopping) return;
            if (state == kAssigned) {
                slot.claim_and_run();
            } else {
                slot.state.wait(state);
            }
        }
    }

    void run(std::size_t count, std::size_t parts,
             const std::function<void(std::size_t, std::size_t)>& work) {
        parts = std::min(parts, slots.size() + 1);
        for (std::size_t part = 1; part < parts; ++part) {
            Slot& slot = *slots[part - 1];
            slot.work = &work;
            slot.begin = count * part / parts;
            slot.end = count * (part + 1) / parts;
            slot.failure = nullptr;
            slot.state.store(kAssigned);
            slot.state.notify_all();
        }
        std::exception_ptr failure;
        try {
            work(0, count / parts);
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::size_t part = 1; part < parts; ++part) {
            Slot& slot = *slots[part - 1];
            slot.claim_and_run();  // a range its worker has not started yet
            int state = slot.state.load();
            for (int spin = 0; spin < kSpins && state != kIdle; ++spin) {
                pause();
                state = slot.state.load();
            }
            for (; state != kIdle; state = slot.state.load()) slot.state.wait(state);
            if (!failure && slot.failure) failure = slot.failure;
        }
        if (failure) std::rethrow_exception(failure);
    }
};

// Threads in the pool: the setting in force when the first job needed them.
unsigned pool_capacity() {
    static const unsigned capacity = std::max(1u, engine_settings().threads);
    return capacity;
}

Pool& pool() {
    static Pool instance(pool_capacity());
    return instance;
}

}  // namespace

unsigned pool_threads() { return std::max(1u, std::min(pool_capacity(), engine_settings().threads)); }

void parallel_for(std::size_t count, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& work) {
    if (count == 0) return;
    std::size_t parts =
        std::min<std::size_t>(pool_threads(), count / std::max<std::size_t>(grain, 1));
    if (parts <= 1) {
        work(0, count);
        return;
    }
    pool().run(count, parts, work);
}
