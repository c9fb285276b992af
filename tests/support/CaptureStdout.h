#pragma once
// Captures what the code under test prints on standard output: the process's
// file descriptor 1 goes to a temporary file between CaptureStdout and
// CapturedStdout, so that printf, puts and FFmpeg's writes are all caught.
// One capture at a time; not for output written by other threads meanwhile.

#include <unistd.h>

#include <cstdio>
#include <string>

namespace spatialmux::testing {

namespace capture_detail {
struct State {
    std::FILE* file = nullptr;
    int savedStdout = -1;
};
inline State& Current() {
    static State state;
    return state;
}
}  // namespace capture_detail

inline void CaptureStdout() {
    capture_detail::State& state = capture_detail::Current();
    if (state.file != nullptr) return;
    std::fflush(stdout);
    state.file = std::tmpfile();
    if (state.file == nullptr) return;
    state.savedStdout = dup(STDOUT_FILENO);
    dup2(fileno(state.file), STDOUT_FILENO);
}

// Ends the capture and returns what was printed since CaptureStdout.
inline std::string CapturedStdout() {
    capture_detail::State& state = capture_detail::Current();
    if (state.file == nullptr) return {};
    std::fflush(stdout);
    dup2(state.savedStdout, STDOUT_FILENO);
    close(state.savedStdout);
    std::string text;
    std::rewind(state.file);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, state.file)) > 0) text.append(buffer, got);
    std::fclose(state.file);
    state = capture_detail::State{};
    return text;
}

}  // namespace spatialmux::testing
