#include "platform/StopSignalFlag.h"

#include <atomic>
#include <csignal>
#include <optional>

#include "platform/StopSignalHandlers.h"

namespace spatialmux::platform {

namespace {

// Lock-free, so that storing from the handler is async-signal-safe.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);
std::optional<StopSignalHandlers> handlers;

extern "C" void SetStopSignalFlag(int signal) {
    int expected = 0;
    received.compare_exchange_strong(expected, signal);
}

}  // namespace

StopSignalFlag::StopSignalFlag() {
    handlers.emplace(&SetStopSignalFlag);
}

StopSignalFlag::~StopSignalFlag() {
    handlers.reset();
}

int StopSignalFlag::Received() {
    return received.load();
}

const char* StopSignalFlag::Name(int signal) {
    return StopSignalHandlers::Name(signal);
}

}  // namespace spatialmux::platform
