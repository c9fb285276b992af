// Conversions that meet damaged inputs and failing file systems: whatever
// happens, the job ends with a message and a failure status, leaves neither
// its temporary WAV nor a half-written output, and never changes the input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "control/convert/wrap_ffmpeg.h"
#include "control/job/TemporaryNames.h"
#include "movie/GainChoice.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "support/CaptureStdout.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RecordingBackend.h"
#include "support/RunProgram.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RecordingBackend;
using testing::ShellQuote;
using testing::TempDir;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

fixture::CameraMovieOptions SmallMovie(int32_t samples) {
    fixture::CameraMovieOptions options;
    options.totalSamples = samples;
    options.width = 32;
    options.height = 16;
    options.distinctFrames = 2;
    options.chunkRuns = {{1, 700}, {4, 300}};
    return options;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// One conversion in this process, with alerts recorded.
struct InProcessRun {
    int32_t started = 0;
    JobResult result = JobResult::None;
    std::vector<std::string> alerts;
};

InProcessRun ConvertInProcess(const std::string& input, const std::string& output) {
    RecordingBackend backend;
    InProcessRun run;
    testing::CaptureStdout();
    run.started = wrap_ffmpeg().AppMainFuncProc(input, output, true);
    testing::CapturedStdout();
    run.result = wrap_ffmpeg::LastJobResult();
    run.alerts = backend.Alerts();
    return run;
}

class HardeningFaults : public ::testing::Test {
protected:
    void SetUp() override { platform::SetLanguage("en"); }
    void TearDown() override { platform::SetLanguage(""); }

    // The outcome of converting `input` (a damaged copy of a movie made with
    // `options`) into dir/out.mov, checked for the one rule of every fault:
    // either a complete, correct conversion or a failure that leaves only
    // the input, unchanged.
    void ExpectCleanOutcome(const std::string& input, const fixture::CameraMovieOptions& options,
                            bool audioMustMatch) {
        const auto before = ReadFileBytes(input);
        const std::string output = dir.Path("out.mov");
        const InProcessRun run = ConvertInProcess(input, output);
        EXPECT_EQ(ReadFileBytes(input), before) << "the input was changed";
        EXPECT_FALSE(std::filesystem::exists(TemporaryWavPath(output))) << "temporary WAV left";
        if (run.result == JobResult::Succeeded) {
            EXPECT_TRUE(run.alerts.empty());
            const auto streams = testing::ReadMediaPackets(output);
            ASSERT_EQ(streams.size(), 2u) << "a successful conversion left an unreadable output";
            if (audioMustMatch) {
                const float gain = ChooseGain(options.softwareText, options.makerNoteFlag != 0);
                EXPECT_TRUE(streams[1].Bytes() == testing::ExpectedConvertedAudio(options, gain))
                    << "the output's audio is not the input's";
            }
            std::filesystem::remove(output);
        } else {
            EXPECT_TRUE(run.result == JobResult::Refused || run.result == JobResult::Failed)
                << static_cast<int>(run.result);
            EXPECT_EQ(run.alerts.size(), 1u) << "a failure must be reported once";
            EXPECT_FALSE(std::filesystem::exists(output)) << "a failed conversion left its output";
        }
        ++outcomes[run.result == JobResult::Succeeded ? "converted" : "failed"];
        ++outcomes[run.result == JobResult::Refused ? "refused" : "started"];
    }

    TempDir dir;
    std::map<std::string, int> outcomes;
};

// The input shrinks under the converter's feet while it reads the audio, and
// again while the remux copies the video.
TEST_F(HardeningFaults, InputTruncatedDuringTheConversionFailsCleanly) {
    for (const float when : {5.0f, 60.0f}) {
        SCOPED_TRACE(when);
        auto options = SmallMovie(96000);
        options.videoBytesPerFrame = 20000;
        const auto movie = testing::MakeMovie(dir, "in.mp4", options);
        // Cut into the media data: half of it goes.
        const uint64_t cut = movie.layout.mdatOffset + movie.layout.mdatSize / 2;
        bool done = false;
        const auto hook = platform::NotificationCenter::Default().AddObserver(
            platform::kProgressUpdateNotification, [&](const platform::Notification& n) {
                if (!done && n.number >= when) {
                    done = true;
                    std::filesystem::resize_file(movie.path, cut);
                }
            });
        const InProcessRun run = ConvertInProcess(movie.path, dir.Path("out.mov"));
        ASSERT_TRUE(done);
        EXPECT_EQ(run.result, JobResult::Failed);
        EXPECT_EQ(run.alerts, std::vector<std::string>{platform::LocalizedString("alert5")});
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
        EXPECT_EQ(std::filesystem::file_size(movie.path), cut);
        std::filesystem::remove(movie.path);
    }
}

// Every box boundary and a spread of other points: the movie ends there.
// With moov in front of the media data, most cuts leave the boxes whole and
// take away audio or video samples instead.
class HardeningTruncation : public HardeningFaults, public ::testing::WithParamInterface<bool> {};

TEST_P(HardeningTruncation, MovieTruncatedAnywhereConvertsCompletelyOrFailsCleanly) {
    auto options = SmallMovie(3000);
    options.moovBeforeMdat = GetParam();
    const auto movie = testing::MakeMovie(dir, "whole.mp4", options);
    const auto whole = ReadFileBytes(movie.path);
    std::set<uint64_t> cuts(movie.layout.boxOffsets.begin(), movie.layout.boxOffsets.end());
    for (const uint64_t offset : movie.layout.boxOffsets) {
        cuts.insert(offset + 4);  // inside the header
        cuts.insert(offset + 9);  // just past it
    }
    std::mt19937 random(20240611);
    for (int i = 0; i < 24; ++i) cuts.insert(random() % whole.size());
    for (const uint64_t cut : cuts) {
        if (cut >= whole.size()) continue;
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
        const std::string input = dir.Path("cut.mp4");
        WriteBytes(input, std::vector<uint8_t>(whole.begin(),
                                               whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        ExpectCleanOutcome(input, options, true);
        std::filesystem::remove(input);
    }
    // Every cut removes part of the audio's boxes or samples.
    EXPECT_EQ(outcomes["converted"], 0);
    // Behind an intact moov some cuts must get past the movie check and
    // fail in the middle of the conversion.
    if (GetParam()) {
        EXPECT_GT(outcomes["started"], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, HardeningTruncation, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& layout) {
                             return std::string(layout.param ? "MoovFirst" : "MdatFirst");
                         });

// Seeded random damage to moov: a few bytes at a time.
TEST_F(HardeningFaults, FlippedBytesInMoovNeverCrashOrLeaveFilesBehind) {
    const auto options = SmallMovie(3000);
    const auto movie = testing::MakeMovie(dir, "whole.mp4", options);
    const auto whole = ReadFileBytes(movie.path);
    const uint64_t moovEnd = movie.layout.moovOffset + movie.layout.moovSize;
    ASSERT_LE(moovEnd, whole.size());
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        auto damaged = whole;
        const int flips = 1 + static_cast<int>(random() % 4);
        std::string where;
        for (int f = 0; f < flips; ++f) {
            const uint64_t at = movie.layout.moovOffset + random() % movie.layout.moovSize;
            damaged[at] ^= static_cast<uint8_t>(1u << (random() % 8));
            where += " " + std::to_string(at);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ", bytes" + where);
        const std::string input = dir.Path("damaged.mp4");
        WriteBytes(input, damaged);
        // The damage may hit a table or a time scale, so the audio that a
        // successful conversion carries is not checked against the original.
        ExpectCleanOutcome(input, options, false);
        std::filesystem::remove(input);
    }
}

// The same damage run by the program itself: its exit status and message.
TEST_F(HardeningFaults, ProgramReportsDamagedMoviesWithStatusOne) {
    const auto options = SmallMovie(3000);
    const auto movie = testing::MakeMovie(dir, "whole.mp4", options);
    const auto whole = ReadFileBytes(movie.path);
    const std::vector<uint64_t> cuts = {movie.layout.moovOffset + 20, movie.layout.zatrOffset + 8,
                                        movie.layout.audioChunkOffsets.back() + 16};
    for (const uint64_t cut : cuts) {
        SCOPED_TRACE(cut);
        const std::string input = dir.Path("cut.mp4");
        WriteBytes(input, std::vector<uint8_t>(whole.begin(),
                                               whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        const ProgramRun run = testing::RunProgram({input, dir.Path("out.mov")}, kEnglish);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(ReadFileBytes(input).size(), cut);
        auto entries = dir.Entries();
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, (std::vector<std::string>{"cut.mp4", "whole.mp4"}));
        std::filesystem::remove(input);
    }
}

// The output named as the input, also through a hard link (another name for
// the same file, which no comparison of paths can see): refused by the
// program, and the input stays as it was.
TEST_F(HardeningFaults, ProgramRefusesAnOutputThatIsTheInput) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const auto before = ReadFileBytes(movie.path);
    std::filesystem::create_hard_link(movie.path, dir.Path("hard.mov"));
    for (const std::string& output : {movie.path, dir.Path("hard.mov")}) {
        SCOPED_TRACE(output);
        const ProgramRun run = testing::RunProgram({movie.path, output}, kEnglish);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find("overwrite the input"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFileBytes(movie.path), before);
        auto entries = dir.Entries();
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, (std::vector<std::string>{"hard.mov", "in.mp4"}));
    }
}

// ---------------------------------------------------------------- file systems
TEST_F(HardeningFaults, ReadOnlyOutputFolderIsReportedAndLeavesNothing) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const auto before = ReadFileBytes(movie.path);
    ProgramRun run;
    std::vector<std::string> left;
    if (geteuid() != 0) {
        // Permissions are enough for anyone but root.
        const std::string folder = dir.Path("locked");
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        run = testing::RunProgram({movie.path, folder + "/out.mov"}, kEnglish);
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            left.push_back(entry.path().string());
    } else {
        // Root writes through permissions: a read-only mount stops it.
        const testing::VolumeRun volume = testing::RunOnSmallVolume(
            dir, "size=1m,ro", {movie.path, testing::SmallVolumePath(dir) + "/out.mov"}, kEnglish);
        if (!volume.mounted)
            GTEST_SKIP() << "running as root and cannot mount a read-only file system here";
        run = volume.run;
        left = volume.left;
    }
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    // Known before the work starts: refused with the folder and the cause.
    EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << run.err;
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(ReadFileBytes(movie.path), before);
}

}  // namespace
}  // namespace spatialmux
