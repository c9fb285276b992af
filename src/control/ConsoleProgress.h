#pragma once
// The command line's progress line: observes ProgressUpdate_Notification and
// redraws one line on standard error while it is a terminal.

#include <cstdio>
#include <string>

#include "platform/NotificationCenter.h"

namespace spatialmux {

class ConsoleProgress {
public:
    // Draws only when `stream` is a terminal (or `force` is set).
    ConsoleProgress(std::string inputPath, std::string outputPath, std::FILE* stream,
                    bool force = false);
    ~ConsoleProgress();
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    // The line for `percent`, without the carriage return.
    static std::string Line(float percent, const std::string& input, const std::string& output);

private:
    void Draw(float percent);

    std::string input;
    std::string output;
    std::FILE* stream;
    platform::Subscription subscription;
    int lastTenths = -1;
    bool drawn = false;
};

}  // namespace spatialmux
