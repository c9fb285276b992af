// spatialmux --progress=machine as a front end reads it: the lines on
// standard error that start with the protocol's word, each one JSON object,
// from the start line through the progress to the one end line with the
// result, whatever the conversion's outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "control/MachineProgress.h"
#include "control/job/ProgressEvents.h"
#include "support/ConversionExpectations.h"
#include "support/RunProgram.h"
#include "support/SpawnedProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using Json = nlohmann::json;
using testing::ProgramRun;
using testing::RunProgram;
using testing::SmallMovie;
using testing::TempDir;

// The protocol's lines among everything the program wrote on standard
// error, each checked to be whole JSON.
std::vector<Json> ProtocolLines(const std::string& err) {
    std::vector<Json> lines;
    std::istringstream in(err);
    const std::string prefix = "spatialmux-progress ";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) != 0) continue;
        lines.push_back(Json::parse(line.substr(prefix.size()), nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << line;
    }
    return lines;
}

// Start line first, end line last, progress between: percentages rising
// within 0..100, phases from the protocol's list, "check" first.
void ExpectWellFormed(const std::vector<Json>& lines, const std::string& output) {
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front()["event"], "start");
    EXPECT_EQ(lines.front()["protocol"], 1);
    EXPECT_EQ(lines.front()["output"], output);
    EXPECT_EQ(lines.back()["event"], "end");
    EXPECT_EQ(lines.back()["output"], output);
    EXPECT_EQ(lines[1]["phase"], "check");
    double last = 0.0;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["event"], "progress") << lines[i];
        const double percent = lines[i]["percent"].get<double>();
        EXPECT_GE(percent, last) << lines[i];
        EXPECT_LE(percent, 100.0) << lines[i];
        last = percent;
        const std::string phase = lines[i]["phase"];
        EXPECT_TRUE(phase == "check" || phase == "audio" || phase == "remux" || phase == "edit" ||
                    phase == "metadata" || phase == "verify")
            << phase;
    }
}

TEST(ProgressProtocol, AConversionEndsConvertedWithItsOutputAndSize) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.MP4", SmallMovie(48000));
    const std::string output = dir.Path("out.mov");
    const ProgramRun run = RunProgram({"--progress=machine", movie.path, output});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Json> lines = ProtocolLines(run.err);
    ExpectWellFormed(lines, output);
    EXPECT_EQ(lines.back()["result"], "converted");
    EXPECT_EQ(lines.back()["size"].get<uint64_t>(), std::filesystem::file_size(output));
    EXPECT_FALSE(lines.back().contains("message"));
    // The phases of either engine, the output verified last.
    EXPECT_EQ(lines[lines.size() - 2]["phase"], "verify");
    EXPECT_EQ(lines[lines.size() - 2]["percent"], 100.0);
}

// A refusal ends the same way, with the text the user would have read, in
// the user's language (the keys stay English).
TEST(ProgressProtocol, ARefusalEndsWithTheUsersText) {
    TempDir dir;
    std::ofstream(dir.Path("notes.txt")) << "not a movie";
    const std::string output = dir.Path("out.mov");
    const ProgramRun run = RunProgram({"--progress=machine", dir.Path("notes.txt"), output},
                                      "LANGUAGE=ja LC_ALL=C.UTF-8");
    EXPECT_EQ(run.status, 1);
    const std::vector<Json> lines = ProtocolLines(run.err);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back()["event"], "end");
    EXPECT_EQ(lines.back()["result"], "refused");
    const std::string message = lines.back()["message"];
    EXPECT_NE(message.find("カメラの動画ではありません"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(output));

    const ProgramRun wrong = RunProgram({"--progress=machine", "-o", dir.Path("x"), "a.MP4"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("--progress goes with INPUT OUTPUT"), std::string::npos) << wrong.err;
}

// The end line of a refusal names its cause in English, as the "error!!"
// line does, and the reader the batch and the queue window share takes it;
// lines that are not the protocol's whole lines are nothing to it.
TEST(ProgressProtocol, TheEndNamesTheCauseForTheReader) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.MP4", SmallMovie(48000));
    const ProgramRun run = RunProgram({"--progress=machine", movie.path, movie.path});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("error!! the output is the input file\n"), std::string::npos) << run.out;
    const std::string last = run.err.substr(run.err.rfind("spatialmux-progress "));
    const auto end = ParseProgressLine(last.substr(0, last.find('\n')));
    ASSERT_TRUE(end) << last;
    EXPECT_EQ(end->kind, ProgressEvent::Kind::End);
    EXPECT_EQ(end->result, "refused");
    EXPECT_EQ(end->cause, "the output is the input file");
    EXPECT_FALSE(end->message.empty());
    for (const char* line : {"error!! the output is the input file", "spatialmux-progress {",
                             "spatialmux-progress [1]", "spatialmux-progress {\"event\":\"later\"}",
                             " spatialmux-progress {\"event\":\"start\"}"}) {
        EXPECT_FALSE(ParseProgressLine(line)) << line;
    }
    const auto progress =
        ParseProgressLine("spatialmux-progress {\"event\":\"progress\",\"percent\":12.5}");
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->percent, 12.5);
}

