#pragma once
// One run of the command-line program `spatialmux` as a child of the
// window, on the event loop: its standard output and error line by line,
// its end, and the signals that stop it. The child gets a process group of
// its own, so that a Ctrl-C on the terminal reaches only the window, which
// stops its children itself.

#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QProcess>

namespace spatialmux {

struct ProgramEnd {
    bool started = true;    // false: the program could not be started
    int exitStatus = -1;    // -1 when it did not exit by itself
    bool crashed = false;   // ended by a signal
    std::string output;     // all of its standard output
    std::string errorTail;  // the last lines of its standard error
    std::string problem;    // why it could not be started
};

// The last line of `text` that holds more than blanks and is not FFmpeg's log
// ("" for none).
std::string LastTextLine(const std::string& text);

// A line FFmpeg's log writes ("[mov,mp4,... @ 0x...] moov atom not found"):
// kept on standard error for people, never taken for the program's own
// words (LastTextLine passes over it).
bool IsEngineLogLine(const std::string& line);

class ProgramRun : public QObject {
public:
    using LineReceiver = std::function<void(const std::string& line)>;
    using EndReceiver = std::function<void(const ProgramEnd& end)>;

    explicit ProgramRun(QObject* parent = nullptr);
    ~ProgramRun() override;

    // Each whole line of standard error, as it comes.
    void OnErrorLine(LineReceiver receiver) { errorLine = std::move(receiver); }
    // Once, when the program has ended (or could not start).
    void OnEnd(EndReceiver receiver) { end = std::move(receiver); }

    void Start(const std::string& program, const std::vector<std::string>& arguments);
    bool Running() const;
    // Sends `signal` (SIGTERM, SIGINT, SIGKILL) to the program.
    void Signal(int signal);

private:
    void ReadErrors();
    void Ended(bool started, const std::string& problem);

    QProcess process;
    LineReceiver errorLine;
    EndReceiver end;
    std::string output;
    std::string pendingError;
    std::string errorTail;
    bool ended = false;
};

}  // namespace spatialmux
