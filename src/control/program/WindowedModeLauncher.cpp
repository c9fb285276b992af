// The windowed mode of the program, started from the command-line program.
// The windowed application lives in its own program beside this one
// (spatialmux-droplet), so that a command-line conversion never loads the
// user-interface libraries.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "control/WindowedMode.h"
#include "platform/ExecutablePath.h"

namespace spatialmux {

int RunWindowedApplication(int argc, char** argv) {
    const std::optional<std::string> beside =
        platform::ProgramBeside(argc > 0 ? argv[0] : nullptr, kWindowedProgramName);
    const std::string windowed = beside.value_or(kWindowedProgramName);

    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(kWindowedModeArgv0));
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    int cause = ENOENT;
    if (beside) {
        execv(windowed.c_str(), arguments.data());
        cause = errno;
    }

    std::fprintf(stderr,
                 "spatialmux: the windowed mode could not be started (%s: %s).\n"
                 "To convert from a terminal: spatialmux INPUT OUTPUT\n",
                 windowed.c_str(), std::strerror(cause));
    return 2;
}

}  // namespace spatialmux
