// Signals routed into the library's cancel flag: the handler only sets
// atomics and sends SIGTERM to the children, all safe in a handler; the
// unwinding and the final raise happen on the program's own path.
#include "interrupt.h"

#include <signal.h>
#include <array>
#include <atomic>

namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

programma::CancelFlag cancelled{false};
std::atomic<int> caught{0};
std::array<std::atomic<pid_t>, 8> children{};  // 0 for a free slot

void on_signal(int number) {
    int none = 0;
    caught.compare_exchange_strong(none, number);
    cancelled.store(true);
    for (const std::atomic<pid_t>& child : children) {
        const pid_t pid = child.load();
        if (pid > 0) ::kill(pid, SIGTERM);
    }
}

}  // namespace

void catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    // No SA_RESTART: a read that waits (standard input, a child's pipe)
    // returns, so that the run can stop.
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) sigaddset(&action.sa_mask, number);
    for (const int number : kSignals) {
        struct sigaction old {};
        if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) ::sigaction(number, &action, nullptr);
    }
}

const programma::CancelFlag* cancel_flag() { return &cancelled; }

bool interrupted() { return caught.load() != 0; }

void stop_if_interrupted() {
    if (interrupted()) throw Interrupted();
}

void raise_caught_signal() {
    const int number = caught.load();
    if (number == 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(number, &action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, number);
    ::pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
    ::raise(number);
}

void watch_child(pid_t pid) {
    for (std::atomic<pid_t>& child : children) {
        pid_t free = 0;
        if (child.compare_exchange_strong(free, pid)) break;
    }
    // A signal that came before the child was watched has ended no child.
    if (interrupted()) ::kill(pid, SIGTERM);
}

void forget_child(pid_t pid) {
    for (std::atomic<pid_t>& child : children) {
        pid_t watched = pid;
        if (child.compare_exchange_strong(watched, 0)) break;
    }
}
