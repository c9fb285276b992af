#pragma once
// Where the running program's file is, so that a program installed beside
// it can be found wherever the package was installed. Each system has its
// own way to ask; the fallback works from argv[0] and PATH alone.

#include <optional>
#include <string>

namespace spatialmux::platform {

// The absolute path of the running program's file; nothing when it cannot
// be told. `argv0` is the program's argv[0], used where the system has no
// way to ask.
std::optional<std::string> ExecutablePath(const char* argv0);

// The program `name` installed in the running program's folder; nothing when
// the running program's own path cannot be told.
std::optional<std::string> ProgramBeside(const char* argv0, const std::string& name);

// Runs the program `name` beside the running one in this process's place
// (the same process: its signals, descriptors and exit status are the new
// program's), with `shownName` as its argv[0] and argv[1] to argv[argc - 1]
// after it. Returns only when that failed: the errno value saying why, with
// `tried` the program it tried.
int RunProgramBesideInstead(int argc, char** argv, const std::string& name, const char* shownName,
                            std::string* tried);

// The fallback: `argv0` made absolute when it holds a slash (the shell ran
// it by path), otherwise the first executable regular file of that name in
// the colon-separated `searchPath`. Nothing when neither finds it.
std::optional<std::string> ExecutablePathFromArgv0(const char* argv0, const char* searchPath);

}  // namespace spatialmux::platform
