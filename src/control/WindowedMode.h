#pragma once
// The windowed application, run by the entry for none or one argument.

namespace spatialmux {

// Runs the windowed droplet with the unchanged argument count and vector and
// returns the process's exit status.
int RunWindowedApplication(int argc, char** argv);

}  // namespace spatialmux
