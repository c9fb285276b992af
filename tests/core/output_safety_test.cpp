// "A conversion either completes, verified, or changes nothing", tried with
// the real program: stop signals at every phase, an existing output (footage,
// an earlier output, a link), planted links, two runs to one output, debris
// of a killed run, an input renamed over mid-run and the refusals that come
// before any work.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/SpawnedProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::SmallMovie;
using testing::SpawnedProgram;
using testing::TempDir;
using testing::WaitForFile;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool IsConvertedMovie(const std::string& path) {
    return testing::ReadMediaPackets(path).size() == 2;
}

// A folder with the camera movie and an earlier output in it, and a
// program run that pauses at a named point of its conversion.
class PausedRun : public ::testing::Test {
protected:
    void SetUp() override {
        movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(48000)).path;
        output = dir.Path("out.mov");
        WriteText(output, "earlier output");
        input = ReadFileBytes(movie);
        before = Sorted(dir.Entries());
    }

    // Points of the remux pipeline run it with --remux; the others (edit-*,
    // and verify and commit, which both engines have) the default engine.
    std::unique_ptr<SpawnedProgram> Start(const std::string& point,
                                          const std::string& to = std::string(),
                                          bool remux = false) {
        std::vector<std::string> arguments{movie, to.empty() ? output : to};
        if (remux || IsRemuxPoint(point)) arguments.insert(arguments.begin(), "--remux");
        return std::make_unique<SpawnedProgram>(
            arguments,
            std::vector<std::string>{"LANGUAGE=en", "SPATIALMUX_TEST_PAUSE_AT=" + point,
                                     "SPATIALMUX_TEST_PAUSE_FILE=" + Marker()},
            side.Path("printed"));
    }
    static bool IsRemuxPoint(const std::string& point) {
        for (const char* remuxOnly :
             {"wav-start", "wav-middle", "remux", "remux-end", "transplant"})
            if (point == remuxOnly) return true;
        return false;
    }
    std::string Marker() const { return side.Path("paused"); }
    std::string Printed() const { return ReadText(side.Path("printed")); }
    void ExpectAnInputRenamedOverAtFails(const char* point);

    // Nothing changed: the same names (hidden ones included), the input
    // and the earlier output as they were.
    void ExpectUnchanged(const std::string& what) {
        EXPECT_EQ(Sorted(dir.Entries()), before) << what;
        EXPECT_EQ(ReadFileBytes(movie), input) << what;
        EXPECT_EQ(ReadText(output), "earlier output") << what;
    }

    TempDir dir;   // the input and the output
    TempDir side;  // what the test itself needs
    std::string movie, output;
    std::vector<uint8_t> input;
    std::vector<std::string> before;
};

// Every stop signal at every point of the work: exit 128 + the signal, a
// short message, and the folder exactly as it was.
TEST_F(PausedRun, EveryStopSignalAtEveryPointLeavesTheFolderAsItWas) {
    // The remux's points, then the edit engine's.
    const std::pair<const char*, bool> points[] = {
        {"wav-start", true},   {"wav-middle", true}, {"remux", true},   {"remux-end", true},
        {"transplant", true},  {"verify", true},     {"commit", true},  {"edit-copy", false},
        {"edit-audio", false}, {"edit-moov", false}, {"verify", false}, {"commit", false}};
    const std::pair<int, const char*> signals[] = {
        {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [point, remux] : points) {
        for (const auto& [signal, name] : signals) {
            const std::string what =
                std::string(name) + " at " + point + (remux ? " (remux)" : " (edit)");
            fs::remove(Marker());
            auto run = Start(point, std::string(), remux);
            ASSERT_TRUE(WaitForFile(Marker())) << what << ": never reached\n" << Printed();
            run->Signal(signal);
            EXPECT_EQ(run->Wait(), 128 + signal) << what << "\n" << Printed();
            EXPECT_NE(Printed().find(std::string("interrupted by ") + name), std::string::npos)
                << what << "\n"
                << Printed();
            ExpectUnchanged(what);
        }
    }
}

// A second Ctrl-C while the first is being handled changes nothing.
TEST_F(PausedRun, RepeatedSignalsStillLeaveNothing) {
    for (const char* point : {"wav-middle", "remux", "verify", "edit-audio"}) {
        fs::remove(Marker());
        auto run = Start(point);
        ASSERT_TRUE(WaitForFile(Marker())) << point;
        for (int i = 0; i < 5; ++i) run->Signal(SIGINT);
        run->Signal(SIGTERM);
        // Signals pending together are handled in an order of the kernel's.
        const int status = run->Wait();
        EXPECT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << point << " " << status;
        ExpectUnchanged(point);
    }
}

TEST_F(PausedRun, ASecondConversionToTheSameOutputIsRefusedAndTheFirstCompletes) {
    auto first = Start("remux");
    ASSERT_TRUE(WaitForFile(Marker()));
    const ProgramRun second = RunProgram({movie, output}, kEnglish);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("Another conversion to " + output + " is running"), std::string::npos)
        << second.err;
    EXPECT_EQ(ReadText(output), "earlier output");
    fs::remove(Marker());  // the first goes on
    EXPECT_EQ(first->Wait(), 0) << Printed();
    EXPECT_TRUE(IsConvertedMovie(output));
    EXPECT_EQ(Sorted(dir.Entries()), before);  // in.mp4, out.mov: no lock, no debris
}

