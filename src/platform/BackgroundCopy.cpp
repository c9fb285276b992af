#include "platform/BackgroundCopy.h"

#include <chrono>

namespace spatialmux::platform {

namespace {

constexpr std::chrono::milliseconds kTickInterval{50};

}  // namespace

BackgroundCopy::BackgroundCopy(int inFd, int outFd, uint64_t length)
    : worker_([this, inFd, outFd, length] { Run(inFd, outFd, length); }) {}

BackgroundCopy::~BackgroundCopy() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (worker_.joinable()) worker_.join();
}

void BackgroundCopy::Run(int inFd, int outFd, uint64_t length) {
    std::string error;
    const CopyMethod method = CopyFileRange(
        inFd, outFd, length,
        [this](uint64_t copied) {
            std::lock_guard<std::mutex> lock(mutex_);
            copied_ = copied;
            changed_.notify_all();
            return !stop_;
        },
        &error);
    std::lock_guard<std::mutex> lock(mutex_);
    method_ = method;
    error_ = std::move(error);
    ended_ = true;
    changed_.notify_all();
}

bool BackgroundCopy::WaitForCopied(uint64_t end, const Tick& tick) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A failed or stopped copy may have reported bytes it then lost
        // (a fallback starts again from the start): only a finished one
        // vouches for them.
        if (ended_) {
            return (method_ == CopyMethod::Clone || method_ == CopyMethod::KernelCopy ||
                    method_ == CopyMethod::ReadWrite);
        }
        if (copied_ >= end) return true;
        if (changed_.wait_for(lock, kTickInterval) == std::cv_status::timeout) {
            lock.unlock();
            const bool goOn = !tick || tick();
            lock.lock();
            if (!goOn) {
                stop_ = true;
                return false;
            }
        }
    }
}

uint64_t BackgroundCopy::Copied() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return copied_;
}

CopyMethod BackgroundCopy::Finish(const Tick& tick, std::string* error) {
    WaitForCopied(UINT64_MAX, tick);
    if (worker_.joinable()) worker_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ended_) return CopyMethod::Cancelled;
    if (error != nullptr) *error = error_;
    return method_;
}

}  // namespace spatialmux::platform
