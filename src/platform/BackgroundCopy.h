#pragma once
// A CopyFileRange that runs on a thread of its own and tells how far it has
// come, so that the caller can rewrite what is already copied while the rest
// is still being copied: on a machine with two cores the edit's audio then
// costs next to nothing on top of the copy.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/FileCopy.h"

namespace spatialmux::platform {

class BackgroundCopy {
public:
    // Starts copying the first `length` bytes of `inFd` into `outFd` (see
    // CopyFileRange). Both descriptors must stay open until Finish returns
    // or the object goes.
    BackgroundCopy(int inFd, int outFd, uint64_t length);
    // Stops the copy at its next step and waits for the thread.
    ~BackgroundCopy();
    BackgroundCopy(const BackgroundCopy&) = delete;
    BackgroundCopy& operator=(const BackgroundCopy&) = delete;

    // Called about every 50 ms while waiting; false stops the copy.
    using Tick = std::function<bool()>;

    // Waits until the first `end` bytes are in place. False when the copy
    // ended short of them (failed or stopped) or `tick` asked to stop.
    bool WaitForCopied(uint64_t end, const Tick& tick);

    // The bytes in place so far (a clone reports all of them at once).
    uint64_t Copied() const;

    // Waits for the copy's end and tells how it went (`error` on failure).
    CopyMethod Finish(const Tick& tick, std::string* error);

private:
    void Run(int inFd, int outFd, uint64_t length);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t copied_ = 0;
    bool ended_ = false;
    bool stop_ = false;
    CopyMethod method_ = CopyMethod::Failed;
    std::string error_;
    std::thread worker_;
};

}  // namespace spatialmux::platform
