// The windowed converter stopped by SIGTERM as a service manager or a
// logout stops it: the real spatialmux-droplet on a virtual X display
// (xvfb-run), the movie handed over at launch, its save dialog answered with
// keys (xdotool), the signal sent while the conversion is under way. The
// program must end with 128 + SIGTERM and leave nothing of its own beside
// the movie: no hidden output, no temporary WAV, no lock.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "platform/LocalizedStrings.h"
#include "support/RunProgram.h"

namespace spatialmux::guitest {
namespace {

using spatialmux::testing::ShellQuote;

// Run under xvfb-run: starts the droplet on the movie ($1 droplet, $2
// movie), answers the save dialog titled $3 (typing the name $4 first
// unless it is empty), waits for the pause point's marker $5, sends SIGTERM
// and writes the droplet's exit status to $6. A step that never ends (a
// guard against a hanging test, not a measure of time) kills the droplet
// and exits with a status of its own.
constexpr const char* kDriveDroplet = R"sh(
"$1" "$2" >/dev/null 2>&1 &
droplet=$!
stop() { kill -KILL "$droplet"; wait "$droplet"; exit "$1"; }
dialog=$(timeout 120 xdotool search --sync --onlyvisible --name "$3" | head -n 1)
[ -n "$dialog" ] || stop 97
timeout 30 xdotool windowfocus --sync "$dialog" || stop 96
if [ -n "$4" ]; then xdotool key ctrl+a type "$4"; fi
xdotool key Return
for _ in $(seq 2400); do [ -e "$5" ] && break; sleep 0.05; done
[ -e "$5" ] || stop 98
kill -TERM "$droplet"
for _ in $(seq 2400); do kill -0 "$droplet" 2>/dev/null || break; sleep 0.05; done
kill -0 "$droplet" 2>/dev/null && stop 95
wait "$droplet"
echo $? >"$6"
)sh";

struct StopCase {
    const char* engine;
    const char* typedName;  // "": the proposed name (a .mov: the edit)
    const char* pausePoint;
};

TEST(DropletStopSignal, SigtermDuringTheConversionEndsWithItsStatusAndLeavesNothing) {
    if (std::system("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null") != 0) {
        GTEST_SKIP() << "needs xvfb-run and xdotool (xvfb, xdotool)";
    }
    platform::SetLanguage("en");
    const std::string title = platform::LocalizedString("save.title");
    platform::SetLanguage("");

    for (const StopCase& stop :
         {StopCase{"edit", "", "edit-audio"}, StopCase{"remux", "converted.mp4", "wav-middle"}}) {
        SCOPED_TRACE(stop.engine);
        QTemporaryDir folder, side;
        ASSERT_TRUE(folder.isValid() && side.isValid());
        const std::string movie = folder.filePath("clip.MP4").toStdString();
        std::string error;
        ASSERT_TRUE(WriteTestMovie(movie, 4, &error)) << error;
        const std::string marker = side.filePath("paused").toStdString();
        const std::string status = side.filePath("status").toStdString();

        const std::string command =
            "LANGUAGE=en QT_QPA_PLATFORM=xcb SPATIALMUX_TEST_PAUSE_AT=" +
            std::string(stop.pausePoint) + " SPATIALMUX_TEST_PAUSE_FILE=" + ShellQuote(marker) +
            " xvfb-run -a /bin/bash -c " + ShellQuote(kDriveDroplet) + " drive " +
            ShellQuote(SPATIALMUX_DROPLET_BINARY) + " " + ShellQuote(movie) + " " +
            ShellQuote(title) + " " + ShellQuote(stop.typedName) + " " + ShellQuote(marker) + " " +
            ShellQuote(status) + " </dev/null >/dev/null 2>&1";
        const int raw = std::system(command.c_str());
        const int driven = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        ASSERT_NE(driven, 97) << "the save dialog never appeared";
        ASSERT_NE(driven, 98) << "the conversion never reached " << stop.pausePoint;
        ASSERT_NE(driven, 95) << "the droplet did not end after SIGTERM";
        ASSERT_TRUE(FileExists(status)) << "the virtual display or the drive failed: " << driven;

        EXPECT_EQ(ReadWholeFile(status), "143\n");
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path().toStdString())) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(left, std::vector<std::string>{"clip.MP4"});
    }
}

}  // namespace
}  // namespace spatialmux::guitest
