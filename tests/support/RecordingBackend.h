#pragma once
// The one recording back end of the tests: alerts are recorded (with the
// thread they were presented on) and dismissed at once, termination requests
// are counted, and a test may act when an alert is shown or when a worker
// hands work to the main thread.
//
// It extends a real back end: ImmediateBackend for the core tests, or the Qt
// back end for the windowed ones (RecordingBackendOn<platform::QtBackend>),
// so that the back end under test still routes every call itself.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Backend.h"

namespace spatialmux::testing {

// A back end without an event loop, installed for its lifetime: main-thread
// work runs on the calling thread (one piece at a time), detached work on a
// thread of its own, and a termination request does nothing.
class ImmediateBackend : public platform::Backend {
public:
    ImmediateBackend() : previous(&platform::CurrentBackend()) { platform::InstallBackend(this); }
    ~ImmediateBackend() override { platform::InstallBackend(previous); }
    ImmediateBackend(const ImmediateBackend&) = delete;
    ImmediateBackend& operator=(const ImmediateBackend&) = delete;

    void ShowAlert(const std::string& text) override { PresentAlert(text); }
    void PostToMainThread(std::function<void()> work) override {
        std::lock_guard<std::recursive_mutex> lock(mainThread);
        work();
    }
    void RunOnMainThreadAndWait(std::function<void()> work) override {
        std::lock_guard<std::recursive_mutex> lock(mainThread);
        work();
    }
    void DetachThread(std::function<void()> work) override {
        std::thread(std::move(work)).detach();
    }
    void RequestTermination() override {}
    bool IsMainThread() const override { return true; }

protected:
    virtual void PresentAlert(const std::string&) {}

private:
    platform::Backend* previous;
    std::recursive_mutex mainThread;
};

struct RecordedAlert {
    std::string text;
    bool onMainThread = false;
};

template <class Base>
class RecordingBackendOn : public Base {
public:
    void PostToMainThread(std::function<void()> work) override {
        if (onPostFromWorker && !this->IsMainThread()) onPostFromWorker();
        Base::PostToMainThread(std::move(work));
    }
    void RequestTermination() override {
        ++terminations;
        Base::RequestTermination();
    }

    // The texts of the alerts shown so far, in order.
    std::vector<std::string> Alerts() const {
        std::lock_guard<std::mutex> lock(recordMutex);
        std::vector<std::string> texts;
        for (const RecordedAlert& alert : alerts) texts.push_back(alert.text);
        return texts;
    }
    // The texts of the notices (good news) shown so far, in order.
    std::vector<std::string> Notices() const {
        std::lock_guard<std::mutex> lock(recordMutex);
        return notices;
    }
    void ShowNotice(const std::string& text) override {
        {
            std::lock_guard<std::mutex> lock(recordMutex);
            notices.push_back(text);
        }
        if (onNotice) onNotice(text);
    }
    std::vector<RecordedAlert> AlertsSeen() const {
        std::lock_guard<std::mutex> lock(recordMutex);
        return alerts;
    }

    std::atomic<int> terminations{0};
    // Called after an alert is recorded (e.g. to act while it is "shown").
    std::function<void(const std::string&)> onAlert;
    // Called after a notice is recorded (e.g. to run its own event loop).
    std::function<void(const std::string&)> onNotice;
    // Runs on a worker thread each time it hands work to the main thread
    // (progress, notifications), before handing it over: a test can hold the
    // worker there. Set before the worker starts.
    std::function<void()> onPostFromWorker;

protected:
    void PresentAlert(const std::string& text) override {
        {
            std::lock_guard<std::mutex> lock(recordMutex);
            alerts.push_back(RecordedAlert{text, this->IsMainThread()});
        }
        if (onAlert) onAlert(text);
    }

private:
    mutable std::mutex recordMutex;
    std::vector<RecordedAlert> alerts;
    std::vector<std::string> notices;
};

using RecordingBackend = RecordingBackendOn<ImmediateBackend>;

}  // namespace spatialmux::testing
