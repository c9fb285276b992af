#pragma once
// The reading side of `spatialmux --progress=machine` (the lines are
// described in ProgressProtocol.h), for every front end that runs the
// command-line program as a child (the batch, spatialmux-gui): what one line
// of the child's standard error says, if it is one of the protocol's lines.

#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux {

struct ProgressEvent {
    enum class Kind { Start, Progress, End };
    Kind kind = Kind::Progress;
    double percent = 0.0;          // Progress
    std::string phase;             // Progress
    std::string result;            // End: converted, refused, failed, stopped
    std::string output;            // Start, End
    std::optional<uint64_t> size;  // End, converted
    std::string message;           // End, not converted: the user's text
    std::string cause;             // End, not converted: the cause in English, or ""
};

// Nothing for a line that is not the protocol's (text for people, a line
// cut short, an event of a later protocol this reader does not know).
std::optional<ProgressEvent> ParseProgressLine(const std::string& line);

}  // namespace spatialmux
