#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace spatialmux::platform {

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};
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
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        // A signal ignored on purpose stays ignored: SIGHUP under nohup,
        // SIGINT in a job a shell started in the background.
        sigaction(kStopSignals[i], nullptr, &previous[i]);
        installed[i] = previous[i].sa_handler != SIG_IGN;
        if (installed[i]) sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignalWatch::~StopSignalWatch() {
    if (!readEnd.Valid()) return;
    for (int i = 0; i < 3; ++i) {
        if (installed[i]) sigaction(kStopSignals[i], &previous[i], nullptr);
    }
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
