// Worker threads started on first use, each on a small stack, and more of
// them when a call asks for more threads than there are. Each worker owns one
// slot that the caller fills with a range and marks assigned. Whoever claims
// an assigned slot first runs it: normally its worker, but the caller takes
// back any slot whose worker has not started by the time the caller's own
// range is done. So a worker that the system has not scheduled (a busy
// machine) never holds up a job. Between jobs a worker waits busily for about
// a millisecond before it sleeps: jobs come in bursts (a training tile after
// a row's decisions, a load's parse after its count), and waking a sleeping
// thread can cost as much as a small job. One job runs at a time: a caller
// from another thread waits for the pool.
//
// Binding is the call's to ask for (pin_workers): when the process may run on
// at least as many processors as the pool has threads, each worker is bound
// to a processor of its own, leaving the first one to the caller, since left
// to itself the scheduler now and then runs two of them on one processor; a
// later call that does not ask gives the workers back the mask the pool
// began with. The caller's own binding is touched only where the call asks
// for it too (bind_caller): otherwise a process the caller starts later gets
// the mask it had.
#include "worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
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
std::vector<int> cpus_in(const cpu_set_t& set) {
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    }
    return cpus;
}

// Binds a thread to one processor (on failure it stays as it was).
void pin_to(pthread_t thread, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(thread, sizeof set, &set);
}

// The threads a pool may have: as many as wanted, but under an
// address-space limit (ulimit -v) no more than an eighth of it in stacks, so
// that the work itself keeps the room the reference would need.
unsigned threads_within_limit(unsigned wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
    const rlim_t stacks = limit.rlim_cur / 8 / (kWorkerStack + (std::size_t(64) << 10));
    return unsigned(std::min<rlim_t>(wanted, 1 + stacks));
}

thread_local bool caller_bound = false;

class Pool {
public:
    Pool() {
        CPU_ZERO(&mask_);
        if (sched_getaffinity(0, sizeof mask_, &mask_) == 0) cpus_ = cpus_in(mask_);
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        for (auto& slot : slots_) {
            slot->state.store(kStopping);
            slot->state.notify_all();
        }
        for (pthread_t worker : workers_) pthread_join(worker, nullptr);
    }

    // The threads a call of `wanted` threads gets: the pool grows to them
    // where the system lets it.
    unsigned threads_for(unsigned wanted) {
        const std::lock_guard<std::mutex> lock(mutex_);
        grow(wanted);
        return std::min(wanted, threads());
    }

    void run(const EngineSettings& settings, std::size_t count, std::size_t parts,
             const std::function<void(std::size_t, std::size_t)>& work) {
        const std::lock_guard<std::mutex> lock(mutex_);
        grow(settings.threads);
        bind(settings);
        parts = std::min<std::size_t>(parts, threads());
        if (parts <= 1) {
            work(0, count);
            return;
        }
        for (std::size_t part = 1; part < parts; ++part) {
            assign(*slots_[part - 1], work, count * part / parts, count * (part + 1) / parts);
        }
        std::exception_ptr failure;
        try {
            work(0, count / parts);
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::size_t part = 1; part < parts; ++part) {
            std::exception_ptr slot_failure = settle(*slots_[part - 1]);
            if (!failure) failure = slot_failure;
        }
        if (failure) std::rethrow_exception(failure);
    }

private:
    unsigned threads() const { return unsigned(slots_.size() + 1); }
    bool pinnable() const { return cpus_.size() >= threads() && threads() > 1; }

    // Starts workers up to `wanted` threads in all; once the system or the
    // address space grants fewer, the pool stays as it is.
    void grow(unsigned wanted) {
        if (wanted <= threads() || full_) return;  // what every job of a steady count meets
        const unsigned granted = threads_within_limit(wanted);
        full_ = granted < wanted;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, kWorkerStack);
        // A new worker starts with the mask the pool began with, whatever
        // the thread that starts it is bound to.
        if (!cpus_.empty()) pthread_attr_setaffinity_np(&attributes, sizeof mask_, &mask_);
        while (threads() < granted) {
            auto slot = std::make_unique<Slot>();
            pthread_t worker;
            if (pthread_create(&worker, &attributes, serve, slot.get()) != 0) {
                full_ = true;  // work with those there are
                break;
            }
            workers_.push_back(worker);
            slots_.push_back(std::move(slot));
        }
        pthread_attr_destroy(&attributes);
        unpin();  // the next job binds them all afresh, if it asks to
    }

    void unpin() {
        if (!pinned_) return;
        for (pthread_t worker : workers_) pthread_setaffinity_np(worker, sizeof mask_, &mask_);
        pinned_ = false;
    }

    // Binds the workers (and the caller) as the call asks, or gives them back
    // the pool's first mask; only a change costs anything.
    void bind(const EngineSettings& settings) {
        const bool pin = settings.pin_workers && pinnable();
        if (pin && settings.bind_caller && !caller_bound) {
            pin_to(pthread_self(), cpus_[0]);
            caller_bound = true;
        }
        if (!pin) {
            unpin();
        } else if (!pinned_) {
            for (std::size_t i = 0; i < workers_.size(); ++i) pin_to(workers_[i], cpus_[i + 1]);
            pinned_ = true;
        }
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

    std::mutex mutex_;  // one job, or one growth, at a time
    cpu_set_t mask_;    // the process's processors when the pool was made
    std::vector<int> cpus_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<pthread_t> workers_;
    bool full_ = false;    // the system granted no more threads
    bool pinned_ = false;  // each worker bound to its processor
};

Pool& pool() {
    static Pool instance;
    return instance;
}

}  // namespace

unsigned pool_threads(const EngineSettings& settings) {
    const unsigned wanted = std::max(1u, settings.threads);
    return wanted == 1 ? 1 : pool().threads_for(wanted);
}

void parallel_for(const EngineSettings& settings, std::size_t count, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& work) {
    if (count == 0) return;
    const std::size_t parts =
        std::min<std::size_t>(std::max(1u, settings.threads), count / std::max<std::size_t>(grain, 1));
    if (parts <= 1 || inside_job) {
        work(0, count);
        return;
    }
    inside_job = true;
    try {
        pool().run(settings, count, parts, work);
    } catch (...) {
        inside_job = false;
        throw;
    }
    inside_job = false;
}