TEST_F(PausedRun, DebrisOfAKilledRunDoesNotBlockTheNextAndIsRemoved) {
    auto killed = Start("remux");
    ASSERT_TRUE(WaitForFile(Marker()));
    killed->Signal(SIGKILL);
    killed->Wait();
    EXPECT_GT(dir.Entries().size(), before.size());  // its hidden files are left
    EXPECT_EQ(ReadText(output), "earlier output");

    const ProgramRun next = RunProgram({movie, output}, kEnglish);
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_TRUE(IsConvertedMovie(output));
    EXPECT_EQ(Sorted(dir.Entries()), before);
}

TEST_F(PausedRun, AnInputRenamedOverMidRunFailsTheJob) {
    for (const char* point : {"wav-middle", "edit-audio"}) {
        SCOPED_TRACE(point);
        fs::remove(Marker());
        ExpectAnInputRenamedOverAtFails(point);
        fs::remove(movie);
        movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(48000)).path;
        input = ReadFileBytes(movie);
    }
}

void PausedRun::ExpectAnInputRenamedOverAtFails(const char* point) {
    const std::string other = testing::MakeMovie(side, "other.mp4", SmallMovie(96000)).path;
    auto run = Start(point);
    ASSERT_TRUE(WaitForFile(Marker()));
    fs::rename(other, movie);
    const auto replaced = ReadFileBytes(movie);
    fs::remove(Marker());
    EXPECT_EQ(run->Wait(), 1) << Printed();
    EXPECT_NE(Printed().find("the input movie was replaced while converting"), std::string::npos)
        << Printed();
    EXPECT_EQ(Sorted(dir.Entries()), before);
    EXPECT_EQ(ReadText(output), "earlier output");
    EXPECT_EQ(ReadFileBytes(movie), replaced);
}

class ExistingOutput : public ::testing::Test {
protected:
    TempDir dir;
};

// "spatialmux A.MP4 B.MP4" meant two clips: B.MP4 is footage and stays.
TEST_F(ExistingOutput, ACameraMovieIsNeverReplaced) {
    const auto a = testing::MakeMovie(dir, "A.mov", SmallMovie(4096));
    const auto b = testing::MakeMovie(dir, "B.mov", SmallMovie(2048));
    const auto bBefore = ReadFileBytes(b.path);
    const ProgramRun run = RunProgram({a.path, b.path}, kEnglish);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The output " + b.path + " is a camera movie"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("spatialmux -o FOLDER INPUT..."), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(b.path), bBefore);
    EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{"A.mov", "B.mov"}));
}

