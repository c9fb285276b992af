// SIGTERM and SIGHUP reach the windowed converter's main thread as a call,
// so that the session ends like a Cancel instead of dying mid-file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <csignal>
#include <thread>

#include "shell/StopSignalNotifier.h"

namespace spatialmux {
namespace {

TEST(StopSignalNotifier, EachStopSignalReachesTheCallbackOnTheEventLoop) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        int received = 0;
        {
            StopSignalNotifier notifier([&received](int which) { received = which; });
            std::raise(signal);
            EXPECT_EQ(received, 0) << "called from the signal handler";
            for (int i = 0; i < 200 && received == 0; ++i) {
                QCoreApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        EXPECT_EQ(received, signal);
    }
}

}  // namespace
}  // namespace spatialmux
