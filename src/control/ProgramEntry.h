#pragma once
// The program's entry: decides from the arguments between the command-line
// conversion and the windowed application.

namespace spatialmux {

using WindowedRunner = int (*)(int argc, char** argv);

// The program beside this one that runs spatialmux --binaural (the
// headphone render), started in the command line's place with its
// arguments unchanged.
inline constexpr const char* kRenderProgramName = "spatialmux-render";

// Exit status: 0 converted (or help/version shown), 1 refused or failed,
// 2 wrong command line. `windowed` runs the windowed application.
int ProgramEntry(int argc, char** argv, WindowedRunner windowed);

}  // namespace spatialmux