// Someone else's 360 movie (spherical video or spatial audio metadata
// without our marks) is footage too, with or without --overwrite, alone or
// in a batch; our own outputs, whatever their input said, are replaced.
TEST_F(ExistingOutput, AThreeSixtyMovieSpatialmuxDidNotWriteIsNeverReplaced) {
    const auto a = testing::MakeMovie(dir, "A.mov", SmallMovie(4096));
    auto foreign = SmallMovie(2048);
    foreign.convention = fixture::AmbisonicConvention::AmbiX;
    foreign.sphericalV2.write = true;  // its own V2, which an output keeps
    const auto b = testing::MakeMovie(dir, "B.mov", foreign);
    fs::create_directory(dir.Path("out"));
    const auto c = testing::MakeMovie(dir, "out/A.mov", foreign);
    const auto bBefore = ReadFileBytes(b.path);
    const auto cBefore = ReadFileBytes(c.path);
    const struct {
        std::vector<std::string> arguments;
        std::string says;
        int status;  // a skip is no failure of a batch
    } cases[] = {
        {{a.path, b.path},
         "The output " + b.path + " is a 360 movie that spatialmux did not write",
         1},
        {{"-o", dir.Path("out"), "--overwrite", a.path},
         dir.Path("out/A.mov") + " is a 360 movie that spatialmux did not write (footage) and is "
                                 "not replaced, not even with --overwrite",
         0},
    };
    for (const auto& row : cases) {
        const ProgramRun run = RunProgram(row.arguments, kEnglish);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(row.says), std::string::npos) << run.out << run.err;
    }
    EXPECT_EQ(ReadFileBytes(b.path), bBefore);
    EXPECT_EQ(ReadFileBytes(c.path), cBefore);
    EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{"A.mov", "B.mov", "out"}));
    // Our outputs carry our marks: converted again over themselves, of the
    // camera movie and of the movie whose own V2 they kept.
    for (const std::vector<std::string>& input :
         {std::vector<std::string>{a.path}, {b.path}, {"--remux", b.path}}) {
        std::vector<std::string> arguments = input;
        arguments.push_back(dir.Path("again.mov"));
        for (int round = 0; round < 2; ++round) {
            const ProgramRun run = RunProgram(arguments, kEnglish);
            EXPECT_EQ(run.status, 0) << input.back() << ": " << run.out << run.err;
        }
        fs::remove(dir.Path("again.mov"));
    }
}

TEST_F(ExistingOutput, AnEarlierOutputIsReplacedOnlyAfterSuccess) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    WriteText(dir.Path("out.mov"), "earlier output");
    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(IsConvertedMovie(dir.Path("out.mov")));
    EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{"in.mp4", "out.mov"}));
}

// Through a link the file it points to is replaced; the link stays, and
// nothing is left in either folder.
TEST_F(ExistingOutput, ThroughALinkTheTargetIsReplacedAndTheLinkStays) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    fs::create_directory(dir.Path("store"));
    WriteText(dir.Path("store/target.mov"), "earlier output");
    fs::create_symlink("store/target.mov", dir.Path("out.mov"));
    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(fs::is_symlink(dir.Path("out.mov")));
    EXPECT_EQ(fs::read_symlink(dir.Path("out.mov")), "store/target.mov");
    EXPECT_TRUE(IsConvertedMovie(dir.Path("store/target.mov")));
    EXPECT_EQ(Sorted(dir.Entries()), (std::vector<std::string>{"in.mp4", "out.mov", "store"}));
    EXPECT_EQ(fs::directory_iterator(dir.Path("store"))->path().filename(), "target.mov");
}

TEST_F(ExistingOutput, AFolderIsRefusedWithItsOwnMessage) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
    fs::create_directory(dir.Path("out.mov"));
    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The output " + dir.Path("out.mov") + " is a folder"), std::string::npos)
        << run.err;
    EXPECT_TRUE(fs::is_empty(dir.Path("out.mov")));
}

// Links planted under names this run might use (the old WAV name, names of
// the temporary pattern) are neither followed nor removed.
TEST_F(ExistingOutput, PlantedLinksAreNotFollowedNorRemoved) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    TempDir elsewhere;
    WriteText(elsewhere.Path("victim"), "not yours");
    const std::vector<std::string> planted = {".out.mov.wav", ".out.mov.spatialmux-aaaaaa.mov",
                                              ".out.mov.spatialmux-aaaaaa.wav"};
    for (const std::string& name : planted)
        fs::create_symlink(elsewhere.Path("victim"), dir.Path(name));
    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadText(elsewhere.Path("victim")), "not yours");
    for (const std::string& name : planted) EXPECT_TRUE(fs::is_symlink(dir.Path(name))) << name;
    EXPECT_EQ(dir.Entries().size(), 2 + planted.size());
}

class FailEarly : public ::testing::Test {
protected:
    void SetUp() override { movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048)).path; }
    // Refused with exit 1, the message on standard error, nothing written.
    void ExpectRefused(const ProgramRun& run, const std::string& message,
                       const std::vector<std::string>& entries) {
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("write file name"), std::string::npos) << run.out;
        EXPECT_EQ(Sorted(dir.Entries()), Sorted(entries));
    }
    TempDir dir;
    std::string movie;
};

