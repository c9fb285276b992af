// The operating-system pieces a batch stands on: child processes with their
// report and output pipes and their ends, stop signals caught into a pipe,
// and the rename that never replaces an output it must not.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/MoveIntoPlace.h"
#include "platform/StopSignals.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

std::string Text(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

struct Collected {
    std::string report;
    std::string output;
    platform::ChildEnd end;
};

Collected RunToEnd(platform::ChildProcess& child) {
    Collected collected;
    bool reportOpen = true;
    bool outputOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((reportOpen || outputOpen) && std::chrono::steady_clock::now() < deadline) {
        platform::WaitUntilReadable({child.report.Get(), child.output.Get()}, 100);
        if (reportOpen) reportOpen = platform::ReadAvailable(child.report.Get(), collected.report);
        if (outputOpen) outputOpen = platform::ReadAvailable(child.output.Get(), collected.output);
        if (!reportOpen) child.report.Reset();
        if (!outputOpen) child.output.Reset();
    }
    collected.end = platform::WaitForChild(child.pid);
    return collected;
}

TEST(BatchPlatform, ChildReportsOnItsPipeAndSpeaksOnItsOutput) {
    std::string error;
    auto child = platform::SpawnChild(
        "/bin/sh", {"-c", "echo 42.5 >&3; echo said; echo complained >&2; read x; exit 3"}, &error);
    ASSERT_TRUE(child) << error;
    const Collected collected = RunToEnd(*child);
    EXPECT_EQ(collected.report, "42.5\n");
    EXPECT_EQ(collected.output, "said\ncomplained\n");
    EXPECT_EQ(collected.end.exitStatus, 3) << "standard input is empty, not the test's";
    EXPECT_EQ(collected.end.signal, 0);
}

TEST(BatchPlatform, ChildEndedBySignalAndNeverInheritsAnotherChildsPipe) {
    std::string error;
    // The first child sleeps; while it lives, the second must still see the
    // end of its own pipes when it ends.
    auto sleeper = platform::SpawnChild("/bin/sh", {"-c", "exec sleep 30"}, &error);
    ASSERT_TRUE(sleeper) << error;
    auto quick = platform::SpawnChild("/bin/sh", {"-c", "echo done"}, &error);
    ASSERT_TRUE(quick) << error;
    const Collected collected = RunToEnd(*quick);
    EXPECT_EQ(collected.output, "done\n");
    EXPECT_EQ(collected.end.exitStatus, 0);

    platform::SignalChild(sleeper->pid, SIGTERM);
    const Collected stopped = RunToEnd(*sleeper);
    EXPECT_EQ(stopped.end.exitStatus, -1);
    EXPECT_EQ(stopped.end.signal, SIGTERM);

    EXPECT_FALSE(platform::SpawnChild("/nonexistent/program", {}, &error));
    EXPECT_NE(error.find("could not start"), std::string::npos) << error;
}

TEST(BatchPlatform, StopSignalsArriveOnThePipeInsteadOfEndingTheProcess) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    struct sigaction ignoreHangup {};
    ignoreHangup.sa_handler = SIG_IGN;
    struct sigaction hangupBefore {};
    sigaction(SIGHUP, &ignoreHangup, &hangupBefore);
    {
        platform::StopSignalWatch watch;
        EXPECT_TRUE(watch.TakeReceived().empty());
        std::raise(SIGTERM);
        std::raise(SIGHUP);  // ignored before, as under nohup: still ignored
        std::raise(SIGTERM);
        platform::WaitUntilReadable({watch.Fd()}, 1000);
        EXPECT_EQ(watch.TakeReceived(), (std::vector<int>{SIGTERM, SIGTERM}));
        EXPECT_TRUE(watch.TakeReceived().empty());
    }
    // The handlers before the watch are back.
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    sigaction(SIGHUP, &hangupBefore, nullptr);
}

TEST(BatchPlatform, MoveIntoPlaceReplacesOnlyWhenAsked) {
    TempDir dir;
    std::ofstream(dir.Path("new")) << "new";
    std::ofstream(dir.Path("old")) << "old";
    std::string error;
    EXPECT_FALSE(platform::MoveIntoPlace(dir.Path("new"), dir.Path("old"), false, &error));
    EXPECT_EQ(error, "the output appeared while converting");
    EXPECT_EQ(Text(dir.Path("old")), "old");
    EXPECT_EQ(Text(dir.Path("new")), "new");

    EXPECT_TRUE(platform::MoveIntoPlace(dir.Path("new"), dir.Path("old"), true, &error));
    EXPECT_EQ(Text(dir.Path("old")), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("new")));

    std::ofstream(dir.Path("another")) << "another";
    EXPECT_TRUE(platform::MoveIntoPlace(dir.Path("another"), dir.Path("fresh"), false, &error));
    EXPECT_EQ(Text(dir.Path("fresh")), "another");
}

}  // namespace
}  // namespace spatialmux
