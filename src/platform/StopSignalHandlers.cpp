#include "platform/StopSignalHandlers.h"

namespace spatialmux::platform {

namespace {
constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};
}  // namespace

StopSignalHandlers::StopSignalHandlers(Handler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        sigaction(kStopSignals[i], nullptr, &previous[i]);
        installed[i] = previous[i].sa_handler != SIG_IGN;
        if (installed[i]) sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignalHandlers::~StopSignalHandlers() {
    for (int i = 0; i < 3; ++i) {
        if (installed[i]) sigaction(kStopSignals[i], &previous[i], nullptr);
    }
}

const char* StopSignalHandlers::Name(int signal) {
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
