// The windowed mode of the program, started from the command-line program.
// The windowed application lives in its own program beside this one
// (spatialmux-droplet), so that a command-line conversion never loads the
// user-interface libraries.
#include <cstdio>
#include <cstring>
#include <string>

#include "control/WindowedMode.h"
#include "platform/ExecutablePath.h"

namespace spatialmux {

int RunWindowedApplication(int argc, char** argv) {
    std::string windowed;
    const int cause = platform::RunProgramBesideInstead(argc, argv, kWindowedProgramName,
                                                        kWindowedModeArgv0, &windowed);
    std::fprintf(stderr,
                 "spatialmux: the windowed mode could not be started (%s: %s).\n"
                 "To convert from a terminal: spatialmux INPUT OUTPUT\n",
                 windowed.c_str(), std::strerror(cause));
    return 2;
}

}  // namespace spatialmux
