#pragma once
// A platform back end for tests: alerts are recorded and dismissed at once,
// main-thread work runs on the calling thread, termination requests are
// counted. Installed for the lifetime of the object.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Backend.h"

namespace spatialmux::testing {

class RecordingBackend : public platform::Backend {
public:
    RecordingBackend() : previous(&platform::CurrentBackend()) { platform::InstallBackend(this); }
    ~RecordingBackend() override { platform::InstallBackend(previous); }

    void ShowAlert(const std::string& text) override {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex);
            alerts.push_back(text);
            hook = onAlert;
        }
        if (hook) hook(text);
    }
    void PostToMainThread(std::function<void()> work) override {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        work();
    }
    void RunOnMainThreadAndWait(std::function<void()> work) override {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        work();
    }
    void DetachThread(std::function<void()> work) override {
        std::thread(std::move(work)).detach();
    }
    void RequestTermination() override { ++terminations; }
    bool IsMainThread() const override { return true; }

    std::vector<std::string> Alerts() {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return alerts;
    }

    std::atomic<int> terminations{0};
    // Called after an alert is recorded (e.g. to act while it is "shown").
    std::function<void(const std::string&)> onAlert;

private:
    platform::Backend* previous;
    std::recursive_mutex mutex;
    std::vector<std::string> alerts;
};

}  // namespace spatialmux::testing
