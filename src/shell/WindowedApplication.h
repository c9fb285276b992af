#pragma once
// The ways into the windowed application: the program's own (none or one
// argument, see control/WindowedMode.h) and the droplet launcher's, which
// hands every argument over as the files of one drop.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

// The file the program's own way in hands over: its one argument, made
// absolute, when it names a regular file; otherwise none (a launch without
// a file). `argv` holds the arguments left after Qt's own options.
std::optional<std::vector<std::string>> FileFromProgramArguments(int argc, char** argv);

// The files the launcher hands over: every argument, made absolute, even
// one that looks like an option; none when there is no argument.
std::optional<std::vector<std::string>> FilesFromDropletArguments(int argc, char** argv);

// Starts Qt for one of the windowed programs: without a display that can be
// reached it says so on standard error and returns 1; otherwise it makes the
// application (known to the desktop as `desktopName`, with Qt's own texts in
// the language of ours) and returns what `session` returns. `session` gets
// the arguments left after Qt's own options.
int RunQtProgram(int argc, char** argv, const char* desktopName,
                 const std::function<int(int argc, char** argv)>& session);

// Runs the windowed application with argv[1..argc-1] handed over together
// as the dropped files (none: the application quits with its "no file"
// alert). Returns the process's exit status.
int RunDroplet(int argc, char** argv);

}  // namespace spatialmux
