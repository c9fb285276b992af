#include "platform/StopSignalFlag.h"

#include <atomic>
#include <csignal>

namespace spatialmux::platform {

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};
// Lock-free, so that storing from the handler is async-signal-safe.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction previous[3] = {};
bool installed[3] = {false, false, false};

extern "C" void SetStopSignalFlag(int signal) {
    int expected = 0;
    received.compare_exchange_strong(expected, signal);
}

}  // namespace

StopSignalFlag::StopSignalFlag() {
    struct sigaction action {};
    action.sa_handler = SetStopSignalFlag;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        sigaction(kStopSignals[i], nullptr, &previous[i]);
        installed[i] = previous[i].sa_handler != SIG_IGN;
        if (installed[i]) sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignalFlag::~StopSignalFlag() {
    for (int i = 0; i < 3; ++i) {
        if (installed[i]) sigaction(kStopSignals[i], &previous[i], nullptr);
        installed[i] = false;
    }
}

int StopSignalFlag::Received() {
    return received.load();
}

const char* StopSignalFlag::Name(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

}  // namespace spatialmux::platform
