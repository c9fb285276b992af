// The spatialmux program run as a user runs it: argument handling, exit
// status, what a conversion writes and what a failed one leaves behind.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ConversionExpectations.h"
#include "support/ConvertedOutputChecks.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

using testing::SmallMovie;

TEST(CommandLine, HelpAndVersionExitZero) {
    for (const char* flag : {"-h", "--help"}) {
        const ProgramRun run = RunProgram({flag});
        EXPECT_EQ(run.status, 0) << flag;
        EXPECT_NE(run.out.find("spatialmux INPUT OUTPUT"), std::string::npos) << flag;
    }
    const ProgramRun version = RunProgram({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, version.out.find('\n')),
              std::string("spatialmux ") + SPATIALMUX_VERSION);
    EXPECT_NE(version.out.find("License: MIT"), std::string::npos) << version.out;
}

TEST(CommandLine, ThreeOrMoreArgumentsAreAUsageError) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"a", "b", "c"}, std::vector<std::string>{"a", "b", "c", "d"}}) {
        const ProgramRun run = RunProgram(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "usage: spatialmux INPUT OUTPUT   (spatialmux --help for more)\n");
    }
}

TEST(CommandLine, WrongOptionsAreAUsageErrorWithAOneLineHint) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"-q", "a", "b"},
          std::vector<std::string>{"--json", "a", "b"}, std::vector<std::string>{"--check"}}) {
        const ProgramRun run = RunProgram(args);
        EXPECT_EQ(run.status, 2) << args.front();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("spatialmux: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nusage: spatialmux INPUT OUTPUT   (spatialmux --help for more)\n"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_NE(RunProgram({"--help"}).out.find("--check FILE..."), std::string::npos);
}

TEST(CommandLine, YesAsOutputShowsAlert1AndConvertsNothing) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
    const ProgramRun run = RunProgram(
        {movie.path, "YES"}, "cd " + testing::ShellQuote(dir.Root().string()) + "; " + kEnglish);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Drop one camera movie"), std::string::npos) << run.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
}

TEST(CommandLine, OtherSpellingsOfYesAreOutputNames) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
    // "yes" has no .mov extension, so it is refused before any work; the
    // point is that it was taken as an output, not as the alert1 case.
    const ProgramRun run = RunProgram(
        {movie.path, "yes"}, "cd " + testing::ShellQuote(dir.Root().string()) + "; " + kEnglish);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("error!! yes: name the output .mov (PCM audio) or .mp4"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err.find("Drop one camera movie"), std::string::npos);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
}

TEST(CommandLine, RefusedMovieExitsOneWithAlert3) {
    TempDir dir;
    { std::ofstream(dir.Path("notes.txt")) << "not a movie at all"; }
    const ProgramRun run = RunProgram({dir.Path("notes.txt"), dir.Path("out.mov")}, kEnglish);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "error!!\n");
    EXPECT_NE(run.err.find("not a camera movie"), std::string::npos) << run.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"notes.txt"});
}

// A whole conversion for several audio lengths around the frame size.
class Conversion : public ::testing::TestWithParam<int32_t> {};

TEST_P(Conversion, OutputHoldsEveryInstantReorderedWithGainAndTheCameraMetadata) {
    TempDir dir;
    auto options = SmallMovie(GetParam());
    options.makerNoteFlag = GetParam() % 2;  // both gains across the cases
    options.chunkRuns = {{1, 1000}};
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    const auto before = ReadFileBytes(movie.path);

    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFileBytes(movie.path), before);
    EXPECT_EQ(dir.Entries().size(), 2u) << "the temporary WAV must be gone";

    // Every instant reordered with the gain, the video packets and their
    // times as they were, and the camera's metadata in the output's moov.
    testing::ExpectConvertedOutput(movie, options, dir.Path("out.mov"));
}

INSTANTIATE_TEST_SUITE_P(AudioLengths, Conversion,
                         ::testing::Values(10240, 10241, 2048, 2049, 1024, 1));

TEST(CommandLine, BareOutputNameWritesItsWavInTheCurrentFolder) {
    if (!testing::TestsForceRemux()) GTEST_SKIP() << "the WAV belongs to the remux engine";
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const ProgramRun run = RunProgram(
        {"in.mp4", "out.mov"}, "cd " + testing::ShellQuote(dir.Root().string()) + "; " + kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // A name of this run's own beside the output, on a line of its own.
    const std::size_t wav = run.out.find("write file name = ./.out.mov.spatialmux-");
    ASSERT_NE(wav, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find('\n', wav) - 4, 5), ".wav\n") << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out.mov")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path(".out.mov.wav")));
    // The closing line, after the output was verified.
    const std::size_t closing = run.out.rfind("\nconverted in.mp4 -> out.mov (");
    ASSERT_NE(closing, std::string::npos) << run.out;
    const std::string line = run.out.substr(closing + 1);
    EXPECT_NE(line.find(" kB, 4-ch ambisonics, 360 metadata) in "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 3), " s\n") << line;
}

// A file size limit stands in for a full disk: the WAV phase, then the remux.
TEST(CommandLine, FullDiskFailsCleanlyInEitherPhase) {
    TempDir dir;
    auto options = SmallMovie(96000);    // a WAV of about 750 KiB
    options.videoBytesPerFrame = 40000;  // an output well above 1 MiB
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    const auto before = ReadFileBytes(movie.path);
    const int inputKiB = static_cast<int>(before.size() / 1024);
    for (const int limitKiB : {300, 1000}) {
        SCOPED_TRACE(limitKiB);
        ASSERT_LT(limitKiB, inputKiB);
        const ProgramRun run =
            RunProgram({movie.path, dir.Path("out.mov")},
                       "ulimit -f " + std::to_string(limitKiB) + "; " + kEnglish);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find("The conversion failed"), std::string::npos) << run.err;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
        EXPECT_EQ(ReadFileBytes(movie.path), before);
    }
}

}  // namespace
}  // namespace spatialmux

namespace spatialmux {
namespace {

// The gain follows the camera's software text and maker-note flag all the
// way into the output.
TEST(CommandLine, GainFollowsTheSoftwareTextAndFlag) {
    const struct {
        const char* text;
        uint32_t flag;
        uint32_t gainBits;
    } cases[] = {
        {"ZORVA VELIX V Ver 1.1", 1, 0x3F353BEF},
        {"ZORVA VELIX V Ver 1.15", 1, 0x3F353BEF},
        {" ZORVA VELIX V Ver 1.1", 1, 0x3FB4CE08},
        {"ZORVA VELIX V Ver 1.", 1, 0x3FB4CE08},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TempDir dir;
        auto options = SmallMovie(3000);
        options.softwareText = c.text;
        options.makerNoteFlag = c.flag;
        const auto movie = testing::MakeMovie(dir, "in.mp4", options);
        const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const auto out = testing::ReadMediaPackets(dir.Path("out.mov"));
        ASSERT_EQ(out.size(), 2u);
        EXPECT_TRUE(out[1].Bytes() ==
                    testing::ExpectedConvertedAudio(options, std::bit_cast<float>(c.gainBits)));
    }
}

}  // namespace
}  // namespace spatialmux
