// Worker threads started once, on first use, each on a small stack. Each
// worker owns one slot that the caller fills with a range and marks assigned.
// Whoever claims an assigned slot first runs it: normally its worker, but the
// caller takes back any slot whose worker has not started by the time the
// caller's own range is done. So a worker that the system has not scheduled
// (a busy machine) never holds up a job. Between jobs a worker waits busily
// for about a millisecond before it sleeps: jobs come in bursts (a training
// tile after a row's decisions, a load's parse after its count), and waking
// a sleeping thread can cost as much as a small job. When the process may
// run on at least as many processors as the pool has threads, each worker is
// bound to a processor of its own, leaving the first one to the caller: left
// to itself the scheduler now and then runs two of them on one processor.
// The caller's own binding is touched only where the settings ask for it
// (bind_caller): otherwise a process the caller starts later gets the mask
// it had.
#include "worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <vector>

#include "engine_settings.h"

namespace {

enum SlotState : int { kIdle = 0, kAssigned = 1, kRunning = 2, kStopping = 3 };

constexpr int kSpins = 50000;
// Workers run the batch kernels and the loader's line loops, which keep
// their buffers on the heap.
constexpr std::size_t kWorkerStack = std::size_t(256) << 10;

// Set on the pool's threads, and on a caller while it runs its share of a
// job: a job started from inside a job runs inline.
thread_local bool inside_job = false;

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

    // Waits while the state is `from`, busily at first.
    int wait_while(int from) {
        int now = state.load();
        for (int spin = 0; spin < kSpins && now == from; ++spin) {
            __builtin_ia32_pause();
            now = state.load();
        }
        for (; now == from; now = state.load()) state.wait(from);
        return now;
    }
};

void* serve(void* argument) {
    Slot& slot = *static_cast<Slot*>(argument);
    inside_job = true;
    for (;;) {
        const int state = slot.wait_while(kIdle);
        if (state == kStopping) return nullptr;
        if (state == kAssigned) {
            slot.claim_and_run();
        } else {
            slot.wait_while(kRunning);  // the caller took the range back
        }
    }
}

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

struct Pool {
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<pthread_t> workers;

    explicit Pool(unsigned threads) {
        const std::vector<int> cpus = allowed_cpus();
        const bool pin = cpus.size() >= threads && threads > 1;
        if (pin && engine_settings().bind_caller) pin_to(pthread_self(), cpus[0]);
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, kWorkerStack);
        for (unsigned i = 1; i < threads; ++i) {
            auto slot = std::make_unique<Slot>();
            pthread_t worker;
            // The system may grant fewer threads: work with those there are.
            if (pthread_create(&worker, &attributes, serve, slot.get()) != 0) break;
            if (pin) pin_to(worker, cpus[i]);
            workers.push_back(worker);
            slots.push_back(std::move(slot));
        }
        pthread_attr_destroy(&attributes);
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        for (auto& slot : slots) {
            slot->state.store(kStopping);
            slot->state.notify_all();
        }
        for (pthread_t worker : workers) pthread_join(worker, nullptr);
    }

    static void assign(Slot& slot, const std::function<void(std::size_t, std::size_t)>& work, std::size_t begin,
                       std::size_t end) {
        slot.work = &work;
        slot.begin = begin;
        slot.end = end;
        slot.failure = nullptr;
        slot.state.store(kAssigned);
        slot.state.notify_all();
    }

    // Runs the slot's range here if its worker has not started it, then
    // waits until it is done; returns its failure, if any.
    static std::exception_ptr settle(Slot& slot) {
        slot.claim_and_run();
        for (int state = slot.state.load(); state != kIdle; state = slot.state.load()) {
            slot.wait_while(state);
        }
        return slot.failure;
    }

    void run(std::size_t count, std::size_t parts, const std::function<void(std::size_t, std::size_t)>& work) {
        parts = std::min(parts, slots.size() + 1);
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
            std::exception_ptr slot_failure = settle(*slots[part - 1]);
            if (!failure) failure = slot_failure;
        }
        if (failure) std::rethrow_exception(failure);
    }
};

Pool* made_pool = nullptr;

// The threads a pool may start: as many as wanted, but under an
// address-space limit (ulimit -v) no more than an eighth of it in stacks, so
// that the work itself keeps the room the reference would need.
unsigned threads_within_limit(unsigned wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
    const rlim_t stacks = limit.rlim_cur / 8 / (kWorkerStack + (std::size_t(64) << 10));
    return unsigned(std::min<rlim_t>(wanted, 1 + stacks));
}

// Made when a job first needs more than one thread, with the thread count
// in force then.
Pool& pool() {
    static Pool instance(threads_within_limit(std::max(1u, engine_settings().threads)));
    made_pool = &instance;
    return instance;
}

}  // namespace

unsigned pool_threads() {
    const unsigned wanted = std::max(1u, engine_settings().threads);
    if (made_pool == nullptr) return wanted;
    return std::min(wanted, unsigned(made_pool->slots.size() + 1));
}

void parallel_for(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& work) {
    if (count == 0) return;
    const std::size_t parts = std::min<std::size_t>(pool_threads(), count / std::max<std::size_t>(grain, 1));
    if (parts <= 1 || inside_job) {
        work(0, count);
        return;
    }
    inside_job = true;
    try {
        pool().run(count, parts, work);
    } catch (...) {
        inside_job = false;
        throw;
    }
    inside_job = false;
}
