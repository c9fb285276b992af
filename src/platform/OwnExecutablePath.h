#pragma once
// Where the running program's own executable file is, so that it can start
// copies of itself (a batch conversion runs each movie in a process of its
// own).

#include <string>

namespace spatialmux::platform {

// The absolute path of the running executable; `argv0` is the fallback when
// the system cannot tell (a name with a slash is taken as it is, a bare name
// is looked up in PATH). Empty when neither finds it.
std::string OwnExecutablePath(const char* argv0);

}  // namespace spatialmux::platform
