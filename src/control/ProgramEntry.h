#pragma once
// The program's entry: decides from the arguments between the command-line
// conversion and the windowed application.

namespace spatialmux {

using WindowedRunner = int (*)(int argc, char** argv);

// Exit status: 0 converted (or help/version shown), 1 refused or failed,
// 2 wrong command line. `windowed` runs the windowed application.
int ProgramEntry(int argc, char** argv, WindowedRunner windowed);

}  // namespace spatialmux
