// spatialmux -o DIR as a user runs it on a card: camera movies converted
// exactly, other files skipped, existing outputs kept or replaced, name
// clashes refused before anything starts, failures reported with their
// reason, and a stop by signal leaving nothing half-written.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/job/SpaceNeeded.h"
#include "support/ConversionExpectations.h"
#include "support/ConvertedOutputChecks.h"
#include "support/RunProgram.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::SmallMovie;
using testing::TempDir;
using testing::TestMovie;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

bool AnyHidden(const std::string& folder) {
    for (const std::string& name : Entries(folder)) {
        if (name.front() == '.') return true;
    }
    return false;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

struct Card {
    TempDir dir;
    TestMovie a, b, d;
    fixture::CameraMovieOptions aOptions, bOptions, dOptions;
    std::string out;
};

// A card with camera movies in two folders, a text file among them, a text
// file and a converted movie named like movies, and a movie whose output
// already exists.
void MakeCard(Card& card) {
    std::filesystem::create_directories(card.dir.Path("card/100"));
    std::filesystem::create_directories(card.dir.Path("card/200"));
    card.aOptions = SmallMovie(5000);
    card.bOptions = SmallMovie(3000);
    card.bOptions.seed = 2;
    card.bOptions.makerNoteFlag = 1;
    card.dOptions = SmallMovie(2048);
    card.a = testing::MakeMovie(card.dir, "card/100/A.MP4", card.aOptions);
    card.b = testing::MakeMovie(card.dir, "card/200/B.mp4", card.bOptions);
    card.d = testing::MakeMovie(card.dir, "card/D.MP4", card.dOptions);
    WriteText(card.dir.Path("card/100/notes.txt"), "not a movie, not even named like one");
    WriteText(card.dir.Path("card/200/fake.MOV"), "a text file named like a movie");
    const ProgramRun converted =
        RunProgram({card.a.path, card.dir.Path("card/200/done.mov")}, kEnglish);
    ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
    card.out = card.dir.Path("out");
    WriteText(card.out + "/D.mov", "an earlier output");
}

class BatchConversion : public ::testing::TestWithParam<int> {};

TEST_P(BatchConversion, ConvertsTheCameraMoviesAndSkipsTheRestWithReasons) {
    Card card;
    MakeCard(card);
    const auto before = ReadFileBytes(card.a.path);
    const ProgramRun run = RunProgram(
        {"-o", card.out, "-j", std::to_string(GetParam()), card.dir.Path("card")}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "") << "no terminal: no progress line";

    // One line per file (in name order with one job), then the summary. The
    // converted movie among them is a 360 movie with declared ambisonics,
    // which converts too.
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    // With two jobs the files finish in any order; the summary keeps name order.
    std::vector<std::string> perFile(lines.begin(), lines.begin() + 5);
    std::sort(perFile.begin(), perFile.end());
    const std::string outA = card.out + "/A.mov";
    const std::string outB = card.out + "/B.mov";
    EXPECT_TRUE(StartsWith(perFile[0], "converted A.MP4 -> " + outA + " (")) << perFile[0];
    EXPECT_TRUE(StartsWith(perFile[1], "converted B.mp4 -> " + outB + " (")) << perFile[1];
    EXPECT_TRUE(StartsWith(perFile[2], "converted done.mov -> " + card.out + "/done.mov ("))
        << perFile[2];
    EXPECT_EQ(perFile[3],
              "skipped D.MP4: " + card.out + "/D.mov already exists (--overwrite replaces it)");
    EXPECT_EQ(perFile[4], "skipped fake.MOV: not a camera movie");
    if (GetParam() == 1) {
        EXPECT_TRUE(StartsWith(lines[0], "converted A.MP4"));
        EXPECT_TRUE(StartsWith(lines[1], "converted B.mp4"));
    }
    EXPECT_TRUE(StartsWith(lines[5], "3 converted, 2 skipped, 0 failed; ")) << lines[5];
    EXPECT_EQ(lines[6], "  skipped fake.MOV: not a camera movie");
    EXPECT_EQ(lines[7], "  " + perFile[3]);

    testing::ExpectConvertedOutput(card.a, card.aOptions, outA);
    testing::ExpectConvertedOutput(card.b, card.bOptions, outB);
    EXPECT_EQ(Entries(card.out), (std::set<std::string>{"A.mov", "B.mov", "D.mov", "done.mov"}))
        << "nothing hidden left behind";
    const auto earlier = ReadFileBytes(card.out + "/D.mov");
    EXPECT_EQ(std::string(earlier.begin(), earlier.end()), "an earlier output");
    EXPECT_EQ(ReadFileBytes(card.a.path), before);
    // The card itself gained nothing either (the temporary WAVs go to DIR).
    EXPECT_EQ(Entries(card.dir.Path("card/100")), (std::set<std::string>{"A.MP4", "notes.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Jobs, BatchConversion, ::testing::Values(1, 2));

TEST(Batch, OverwriteReplacesAnExistingOutputAndCreatesTheFolder) {
    Card card;
    MakeCard(card);
    const std::string nested = card.dir.Path("new/deeper");
    const ProgramRun fresh = RunProgram({"-o", nested, card.d.path}, kEnglish);
    EXPECT_EQ(fresh.status, 0) << fresh.out << fresh.err;
    EXPECT_TRUE(StartsWith(fresh.out, "created folder " + nested + "\nconverted D.MP4 -> "))
        << fresh.out;

    const ProgramRun run = RunProgram({"--overwrite", "-o", card.out, card.d.path}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(StartsWith(run.out, "converted D.MP4 -> " + card.out + "/D.mov (")) << run.out;
    testing::ExpectConvertedOutput(card.d, card.dOptions, card.out + "/D.mov");
    EXPECT_EQ(Entries(card.out), std::set<std::string>{"D.mov"});
}

// Footage at a name the batch writes is never the batch's: a camera movie
// at A's partial name survives A's refused conversion and its clean-up, and
// a camera movie at D's output name survives --overwrite.
TEST(Batch, NeverRemovesOrReplacesACameraMovie) {
    TempDir dir;
    const std::string out = dir.Path("out");
    std::filesystem::create_directories(dir.Path("card"));
    std::filesystem::create_directories(out);
    const auto a = testing::MakeMovie(dir, "card/A.MP4", SmallMovie(2000));
    const auto d = testing::MakeMovie(dir, "card/D.MP4", SmallMovie(2048));
    const auto atPartial =
        testing::MakeMovie(dir, "out/.A.spatialmux-partial.mov", SmallMovie(1500));
    auto otherOptions = SmallMovie(1024);
    otherOptions.seed = 3;
    const auto atOutput = testing::MakeMovie(dir, "out/D.mov", otherOptions);
    const auto partialBefore = ReadFileBytes(atPartial.path);
    const auto outputBefore = ReadFileBytes(atOutput.path);

    const ProgramRun run = RunProgram({"--overwrite", "-o", out, a.path, d.path}, kEnglish);
    EXPECT_NE(run.status, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("skipped D.MP4: " + out + "/D.mov is a camera movie and is not replaced"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(ReadFileBytes(atPartial.path), partialBefore);
    EXPECT_EQ(ReadFileBytes(atOutput.path), outputBefore);
    EXPECT_EQ(Entries(out), (std::set<std::string>{".A.spatialmux-partial.mov", "D.mov"}));
}

TEST(Batch, ClashesAndMissingInputsStopTheRunBeforeItStarts) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path("card/100"));
    std::filesystem::create_directories(dir.Path("card/200"));
    testing::MakeMovie(dir, "card/100/A.MP4", SmallMovie(1024));
    testing::MakeMovie(dir, "card/200/a.mov", SmallMovie(1024));
    const std::string out = dir.Path("out");
    const ProgramRun run =
        RunProgram({"-o", out, dir.Path("card"), dir.Path("gone.MP4")}, kEnglish);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "spatialmux: " + dir.Path("gone.MP4") + ": no such file or folder\n" +
                           "spatialmux: " + dir.Path("card/100/A.MP4") + " and " +
                           dir.Path("card/200/a.mov") + " would both be written to " + out +
                           "/a.mov\nspatialmux: nothing was converted\n");
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing starts, not even the folder";

    const ProgramRun notAFolder = RunProgram({"-o", dir.Path("card/100/A.MP4"), dir.Path("card")});
    EXPECT_EQ(notAFolder.status, 2);
    EXPECT_NE(notAFolder.err.find("exists and is not a folder"), std::string::npos);
}

// A file size limit stands in for a full disk: the large movie fails, the
// small one converts, and the earlier output of the large one survives even
// with --overwrite, since it is only replaced by a finished conversion.
TEST(Batch, AFailedConversionIsReportedWithItsReasonAndKeepsTheEarlierOutput) {
    TempDir dir;
    auto bigOptions = SmallMovie(96000);
    bigOptions.videoBytesPerFrame = 40000;
    std::filesystem::create_directories(dir.Path("card"));
    const auto big = testing::MakeMovie(dir, "card/BIG.MP4", bigOptions);
    const auto smallOptions = SmallMovie(2000);
    const auto small = testing::MakeMovie(dir, "card/SMALL.MP4", smallOptions);
    const std::string out = dir.Path("out");
    WriteText(out + "/BIG.mov", "an earlier output");

    const ProgramRun run = RunProgram({"-o", out, "-j", "2", "--overwrite", dir.Path("card")},
                                      "ulimit -f 300; " + kEnglish);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    // The engine's first write that passes the limit: the WAV, or the copy
    // (which sets the output's length first).
    const std::string failed =
        testing::TestsForceRemux()
            ? "failed BIG.MP4: could not write the temporary WAV: File too large"
            : "failed BIG.MP4: could not copy the input: truncate: File "
              "too large";
    EXPECT_TRUE(std::find(lines.begin(), lines.begin() + 2, failed) != lines.begin() + 2)
        << run.out;
    EXPECT_TRUE(StartsWith(lines[2], "1 converted, 0 skipped, 1 failed; ")) << lines[2];
    EXPECT_EQ(lines[3], "  " + failed);

    testing::ExpectConvertedOutput(small, smallOptions, out + "/SMALL.mov");
    const auto earlier = ReadFileBytes(out + "/BIG.mov");
    EXPECT_EQ(std::string(earlier.begin(), earlier.end()), "an earlier output");
    EXPECT_EQ(Entries(out), (std::set<std::string>{"BIG.mov", "SMALL.mov"}));
}

// With -j 2 each running conversion holds the free space it needs. On a
// volume with room for one conversion at a time (and the finished outputs)
// the second movie waits for the first, saying so, and both convert; a
// movie that does not fit even alone fails with the reason before its
// conversion starts.
TEST(Batch, ParallelJobsHoldTheFreeSpaceEachNeeds) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path("card"));
    auto options = SmallMovie(48000);
    const auto a = testing::MakeMovie(dir, "card/A.MP4", options);
    options.seed = 2;
    const auto b = testing::MakeMovie(dir, "card/B.MP4", options);
    // A tmpfs never shares blocks: the need there is that of a plain copy.
    const std::string plain =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : dir.Root().string();
    const auto need = SpaceNeededFor(a.path, plain, !testing::TestsForceRemux());
    ASSERT_TRUE(need);
    const uint64_t output = a.layout.fileSize + (64u << 10);
    ASSERT_LT(output, *need);
    const std::string volume = testing::SmallVolumePath(dir);

    // Between one output and one need, and two needs.
    const uint64_t room = (output + 3 * *need) / 2;
    const testing::VolumeRun both =
        testing::RunOnSmallVolume(dir, "size=" + std::to_string(room / 1024) + "k",
                                  {"-o", volume + "/out", "-j", "2", a.path, b.path}, kEnglish);
    if (!both.mounted) GTEST_SKIP() << "cannot mount a small file system here";
    EXPECT_EQ(both.run.status, 0) << both.run.out << both.run.err;
    const std::vector<std::string> lines = Lines(both.run.out);
    ASSERT_EQ(lines.size(), 5u) << both.run.out;
    EXPECT_EQ(lines[0], "created folder " + volume + "/out");
    EXPECT_TRUE(StartsWith(lines[1], "waiting B.MP4: it needs ")) << lines[1];
    EXPECT_NE(lines[1].find(" of it held for 1 running conversion"), std::string::npos) << lines[1];
    EXPECT_TRUE(StartsWith(lines[2], "converted A.MP4 -> ")) << lines[2];
    EXPECT_TRUE(StartsWith(lines[3], "converted B.MP4 -> ")) << lines[3];
    EXPECT_TRUE(StartsWith(lines[4], "2 converted, 0 skipped, 0 failed")) << lines[4];

    const testing::VolumeRun tight = testing::RunOnSmallVolume(
        dir, "size=" + std::to_string((*need - (256u << 10)) / 1024) + "k", {"-o", volume, a.path},
        kEnglish);
    ASSERT_TRUE(tight.mounted);
    EXPECT_EQ(tight.run.status, 1) << tight.run.out << tight.run.err;
    EXPECT_TRUE(StartsWith(tight.run.out, "failed A.MP4: not enough free space: it needs "))
        << tight.run.out;
    EXPECT_TRUE(tight.left.empty());
}

// Starts the program with its output in files and returns its process id.
pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& outPath) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(SPATIALMUX_BINARY));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        // As on a terminal, even when the tests run as a background job.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        setenv("LANGUAGE", "en", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        execv(SPATIALMUX_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

// Ctrl-C (or a TERM from a service manager) in the middle of a batch: every
// running conversion is stopped and cleaned up, finished outputs stay, the
// summary says what was done.
class BatchStop : public ::testing::TestWithParam<int> {};

TEST_P(BatchStop, StopsEveryJobAndLeavesNothingPartial) {
    const int stopSignal = GetParam();
    TempDir dir;
    // Audio long enough that a conversion takes a moment.
    const auto options = SmallMovie(1'500'000);
    std::filesystem::create_directories(dir.Path("card"));
    for (const char* name : {"card/S1.MP4", "card/S2.MP4", "card/S3.MP4", "card/S4.MP4"}) {
        testing::MakeMovie(dir, name, options);
    }
    const std::string out = dir.Path("out");
    const std::string printed = dir.Path("printed.txt");
    const pid_t pid = StartProgram({"-o", out, "-j", "2", dir.Path("card")}, printed);
    ASSERT_GT(pid, 0);

    // Stop it while a conversion is writing its hidden files.
    bool caught = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!caught && std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::is_directory(out, error) && AnyHidden(out)) {
            caught = true;
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(caught) << "the batch ended before a conversion could be stopped";
    kill(pid, stopSignal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + stopSignal);

    const auto bytes = ReadFileBytes(printed);
    const std::string text(bytes.begin(), bytes.end());
    const char* name = stopSignal == SIGINT ? "SIGINT" : "SIGTERM";
    EXPECT_NE(text.find(std::string("stopped by ") + name), std::string::npos) << text;
    EXPECT_FALSE(AnyHidden(out)) << "no temporary WAV and no partial output";
    // Whatever is there was reported converted, and is complete.
    for (const std::string& entry : Entries(out)) {
        EXPECT_NE(text.find("/" + entry + " ("), std::string::npos) << entry << "\n" << text;
        EXPECT_EQ(testing::ReadMediaPackets(out + "/" + entry).size(), 2u) << entry;
    }
    EXPECT_LT(Entries(out).size(), 4u) << text;
}

INSTANTIATE_TEST_SUITE_P(Signals, BatchStop, ::testing::Values(SIGINT, SIGTERM));

}  // namespace
}  // namespace spatialmux
