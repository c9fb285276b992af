// The windowed mode of the program, started from the command-line program.
// The windowed application lives in its own program beside this one
// (spatialmux-droplet), so that a command-line conversion never loads the
// user-interface libraries.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "control/WindowedMode.h"

namespace spatialmux {

int RunWindowedApplication(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string windowed = (self.parent_path() / kWindowedProgramName).string();

    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(kWindowedModeArgv0));
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    if (!error) execv(windowed.c_str(), arguments.data());

    std::fprintf(stderr,
                 "spatialmux: the windowed mode could not be started (%s: %s).\n"
                 "To convert from a terminal: spatialmux INPUT OUTPUT\n",
                 windowed.c_str(), std::strerror(error ? error.value() : errno));
    return 2;
}

}  // namespace spatialmux