// A name can hold a line break and a forged line after it: on every refusal
// path a reader still sees exactly one end line, the program's, "refused",
// and the name in the alert shows its line break as \n.
TEST(ProgressProtocol, ANameCannotForgeALine) {
    TempDir dir;
    const std::string forged =
        "x\nspatialmux-progress "
        "{\"event\":\"end\",\"result\":\"converted\",\"output\":\"o.mov\",\"size\":1}\n";
    const auto movie = testing::MakeMovie(dir, "in.MP4", SmallMovie(4800));
    const std::string folder = dir.Path(forged + "folder.mov");
    std::filesystem::create_directory(folder);
    const struct {
        const char* path;
        std::string input, output;
    } cases[] = {
        {"missing input", dir.Path(forged + "missing.MP4"), dir.Path("out.mov")},
        {"missing output folder", movie.path, dir.Path(forged + "nowhere") + "/out.mov"},
        {"output is a folder", movie.path, folder},
        {"input is a folder", folder, dir.Path("out.mov")},
        {"wrong extension", movie.path, dir.Path(forged + "out.txt")},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.path);
        const ProgramRun run =
            RunProgram({"--progress=machine", "--", refused.input, refused.output}, "LANGUAGE=en");
        EXPECT_NE(run.status, 0);
        int ends = 0;
        for (const Json& line : ProtocolLines(run.err)) {
            if (line["event"] != "end") continue;
            ++ends;
            EXPECT_EQ(line["result"], "refused") << line;
        }
        EXPECT_EQ(ends, 1) << run.err;
    }
    const ProgramRun missing = RunProgram(
        {"--progress=machine", "--", dir.Path(forged + "missing.MP4"), dir.Path("out.mov")},
        "LANGUAGE=en");
    bool shown = false;  // on a line of its own for people, the name whole
    std::istringstream lines(missing.err);
    for (std::string line; std::getline(lines, line);) {
        shown = shown || (line.rfind("spatialmux-progress ", 0) != 0 &&
                          line.find("x\\nspatialmux-progress {") != std::string::npos);
    }
    EXPECT_TRUE(shown) << missing.err;
    std::vector<std::string> left = dir.Entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in.MP4", forged + "folder.mov"}));
}

// An alert on the protocol's stream, whatever names it holds: its own line
// breaks kept, any line that would start with the word marked, every other
// control character written out.
TEST(ProgressProtocol, AnAlertCannotStartAProtocolLine) {
    const struct {
        std::string alert, shown;
    } cases[] = {
        {"A.MP4 cannot be read", "A.MP4 cannot be read"},
        {"first line\nsecond line", "first line\nsecond line"},
        {"spatialmux-progress {\"event\":\"end\"}", "> spatialmux-progress {\"event\":\"end\"}"},
        {"x\nspatialmux-progress {}\n", "x\n> spatialmux-progress {}\n"},
        {"a\rspatialmux-progress \x1b[2K", "a\\rspatialmux-progress \\x1b[2K"},
    };
    for (const auto& alert : cases) {
        EXPECT_EQ(MachineProgress::ForPeople(alert.alert), alert.shown) << alert.alert;
    }
}

// A stop signal ends it as on the terminal (nothing left, 128 + signal),
// and the last line says so.
TEST(ProgressProtocol, AStopSignalEndsStopped) {
    TempDir dir;
    TempDir side;
    const auto movie = testing::MakeMovie(dir, "in.MP4", SmallMovie(48000));
    const std::string output = dir.Path("out.mov");
    testing::SpawnedProgram program({"--progress=machine", movie.path, output},
                                    {"LANGUAGE=en", "SPATIALMUX_TEST_PAUSE_AT=verify",
                                     "SPATIALMUX_TEST_PAUSE_FILE=" + side.Path("paused")},
                                    side.Path("printed"));
    ASSERT_TRUE(testing::WaitForFile(side.Path("paused")));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 128 + SIGTERM);
    const auto printed = testing::ReadFileBytes(side.Path("printed"));
    const std::vector<Json> lines = ProtocolLines(std::string(printed.begin(), printed.end()));
    ExpectWellFormed(lines, output);
    EXPECT_EQ(lines.back()["result"], "stopped");
    EXPECT_NE(lines.back()["message"].get<std::string>().find("SIGTERM"), std::string::npos);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.MP4"});
}

}  // namespace
}  // namespace spatialmux
