#pragma once
// The back end of the windowed application: alerts are modal message boxes
// on the GUI thread, work for the main thread is queued on the application
// object, and every detached thread is tracked so that the application can
// wait for all of them before it ends.

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Backend.h"

class QObject;

namespace spatialmux::platform {

class QtBackend : public Backend {
public:
    // Needs a QApplication that outlives it.
    QtBackend();
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

    void ShowAlert(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    // Named in the title of the alerts and notices: "NAME – spatialmux".
    void SetSubject(const std::string& name) override;
    // What SetSubject named last, as the titles show it.
    std::string Subject();
    void PostToMainThread(std::function<void()> work) override;
    void RunOnMainThreadAndWait(std::function<void()> work) override;
    void DetachThread(std::function<void()> work) override;
    // Ends the application's event loop from the GUI thread (queued there,
    // so that it may be called from any thread).
    void RequestTermination() override;
    // On the GUI thread, once the event loop has ended: the requests to end
    // it that are still queued are dropped. (Several parts may ask, a
    // cancelled job and its window both do; one left queued would end the
    // next modal dialog, the closing notice, as soon as it opened.)
    void DropPendingTermination();
    bool IsMainThread() const override;

    // On the GUI thread: returns when every thread started by DetachThread
    // has ended, handling the GUI thread's events meanwhile, so that a thread
    // waiting for an alert or other main-thread work can go on.
    void WaitForDetachedThreads();
    // Threads started by DetachThread that have not ended yet.
    int RunningThreadCount();

protected:
    // Runs the modal alert; called on the GUI thread only. Tests replace it.
    virtual void PresentAlert(const std::string& text);
    // Runs the modal notice; called on the GUI thread only. Tests replace it.
    virtual void PresentNotice(const std::string& text);

private:
    struct TrackedThread {
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    // Joins the threads that have ended; the caller holds `threadsMutex`.
    void ReapFinishedThreads();

    // Receiver of the work queued for the GUI thread: work still queued when
    // the back end goes away is dropped with it.
    std::unique_ptr<QObject> mainThreadContext;
    // Receiver of the requests to end the event loop.
    std::unique_ptr<QObject> terminationContext;
    std::mutex subjectMutex;
    std::string subject;
    std::mutex threadsMutex;
    std::list<std::shared_ptr<TrackedThread>> threads;
};

}  // namespace spatialmux::platform
