#include "platform/termination.h"

#include <atomic>
#include <csignal>

namespace toval {

namespace {

std::atomic<int> Received{0};
static_assert(std::atomic<int>::is_always_lock_free, "touched from a signal handler");

void Record(int signal) {
    int none = 0;
    Received.compare_exchange_strong(none, signal);
}

}  // namespace

void WatchTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = Record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int TerminationSignal() { return Received.load(); }

}  // namespace toval
