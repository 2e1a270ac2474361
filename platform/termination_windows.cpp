#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/termination.h"

namespace toval {

namespace {

std::atomic<int> Received{0};

// The console's events, under the numbers of the signals they stand for, so that the exit
// status (128 + N) reads the same on both systems.
BOOL WINAPI Record(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            signal = SIGINT;
            break;
        case CTRL_CLOSE_EVENT:
            signal = 1;  // SIGHUP: the console went away
            break;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signal = SIGTERM;
            break;
        default:
            return FALSE;
    }
    int none = 0;
    Received.compare_exchange_strong(none, signal);
    return TRUE;
}

}  // namespace

void WatchTerminationSignals() { ::SetConsoleCtrlHandler(Record, TRUE); }

int TerminationSignal() { return Received.load(); }

}  // namespace toval
