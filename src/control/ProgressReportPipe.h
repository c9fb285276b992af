#pragma once
// The progress of a conversion that a batch runs as a child process: every
// ProgressUpdate_Notification becomes a line "percent\n" on a descriptor the
// batch reads, so that the batch can draw one line for all its conversions.

#include "platform/NotificationCenter.h"

namespace spatialmux {

class ProgressReportPipe {
public:
    // Reports on `fd` while it lives; a negative `fd` reports nothing. With
    // a report to give, the process also ends with its batch.
    explicit ProgressReportPipe(int fd);
    ~ProgressReportPipe();
    ProgressReportPipe(const ProgressReportPipe&) = delete;
    ProgressReportPipe& operator=(const ProgressReportPipe&) = delete;

private:
    void Report(float percent);

    int fd;
    platform::Subscription subscription;
    int lastTenths = -1;
};

}  // namespace spatialmux
