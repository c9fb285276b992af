#pragma once
// The back end of the command line: alerts are printed on standard error,
// work for the main thread runs at once on the calling thread (serialised),
// and a termination request is only recorded: the command-line entry ends
// the process itself when the job returns.

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/Backend.h"

namespace spatialmux::platform {

class ConsoleBackend : public Backend {
public:
    ConsoleBackend();

    void ShowAlert(const std::string& text) override;
    void PostToMainThread(std::function<void()> work) override;
    void RunOnMainThreadAndWait(std::function<void()> work) override;
    void DetachThread(std::function<void()> work) override;
    void RequestTermination() override;
    bool IsMainThread() const override;

    bool TerminationRequested() const { return terminationRequested.load(); }

private:
    std::recursive_mutex mainThreadWork;
    std::thread::id mainThread;
    std::atomic<bool> terminationRequested{false};
};

ConsoleBackend& DefaultConsoleBackend();

}  // namespace spatialmux::platform
