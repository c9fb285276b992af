#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"

namespace spatialmux::guitest {
namespace {

TEST(QtBackendTest, WorkPostedFromAWorkerRunsOnTheGuiThreadInOrder) {
    RecordingBackend backend;
    std::vector<int> order;
    std::atomic<bool> allOnGuiThread{true};
    backend.DetachThread([&] {
        for (int i = 0; i < 200; ++i) {
            backend.PostToMainThread([&, i] {
                if (!backend.IsMainThread()) allOnGuiThread = false;
                order.push_back(i);
            });
        }
    });
    backend.WaitForDetachedThreads();
    QCoreApplication::processEvents();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnGuiThread);
}

TEST(QtBackendTest, AWorkerWaitsForItsAlertWhileTheGuiThreadWaitsForTheWorker) {
    RecordingBackend backend;
    std::atomic<bool> alertReturned{false};
    std::atomic<bool> mainWorkRan{false};
    backend.DetachThread([&] {
        backend.ShowAlert("from the worker");
        alertReturned = true;
        backend.RunOnMainThreadAndWait([&] { mainWorkRan = backend.IsMainThread(); });
    });
    backend.WaitForDetachedThreads();
    const auto alerts = backend.AlertsSeen();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].text, "from the worker");
    EXPECT_TRUE(alerts[0].onMainThread);
    EXPECT_TRUE(alertReturned);
    EXPECT_TRUE(mainWorkRan);
    EXPECT_EQ(backend.RunningThreadCount(), 0);
}

TEST(QtBackendTest, TheWorkerStaysBlockedUntilTheAlertIsDismissed) {
    RecordingBackend backend;
    std::atomic<bool> alertReturned{false};
    bool returnedWhileShown = true;
    backend.onAlert = [&](const std::string&) {
        // The alert is up: give the worker every chance to run on.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        returnedWhileShown = alertReturned.load();
    };
    backend.DetachThread([&] {
        backend.ShowAlert("wait");
        alertReturned = true;
    });
    backend.WaitForDetachedThreads();
    EXPECT_FALSE(returnedWhileShown);
    EXPECT_TRUE(alertReturned);
}

TEST(QtBackendTest, TerminationRequestedByAWorkerEndsTheEventLoop) {
    RecordingBackend backend;
    QTimer guard;
    bool guardFired = false;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guardFired = true;
        QCoreApplication::exit(99);
    });
    guard.start(300000);
    backend.DetachThread([&] { backend.RequestTermination(); });
    const int status = QCoreApplication::exec();
    backend.WaitForDetachedThreads();
    EXPECT_FALSE(guardFired);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(backend.terminations, 1);
}

TEST(QtBackendTest, ManyShortThreadsAreAllJoined) {
    RecordingBackend backend;
    std::atomic<int> ran{0};
    for (int i = 0; i < 300; ++i) backend.DetachThread([&] { ++ran; });
    backend.WaitForDetachedThreads();
    EXPECT_EQ(ran.load(), 300);
    EXPECT_EQ(backend.RunningThreadCount(), 0);
}

}  // namespace
}  // namespace spatialmux::guitest
