#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace spatialmux::platform {

namespace {

std::atomic<int> signalWriteFd{-1};

extern "C" void OnStopSignal(int signal) {
    const int savedErrno = errno;
    const int fd = signalWriteFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        // A full pipe already holds enough to wake the loop.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

StopSignalWatch::StopSignalWatch() {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd.Reset(fds[0]);
    signalWriteFd = fds[1];
    handlers.emplace(&OnStopSignal);
}

StopSignalWatch::~StopSignalWatch() {
    if (!readEnd.Valid()) return;
    handlers.reset();
    const int writeFd = signalWriteFd.exchange(-1);
    if (writeFd >= 0) close(writeFd);
}

std::vector<int> StopSignalWatch::TakeReceived() {
    std::vector<int> received;
    if (!readEnd.Valid()) return received;
    unsigned char bytes[16];
    for (;;) {
        const ssize_t got = read(readEnd.Get(), bytes, sizeof bytes);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) received.push_back(bytes[i]);
    }
    return received;
}

}  // namespace spatialmux::platform
