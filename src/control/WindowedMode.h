#pragma once
// The windowed application, run by the entry for none or one argument.

namespace spatialmux {

// The command-line program, which the windowed queue (spatialmux-gui) runs
// from its own folder for every check and conversion.
inline constexpr const char* kCommandLineProgramName = "spatialmux";
// The program that holds the windowed application, installed beside the
// command-line program; it also serves the desktop entry.
inline constexpr const char* kWindowedProgramName = "spatialmux-droplet";
// The name under which the command-line program starts it: the windowed
// program then takes the command line's own none or one argument, instead of
// taking every argument as a dropped file.
inline constexpr const char* kWindowedModeArgv0 = "spatialmux-windowed";

// Runs the windowed droplet with the unchanged argument count and vector and
// returns the process's exit status.
int RunWindowedApplication(int argc, char** argv);

}  // namespace spatialmux
