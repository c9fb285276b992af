// The windowed application's program. Started by the desktop entry, every
// file handed over (one or several, dropped or opened at once) reaches the
// droplet as one drop, never as a command line of input and output. Started
// by `spatialmux` for its windowed mode, it takes that program's none or one
// argument.
#include <cstring>

#include "control/WindowedMode.h"
#include "shell/WindowedApplication.h"

int main(int argc, char** argv) {
    if (argc > 0 && std::strcmp(argv[0], spatialmux::kWindowedModeArgv0) == 0) {
        return spatialmux::RunWindowedApplication(argc, argv);
    }
    return spatialmux::RunDroplet(argc, argv);
}
