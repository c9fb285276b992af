#pragma once
// Child processes that a supervising process starts, watches and stops: the
// batch conversion runs each movie as a copy of the program in a process of
// its own and reads what it reports through pipes.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace spatialmux::platform {

// The descriptor number under which a child finds its report pipe.
inline constexpr int kChildReportFd = 3;

struct ChildProcess {
    pid_t pid = -1;
    // Read ends, both non-blocking: what the child writes to descriptor
    // kChildReportFd, and its standard output and error together.
    UniqueFd report;
    UniqueFd output;
};

// Starts `program` with `arguments` (argv[1] on): standard input from
// /dev/null, standard output and error into ChildProcess::output, the report
// pipe as descriptor kChildReportFd, SIGPIPE at its default. The
// child gets a process group of its own, so that a Ctrl-C on the terminal
// reaches only the parent, which forwards it exactly once. Nothing when the
// child could not be started (`error` says why).
std::optional<ChildProcess> SpawnChild(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       std::string* error);

// Appends what `fd` holds now to `into` without waiting. False once the
// writing side has closed it (or it failed): nothing more will come.
bool ReadAvailable(int fd, std::string& into);

// Waits until one of `fds` can be read (or has been closed) or `timeoutMs`
// have passed; a signal ends the wait early. Negative entries are ignored.
void WaitUntilReadable(const std::vector<int>& fds, int timeoutMs);

struct ChildEnd {
    int exitStatus = -1;  // the status it exited with, -1 when a signal ended it
    int signal = 0;       // the signal that ended it, 0 when it exited
};

// Waits for the child to end and collects its end.
ChildEnd WaitForChild(pid_t pid);

// Sends `signal` to the child (nothing when it has already been collected).
void SignalChild(pid_t pid, int signal);

// Called in a child: asks the system to send `signal` to this process when
// the process that started it ends, so that a supervisor killed outright
// does not leave its children working for nobody.
void EndWithParent(int signal);

}  // namespace spatialmux::platform
