#include "control/CommandEnd.h"

#include <csignal>
#include <cstdio>

#include "platform/LocalizedStrings.h"
#include "platform/StopSignalFlag.h"

namespace spatialmux {

std::string InterruptedText(int signal) {
    return platform::FillPlaceholder(platform::LocalizedString("interrupted"), "{signal}",
                                     platform::StopSignalFlag::Name(signal));
}

int Interrupted(int signal) {
    std::fprintf(stderr, "spatialmux: %s\n", InterruptedText(signal).c_str());
    std::fflush(stderr);
    return 128 + signal;
}

void KeepGoingOnFileLimitsAndClosedPipes() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace spatialmux
