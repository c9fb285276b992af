#pragma once
// The stop signals (SIGINT, SIGTERM, SIGHUP) handed to one handler while an
// object of this class lives, and given back to what they had before when it
// goes. A signal the process was started with ignored (SIGHUP under nohup,
// SIGINT in a shell's background job) stays ignored.

#include <csignal>

namespace spatialmux::platform {

class StopSignalHandlers {
public:
    using Handler = void (*)(int);
    explicit StopSignalHandlers(Handler handler);
    ~StopSignalHandlers();
    StopSignalHandlers(const StopSignalHandlers&) = delete;
    StopSignalHandlers& operator=(const StopSignalHandlers&) = delete;

    // The English name of a stop signal ("SIGINT"), "a signal" for others.
    static const char* Name(int signal);

private:
    struct sigaction previous[3] = {};
    bool installed[3] = {false, false, false};
};

}  // namespace spatialmux::platform