TEST_F(FailEarly, InputsThatAreNoRegularFileAreRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo(dir.Path("pipe.mp4").c_str(), 0644), 0);
    fs::create_directory(dir.Path("folder.mp4"));
    for (const std::string name : {"pipe.mp4", "folder.mp4"}) {
        // A reader that opened the pipe would wait for a writer forever.
        TempDir side;
        SpawnedProgram run({dir.Path(name), dir.Path("out.mov")}, {"LANGUAGE=en"},
                           side.Path("printed"));
        ASSERT_TRUE(run.EndsWithin(20.0)) << name << " blocked";
        EXPECT_EQ(run.Wait(), 1);
        EXPECT_NE(ReadText(side.Path("printed"))
                      .find("The input " + dir.Path(name) + " is not a movie file"),
                  std::string::npos)
            << ReadText(side.Path("printed"));
        EXPECT_EQ(Sorted(dir.Entries()), Sorted({"in.mp4", "pipe.mp4", "folder.mp4"}));
    }
}

// --check reads only, and never waits on a pipe either.
TEST_F(FailEarly, CheckNeverOpensAPipe) {
    ASSERT_EQ(mkfifo(dir.Path("pipe.mp4").c_str(), 0644), 0);
    TempDir side;
    SpawnedProgram run({"--check", dir.Path("pipe.mp4")}, {"LANGUAGE=en"}, side.Path("printed"));
    ASSERT_TRUE(run.EndsWithin(20.0)) << "blocked";
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(ReadText(side.Path("printed")).find("not a regular file"), std::string::npos)
        << ReadText(side.Path("printed"));
}

TEST_F(FailEarly, AnUnreadableInputSaysPermissionDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    fs::permissions(movie, fs::perms::none);
    const ProgramRun run = RunProgram({movie, dir.Path("out.mov")}, kEnglish);
    ExpectRefused(run, "cannot be read (Permission denied)", {"in.mp4"});
}

TEST_F(FailEarly, OutputsThatCannotWorkAreRefusedNamingTheCause) {
    const struct {
        std::string output;
        std::string message;
    } cases[] = {
        {dir.Path("out.mkv"), "would be neither a QuickTime movie nor an MP4"},
        {dir.Path("out"), "would be neither a QuickTime movie nor an MP4"},
        {dir.Path("missing/out.mov"), "The folder " + dir.Path("missing") + " of the output"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = RunProgram({movie, c.output}, kEnglish);
        ExpectRefused(run, c.message, {"in.mp4"});
    }
    // In Japanese too.
    const ProgramRun ja = RunProgram({movie, dir.Path("out.mkv")}, "LANGUAGE=ja LC_ALL=C.UTF-8");
    ExpectRefused(ja, "出力名を .mov（16 ビット PCM オーディオ）か .mp4", {"in.mp4"});
}

// The longest name a file may have still converts: the hidden names beside
// it are cut to fit, and nothing of them is left.
TEST_F(FailEarly, AnOutputNameOf255BytesConverts) {
    const std::string name = std::string(251, 'n') + ".mov";
    const ProgramRun run = RunProgram({movie, dir.Path(name)}, kEnglish);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(IsConvertedMovie(dir.Path(name)));
    EXPECT_EQ(Sorted(dir.Entries()), Sorted({"in.mp4", name}));
}

// A reader of standard output that went away does not fail a conversion.
TEST(OutputSafety, ABrokenStandardOutputIsNoFailure) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const std::string command =
        "set -o pipefail; " + kEnglish + " " + testing::ShellQuote(SPATIALMUX_BINARY) + " " +
        testing::ShellQuote(movie.path) + " " + testing::ShellQuote(dir.Path("out.mov")) +
        " 2>/dev/null | (exec 0<&-; true)";
    const int raw = std::system(("/bin/bash -c " + testing::ShellQuote(command)).c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_TRUE(IsConvertedMovie(dir.Path("out.mov")));
}

// ---------------------------------------------------------------- on the disk
// The renames and syncs one run made, read from strace's logs (one file per
// thread, so a thread's calls are in their order). Nothing when strace is
// missing or cannot trace here.
struct TracedCall {
    std::string name;      // "fsync", "rename", ...
    std::string path;      // what was synced (the descriptor's file or folder)
    std::string from, to;  // of a rename
};

std::optional<std::vector<std::vector<TracedCall>>> TraceRun(
    const TempDir& side, const std::vector<std::string>& arguments) {
    if (std::system("command -v strace >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string prefix = side.Path("trace");
    std::string command =
        "exec strace -ff -y -qq -e trace=fsync,fdatasync,rename,renameat,renameat2"
        " -o " +
        testing::ShellQuote(prefix) + " " + testing::ShellQuote(SPATIALMUX_BINARY);
    for (const std::string& argument : arguments) command += " " + testing::ShellQuote(argument);
    command += " </dev/null >/dev/null 2>&1";
    const int status =
        std::system(("LANGUAGE=en /bin/bash -c " + testing::ShellQuote(command)).c_str());
    std::vector<std::vector<TracedCall>> threads;
    const std::regex sync(R"(^(fsync|fdatasync)\(\d+<(.*)>\) += 0$)");
    const std::regex rename(
        R"re(^(rename|renameat|renameat2)\([^"]*"([^"]*)"[^"]*"([^"]*)".*\) += 0$)re");
    for (const auto& entry : fs::directory_iterator(side.Root())) {
        if (entry.path().filename().string().rfind("trace.", 0) != 0) continue;
        std::vector<TracedCall>& calls = threads.emplace_back();
        std::ifstream log(entry.path());
        std::smatch match;
        for (std::string line; std::getline(log, line);) {
            if (std::regex_match(line, match, sync)) {
                calls.push_back({match[1], match[2], "", ""});
            } else if (std::regex_match(line, match, rename)) {
                calls.push_back({match[1], "", match[2], match[3]});
            }
        }
        fs::remove(entry.path());
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || threads.empty()) return std::nullopt;
    return threads;
}

