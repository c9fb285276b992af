// Standard error passed on line by line while the progress protocol runs.
#include "control/StandardErrorGuard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "control/ProgressProtocol.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// How long the thread waits for more once Stop asked it to end: what was
// written before Stop is in the pipe already, so an empty wait means all
// of it was passed on (a copy of the pipe's end held elsewhere never keeps
// it waiting longer).
constexpr int kLastWaitMilliseconds = 50;

}  // namespace

StandardErrorGuard::StandardErrorGuard() {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    std::fflush(stderr);
    realFd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (realFd < 0 || dup2(ends[1], STDERR_FILENO) < 0) {
        if (realFd >= 0) close(realFd);
        realFd = -1;
        close(ends[0]);
        close(ends[1]);
        return;
    }
    close(ends[1]);
    readFd = ends[0];
    passer = std::thread([this] { Pass(); });
}

StandardErrorGuard::~StandardErrorGuard() {
    Stop();
    if (realFd >= 0) close(realFd);
}

void StandardErrorGuard::Stop() {
    if (readFd < 0) return;
    std::fflush(stderr);
    // The pipe's write end at descriptor 2 closes here.
    dup2(realFd, STDERR_FILENO);
    stopping = true;
    passer.join();
    close(readFd);
    readFd = -1;
}

void StandardErrorGuard::WriteLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(writing);
    WriteAll(line + "\n");
}

void StandardErrorGuard::WriteAll(const std::string& bytes) {
    // No stdio here: the thread that passes lines on must never wait for
    // stderr's lock, which a writer blocked on a full pipe may hold.
    const int fd = realFd >= 0 ? realFd : STDERR_FILENO;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a reader that went away
        done += static_cast<std::size_t>(n);
    }
}

void StandardErrorGuard::Pass() {
    std::string pending;
    char buffer[4096];
    const auto passOn = [this](std::string_view line) {
        std::lock_guard<std::mutex> lock(writing);
        WriteAll(ForPeople(line) + "\n");
    };
    for (;;) {
        pollfd wait{readFd, POLLIN, 0};
        const int ready = poll(&wait, 1, stopping ? kLastWaitMilliseconds : 200);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) {
            if (stopping) break;
            continue;
        }
        const ssize_t n = read(readFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // every write end closed
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            passOn(std::string_view(pending).substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty()) passOn(pending);
}

std::string StandardErrorGuard::ForPeople(std::string_view line) {
    std::string shown = platform::ControlsEscaped(line);
    const std::string_view word = progress_protocol::kLinePrefix;
    if (shown.compare(0, word.size(), word) == 0) shown.insert(0, "> ");
    return shown;
}

}  // namespace spatialmux
