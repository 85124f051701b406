#include "flash/flash_signals.h"

#include <csignal>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) {
    g_stopRequested = 1;
    // The next one takes its default action: the program ends at once.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal : kStopSignals) {
        sigaction(signal, &fallback, nullptr);
    }
}

} // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
}

bool StopRequested() {
    return g_stopRequested != 0;
}
