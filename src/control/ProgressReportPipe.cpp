#include "control/ProgressReportPipe.h"

#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>

#include "platform/ChildProcess.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

ProgressReportPipe::ProgressReportPipe(int reportFd) : fd(reportFd) {
    if (fd < 0) return;
    // A batch that has gone away must not kill the conversion halfway with
    // SIGPIPE: it would leave its temporary files behind.
    std::signal(SIGPIPE, SIG_IGN);
    // Only a batch reads the report: when the batch is killed outright, its
    // conversions stop as if it had forwarded a SIGTERM.
    platform::EndWithParent(SIGTERM);
    subscription = platform::NotificationCenter::Default().AddObserver(
        platform::kProgressUpdateNotification,
        [this](const platform::Notification& n) { Report(n.number); });
}

ProgressReportPipe::~ProgressReportPipe() = default;

void ProgressReportPipe::Report(float percent) {
    if (!std::isfinite(percent)) return;
    const int tenths = static_cast<int>(percent * 10.0f);
    if (tenths == lastTenths) return;
    lastTenths = tenths;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%.1f\n", static_cast<double>(percent));
    // A line this short is written whole into a pipe or not at all; a lost
    // line only makes the batch's figure lag.
    if (length <= 0) return;
    [[maybe_unused]] const ssize_t written = write(fd, line, static_cast<std::size_t>(length));
}

}  // namespace spatialmux