// The rename that put `to` in place is preceded, in its thread, by a sync of
// the file it renamed and followed by a sync of `to`'s folder.
void ExpectDurableRename(const std::vector<std::vector<TracedCall>>& threads,
                         const std::string& to) {
    SCOPED_TRACE(to);
    const std::string folder = fs::path(to).parent_path().string();
    for (const std::vector<TracedCall>& calls : threads) {
        for (std::size_t at = 0; at < calls.size(); ++at) {
            if (calls[at].to != to) continue;
            const std::string from = calls[at].from;
            EXPECT_TRUE(std::any_of(calls.begin(), calls.begin() + at,
                                    [&](const TracedCall& c) { return c.path == from; }))
                << "no sync of " << from << " before its rename";
            EXPECT_TRUE(std::any_of(calls.begin() + at + 1, calls.end(),
                                    [&](const TracedCall& c) { return c.path == folder; }))
                << "no sync of " << folder << " after the rename";
            return;
        }
    }
    ADD_FAILURE() << "no rename to " << to;
}

// "converted" means on the disk: the output's data is synced before the
// rename that publishes it and its folder after the rename, for a new
// output as for a replaced one, with either engine, and the same for the
// batch's rename of each finished output.
TEST(DurableOutput, TheOutputIsOnTheDiskBeforeItsNameAndTheNameBeforeSuccess) {
    TempDir dir, side;
    const std::string movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096)).path;
    const auto probe = TraceRun(side, {"--version"});
    if (!probe) GTEST_SKIP() << "strace is not installed or cannot trace here";
    for (const bool remux : {true, false}) {
        for (int run = 0; run < 2; ++run) {  // a new output, then a replaced one
            std::vector<std::string> arguments{movie, dir.Path("out.mov")};
            if (remux) arguments.insert(arguments.begin(), "--remux");
            const auto traced = TraceRun(side, arguments);
            ASSERT_TRUE(traced) << remux;
            ExpectDurableRename(*traced, dir.Path("out.mov"));
        }
    }
    for (const bool overwrite : {false, true}) {
        std::vector<std::string> arguments{"-o", dir.Path("batch"), movie};
        if (overwrite) arguments.insert(arguments.begin(), "--overwrite");
        const auto traced = TraceRun(side, arguments);
        ASSERT_TRUE(traced) << overwrite;
        ExpectDurableRename(*traced, dir.Path("batch/.in.spatialmux-partial.mov"));
        ExpectDurableRename(*traced, dir.Path("batch/in.mov"));
    }
}

}  // namespace
}  // namespace spatialmux
