#include "control/job/FailureCause.h"

#include <cstdio>
#include <mutex>

namespace spatialmux {

namespace {

// A job runs on the main thread or on one worker; the end line is written
// after it.
std::mutex& CauseLock() {
    static std::mutex lock;
    return lock;
}

std::string& KeptCause() {
    static std::string cause;
    return cause;
}

}  // namespace

void SayFailure(const std::string& cause) {
    if (cause.empty()) {
        std::printf("error!!\n");
    } else {
        std::printf("error!! %s\n", cause.c_str());
    }
    std::fflush(stdout);
    KeepFailureCause(cause);
}

void KeepFailureCause(const std::string& cause) {
    const std::lock_guard<std::mutex> hold(CauseLock());
    KeptCause() = cause;
}

std::string LastFailureCause() {
    const std::lock_guard<std::mutex> hold(CauseLock());
    return KeptCause();
}

}  // namespace spatialmux
