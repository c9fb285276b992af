#include "control/job/JobCancel.h"

#include <atomic>

#include "platform/StopSignalFlag.h"

namespace spatialmux {

namespace {
std::atomic<bool> cancelRequested{false};
}  // namespace

void RequestJobCancel() {
    cancelRequested = true;
}

void ClearJobCancel() {
    cancelRequested = false;
}

bool JobCancelRequested() {
    // A stop signal of the command line is a cancel request too; its handler
    // can only set a flag, which is read here.
    return cancelRequested.load() || platform::StopSignalFlag::Received() != 0;
}

}  // namespace spatialmux
