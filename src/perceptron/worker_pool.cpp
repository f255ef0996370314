// Worker threads started once, on first use. Each worker owns one slot that
// the caller fills with a range and marks assigned. Whoever claims an
// assigned slot first runs it: normally its worker, but the caller takes back
// any slot whose worker has not started by the time the caller's own range is
// done. So a worker that the system has not scheduled (a busy machine) never
// holds up a job, and a job costs microseconds when the workers are awake.
// One job at a time can also run in the background (start_background): the
// last worker takes it while the caller goes on, and jobs meanwhile use the
// other workers. A job started from a worker thread runs on that thread.
// When the process may run on at least as many processors as the pool has
// threads, each thread (the caller's included) is bound to a processor of
// its own: left to itself the scheduler would now and then run the caller
// and a worker on one processor, and the job on one thread.
#include "worker_pool.h"

#include <pthread.h>
#include <sched.h>

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

// Busy-wait rounds before a thread sleeps, about a millisecond: jobs come in
// bursts (a training tile after a row's decisions, a load's parse after its
// count), and waking a sleeping thread can cost as much as a small job.
constexpr int kSpins = 50000;

void pause() { __builtin_ia32_pause(); }

// Set on the pool's own threads: jobs they start run inline.
thread_local bool on_worker = false;

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

// The processors this process may run on.
std::vector<int> allowed_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    }
    return cpus;
}

// Binds a thread to one processor (on failure it stays unbound).
void pin_to(pthread_t thread, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(thread, sizeof set, &set);
}

struct Pool;
// The pool, once a job has needed it; set and cleared only while no worker runs a job.
Pool* made_pool = nullptr;

struct Pool {
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<std::thread> workers;
    // The job of start_background, run in the last slot as a range of one.
    std::function<void(std::size_t, std::size_t)> background;
    bool background_pending = false;

    explicit Pool(unsigned threads) {
        made_pool = this;  // before any worker starts, so every thread sees it
        workers.reserve(threads);
        slots.reserve(threads);
        std::vector<int> cpus = allowed_cpus();
        const bool pin = cpus.size() >= threads && threads > 1;
        if (pin) pin_to(pthread_self(), cpus[0]);
        for (unsigned i = 1; i < threads; ++i) {
            auto slot = std::make_unique<Slot>();
            try {
                workers.emplace_back([s = slot.get()] { serve(*s); });
                if (pin) pin_to(workers.back().native_handle(), cpus[i]);
            } catch (const std::system_error&) {
                break;  // the system grants no more threads: work with those there are
            }
            slots.push_back(std::move(slot));
        }
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        try {
            finish_background();
        } catch (...) {
            // its failure no longer matters to anyone
        }
        made_pool = nullptr;
        for (auto& slot : slots) {
            slot->state.store(kStopping);
            slot->state.notify_all();
        }
        for (std::thread& worker : workers) worker.join();
    }

    static void serve(Slot& slot) {
        on_worker = true;
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

    // Claims a slot's range if its worker has not started it, then waits
    // until it is done; returns its failure, if any.
    static std::exception_ptr settle(Slot& slot) {
        slot.claim_and_run();
        int state = slot.state.load();
        for (int spin = 0; spin < kSpins && state != kIdle; ++spin) {
            pause();
            state = slot.state.load();
        }
        for (; state != kIdle; state = slot.state.load()) slot.state.wait(state);
        return slot.failure;
    }

    static void assign(Slot& slot, const std::function<void(std::size_t, std::size_t)>& work,
                       std::size_t begin, std::size_t end) {
        slot.work = &work;
        slot.begin = begin;
        slot.end = end;
        slot.failure = nullptr;
        slot.state.store(kAssigned);
        slot.state.notify_all();
    }

    void start_background(std::function<void()> work) {
        background = [job = std::move(work)](std::size_t, std::size_t) { job(); };
        background_pending = true;
        assign(*slots.back(), background, 0, 1);
    }

    void finish_background() {
        if (!background_pending) return;
        background_pending = false;
        std::exception_ptr failure = settle(*slots.back());
        background = nullptr;
        if (failure) std::rethrow_exception(failure);
    }

    void run(std::size_t count, std::size_t parts,
             const std::function<void(std::size_t, std::size_t)>& work) {
        // A background job keeps the last worker.
        parts = std::min(parts, slots.size() - (background_pending ? 1 : 0) + 1);
        if (parts <= 1) {
            work(0, count);
            return;
        }
        for (std::size_t part = 1; part < parts; ++part) {
            assign(*slots[part - 1], work, count * part / parts, count * (part + 1) / parts);
        }
        std::exception_ptr failure;
        try {
            work(0, count / parts);
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::size_t part = 1; part < parts; ++part) {
            // A range its worker has not started yet is run here.
            std::exception_ptr slot_failure = settle(*slots[part - 1]);
            if (!failure) failure = slot_failure;
        }
        if (failure) std::rethrow_exception(failure);
    }
};

// Made when a job first needs more than one thread, with the thread count
// in force then.
Pool& pool() {
    static Pool instance(std::max(1u, engine_settings().threads));
    return instance;
}

}  // namespace

unsigned pool_threads() {
    const unsigned wanted = std::max(1u, engine_settings().threads);
    if (made_pool == nullptr) return wanted;
    return std::min(wanted, unsigned(made_pool->slots.size() + 1));
}

void parallel_for(std::size_t count, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& work) {
    if (count == 0) return;
    std::size_t parts =
        std::min<std::size_t>(pool_threads(), count / std::max<std::size_t>(grain, 1));
    if (parts <= 1 || on_worker) {
        work(0, count);
        return;
    }
    pool().run(count, parts, work);
}

bool start_background(std::function<void()> work) {
    if (on_worker || pool_threads() < 2) return false;
    Pool& workers = pool();
    if (workers.slots.empty() || workers.background_pending) return false;
    workers.start_background(std::move(work));
    return true;
}

void finish_background() {
    if (!on_worker && made_pool != nullptr) made_pool->finish_background();
}
