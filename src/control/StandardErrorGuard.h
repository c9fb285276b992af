#pragma once
// Standard error held for the progress protocol (--progress=machine): while
// a guard lives, whatever the process writes to descriptor 2 (its alerts,
// a library's message, a name with a line break in it) reaches the real
// standard error only through the guard, line by line, as ForPeople makes
// it: no such line can be taken for a protocol line. The protocol's own
// lines go past it with WriteLine. Stop puts descriptor 2 back once all
// that was written to it before has been passed on, so the line written
// after Stop (the end line) is the last.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace spatialmux {

class StandardErrorGuard {
public:
    // Puts a pipe in place of descriptor 2 and a thread that passes on what
    // comes through it. When that cannot be done, lines written to
    // standard error go out as they are (Holding() is false).
    StandardErrorGuard();
    ~StandardErrorGuard();
    StandardErrorGuard(const StandardErrorGuard&) = delete;
    StandardErrorGuard& operator=(const StandardErrorGuard&) = delete;

    bool Holding() const { return readFd >= 0; }
    // Writes `line` and a newline to the real standard error as one write.
    void WriteLine(const std::string& line);
    // Passes on what is still held and puts descriptor 2 back.
    void Stop();

    // A line of text for people: its control characters escaped
    // (platform::ControlsEscaped), and "> " in front when it would start
    // with the protocol's word.
    static std::string ForPeople(std::string_view line);

private:
    void Pass();
    void WriteAll(const std::string& bytes);

    int realFd = -1;  // the real standard error while held
    int readFd = -1;  // the pipe's end the thread reads
    std::atomic<bool> stopping{false};
    std::mutex writing;
    std::thread passer;
};

}  // namespace spatialmux
