// Finding the running program's file, which the command line needs to start
// the windowed program installed beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ExecutablePath.h"
#include "support/TempDir.h"

namespace spatialmux::platform {
namespace {

namespace fs = std::filesystem;

void WriteProgram(const std::string& path, bool executable) {
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read,
                    fs::perm_options::replace);
}

TEST(ExecutablePath, IsTheRunningTestProgram) {
    const std::optional<std::string> self = ExecutablePath(nullptr);
    ASSERT_TRUE(self.has_value());
    EXPECT_TRUE(fs::path(*self).is_absolute());
    EXPECT_EQ(fs::path(*self).filename(), "spatialmux_tests");
}

TEST(ExecutablePath, FallbackTakesAPathAsItIsAndSearchesABareName) {
    testing::TempDir dir;
    fs::create_directories(dir.Path("first"));
    fs::create_directories(dir.Path("second"));
    WriteProgram(dir.Path("first/tool"), false);  // not executable: skipped
    WriteProgram(dir.Path("second/tool"), true);
    const std::string search =
        dir.Path("missing") + ":" + dir.Path("first") + ":" + dir.Path("second");

    EXPECT_EQ(ExecutablePathFromArgv0("tool", search.c_str()), dir.Path("second/tool"));
    EXPECT_EQ(ExecutablePathFromArgv0((dir.Path("first") + "/../second/tool").c_str(), nullptr),
              dir.Path("second/tool"));
    EXPECT_EQ(ExecutablePathFromArgv0(dir.Path("first/tool").c_str(), search.c_str()),
              std::nullopt);
    EXPECT_EQ(ExecutablePathFromArgv0("other", search.c_str()), std::nullopt);
    EXPECT_EQ(ExecutablePathFromArgv0("tool", nullptr), std::nullopt);
    EXPECT_EQ(ExecutablePathFromArgv0("", search.c_str()), std::nullopt);
    EXPECT_EQ(ExecutablePathFromArgv0(nullptr, search.c_str()), std::nullopt);
}

}  // namespace
}  // namespace spatialmux::platform
