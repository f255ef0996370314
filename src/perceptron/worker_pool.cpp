// Worker threads started once, on first use. Each worker owns one slot: the
// caller writes a range into it and raises the slot's ticket; the worker runs
// the range and echoes the ticket back. A worker only reads its slot after a
// new ticket, and the caller only rewrites it after the echo, so jobs never
// overlap. A job costs a wake-up and a join, microseconds, which lets
// training split single decisions once they are long enough.
#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "engine_settings.h"

namespace {

struct Slot {
    const std::function<void(std::size_t, std::size_t)>* work = nullptr;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::exception_ptr failure;
    std::atomic<unsigned long> ticket{0};
    std::atomic<unsigned long> done{0};
};

struct Pool {
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<std::thread> workers;
    std::atomic<bool> stopping{false};
    unsigned long tickets = 0;

    explicit Pool(unsigned threads) {
        for (unsigned i = 1; i < threads; ++i) slots.push_back(std::make_unique<Slot>());
        for (auto& slot : slots) workers.emplace_back([this, s = slot.get()] { serve(*s); });
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        stopping.store(true);
        for (auto& slot : slots) {
            slot->ticket.fetch_add(1);
            slot->ticket.notify_one();
        }
        for (std::thread& worker : workers) worker.join();
    }

    void serve(Slot& slot) {
        unsigned long seen = 0;
        for (;;) {
            // Jobs often come back to back: spin briefly before sleeping.
            for (int spin = 0; spin < 4000 && slot.ticket.load() == seen; ++spin) {
                std::this_thread::yield();
            }
            slot.ticket.wait(seen);
            seen = slot.ticket.load();
            if (stopping.load()) return;
            try {
                (*slot.work)(slot.begin, slot.end);
            } catch (...) {
                slot.failure = std::current_exception();
            }
            slot.done.store(seen);
        }
    }

    void run(std::size_t count, std::size_t parts,
             const std::function<void(std::size_t, std::size_t)>& work) {
        const unsigned long ticket = ++tickets;
        for (std::size_t part = 1; part < parts; ++part) {
            Slot& slot = *slots[part - 1];
            slot.work = &work;
            slot.begin = count * part / parts;
            slot.end = count * (part + 1) / parts;
            slot.failure = nullptr;
            slot.ticket.store(ticket);
            slot.ticket.notify_one();
        }
        std::exception_ptr failure;
        try {
            work(0, count / parts);
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::size_t part = 1; part < parts; ++part) {
            Slot& slot = *slots[part - 1];
            while (slot.done.load() != ticket) std::this_thread::yield();
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
