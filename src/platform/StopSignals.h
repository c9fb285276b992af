#pragma once
// The stop signals (SIGINT from Ctrl-C, SIGTERM, SIGHUP) turned into bytes on
// a pipe, for a process that supervises others: it must not die at once but
// pass the signal on, wait for its children and say what was done. Its wait
// loop watches Fd() beside its children's pipes.

#include <csignal>
#include <optional>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/StopSignalHandlers.h"

namespace spatialmux::platform {

class StopSignalWatch {
public:
    // Catches the stop signals until destroyed (one watch at a time), except
    // those the process was started with ignored.
    StopSignalWatch();
    ~StopSignalWatch();
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

    // Becomes readable when a stop signal arrives.
    int Fd() const { return readEnd.Get(); }
    // The stop signals received since the last call, oldest first.
    std::vector<int> TakeReceived();

private:
    UniqueFd readEnd;
    std::optional<StopSignalHandlers> handlers;
};

}  // namespace spatialmux::platform
