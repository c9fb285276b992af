#pragma once
// spatialmux --progress=machine: the progress of one conversion as the
// lines of ProgressProtocol.h on a stream (standard error), for a front end
// that runs the command-line program as a child and knows nothing else of
// it. The alerts the job shows are kept, so that the last line can carry
// the text the user would have read, and shown as ForPeople makes them: on
// the protocol's stream, only the protocol's own lines start with its word.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/NotificationCenter.h"

namespace spatialmux {

class MachineProgress {
public:
    // Writes the start line and reports every change of the progress or
    // the phase until End. Catches the alerts shown meanwhile. The process
    // ends (as on SIGTERM) when the program that started it ends.
    MachineProgress(const std::string& input, const std::string& output, std::FILE* stream);
    ~MachineProgress();
    MachineProgress(const MachineProgress&) = delete;
    MachineProgress& operator=(const MachineProgress&) = delete;

    // The last alert the job showed, or "".
    std::string LastAlert() const;
    // Writes the end line: `result` one of the protocol's results, `size`
    // for a converted output, `message` for the others. Nothing is
    // reported after it.
    void End(const char* result, const std::string& output, std::optional<uint64_t> size,
             const std::string& message);

    // One line of the protocol for `percent` and `phase` (for the tests).
    static std::string ProgressLine(float percent, const std::string& phase);
    // `text` (an alert, one line or more) for people on the protocol's
    // stream: each line's control characters escaped
    // (platform::ControlsEscaped), and "> " in front of a line that would
    // start with the protocol's word.
    static std::string ForPeople(const std::string& text);

private:
    class AlertKeeper;

    void Report(float percent);
    void Write(const std::string& line);

    std::FILE* stream;
    std::unique_ptr<AlertKeeper> alerts;
    platform::Subscription progress;
    platform::Subscription phases;
    std::string phase;
    float percent = 0.0f;
    int lastTenths = -1;
};

}  // namespace spatialmux
