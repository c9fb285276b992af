#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace spatialmux::platform {

namespace {

// Descriptors of the parent's pipes stay above the ones the child is given
// (0 to 3), so that the child's dup2 never meets a descriptor that is its own
// target, and close on exec, so that one child never holds another's pipe
// open (its reader would never see the end).
constexpr int kLowestPipeFd = 10;

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    UniqueFd low[2] = {UniqueFd(fds[0]), UniqueFd(fds[1])};
    const int high0 = fcntl(fds[0], F_DUPFD_CLOEXEC, kLowestPipeFd);
    const int high1 = fcntl(fds[1], F_DUPFD_CLOEXEC, kLowestPipeFd);
    readEnd.Reset(high0);
    writeEnd.Reset(high1);
    if (!readEnd.Valid() || !writeEnd.Valid()) return false;
    const int flags = fcntl(readEnd.Get(), F_GETFL);
    return flags >= 0 && fcntl(readEnd.Get(), F_SETFL, flags | O_NONBLOCK) == 0;
}

// posix_spawn's attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::optional<ChildProcess> SpawnChild(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       std::string* error) {
    auto fail = [error](const char* what, int code) -> std::optional<ChildProcess> {
        if (error != nullptr) *error = std::string(what) + ": " + std::strerror(code);
        return std::nullopt;
    };

    ChildProcess child;
    UniqueFd reportWrite;
    UniqueFd outputWrite;
    if (!MakePipe(child.report, reportWrite) || !MakePipe(child.output, outputWrite)) {
        return fail("could not make a pipe", errno);
    }

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, outputWrite.Get(), 1);
    posix_spawn_file_actions_adddup2(&setup.actions, outputWrite.Get(), 2);
    posix_spawn_file_actions_adddup2(&setup.actions, reportWrite.Get(), kChildReportFd);

    // Caught signals are at their defaults in the child anyway; SIGPIPE, which
    // a supervisor ignores for itself, is too. Signals the user had ignored
    // (SIGHUP under nohup) stay ignored. None is blocked.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const int spawned = posix_spawn(&child.pid, program.c_str(), &setup.actions, &setup.attributes,
                                    argv.data(), environ);
    if (spawned != 0) return fail("could not start the conversion", spawned);
    // The write ends close here: the child holds the only copies, so the
    // parent sees the end of each pipe when the child ends.
    return child;
}

bool ReadAvailable(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

void WaitUntilReadable(const std::vector<int>& fds, int timeoutMs) {
    std::vector<pollfd> polled;
    for (int fd : fds) {
        if (fd >= 0) polled.push_back(pollfd{fd, POLLIN, 0});
    }
    // An interruption by a signal is one of the reasons to return.
    poll(polled.data(), polled.size(), timeoutMs);
}

ChildEnd WaitForChild(pid_t pid) {
    int status = 0;
    pid_t got = 0;
    do {
        got = waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    ChildEnd end;
    if (got != pid) return end;
    if (WIFEXITED(status)) end.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

void SignalChild(pid_t pid, int signal) {
    if (pid > 0) kill(pid, signal);
}

void EndWithParent(int signal) {
    prctl(PR_SET_PDEATHSIG, signal);
}

}  // namespace spatialmux::platform
