// The command line parsed into a request: which mode each form selects and
// which forms are wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/CommandLine.h"

namespace spatialmux {
namespace {

using Mode = CommandLineRequest::Mode;

CommandLineRequest Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "spatialmux");
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineParse, PositionalCountChoosesTheMode) {
    EXPECT_EQ(Parse({}).mode, Mode::Windowed);
    const auto one = Parse({"movie.MP4"});
    EXPECT_EQ(one.mode, Mode::Windowed);
    EXPECT_EQ(one.paths, std::vector<std::string>{"movie.MP4"});
    const auto two = Parse({"in.MP4", "out.mov"});
    EXPECT_EQ(two.mode, Mode::Convert);
    EXPECT_EQ(two.paths, (std::vector<std::string>{"in.MP4", "out.mov"}));
    const auto three = Parse({"a", "b", "c"});
    EXPECT_EQ(three.mode, Mode::Wrong);
    EXPECT_EQ(three.problem, "") << "the usage hint alone says it";
    // YES is an output name to the parser; the entry shows alert1 for it.
    EXPECT_EQ(Parse({"in.MP4", "YES"}).mode, Mode::Convert);
}

TEST(CommandLineParse, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(Parse({"-h"}).mode, Mode::Help);
    EXPECT_EQ(Parse({"--help"}).mode, Mode::Help);
    EXPECT_EQ(Parse({"a", "b", "c", "--help"}).mode, Mode::Help);
    EXPECT_EQ(Parse({"--version"}).mode, Mode::Version);
}

TEST(CommandLineParse, CheckTakesEveryFileAndJson) {
    const auto check = Parse({"--check", "a.MP4", "b.mov", "c.mp4"});
    EXPECT_EQ(check.mode, Mode::Check);
    EXPECT_EQ(check.paths, (std::vector<std::string>{"a.MP4", "b.mov", "c.mp4"}));
    EXPECT_FALSE(check.json);
    const auto json = Parse({"a.MP4", "--json", "--check"});
    EXPECT_EQ(json.mode, Mode::Check);
    EXPECT_TRUE(json.json);
    EXPECT_EQ(Parse({"--check"}).mode, Mode::Wrong);
    EXPECT_EQ(Parse({"--json", "a", "b"}).mode, Mode::Wrong) << "--json alone converts nothing";
}

TEST(CommandLineParse, UnknownOptionsAreWrongAndDashDashEndsOptions) {
    for (const auto& arguments :
         {std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"-x", "in", "out"},
          std::vector<std::string>{"--nonsense=1"}}) {
        const auto request = Parse(arguments);
        EXPECT_EQ(request.mode, Mode::Wrong) << arguments.front();
        EXPECT_FALSE(request.problem.empty());
        EXPECT_EQ(request.problem.find('\n'), std::string::npos) << "one line";
    }
    const auto dashed = Parse({"--", "-odd name.MP4", "out.mov"});
    EXPECT_EQ(dashed.mode, Mode::Convert);
    EXPECT_EQ(dashed.paths.front(), "-odd name.MP4");
}

TEST(CommandLineParse, AcceptShortAudioIsAFlagOfTheConversion) {
    const auto request = Parse({"--accept-short-audio", "in.MP4", "out.mov"});
    EXPECT_EQ(request.mode, Mode::Convert);
    EXPECT_TRUE(request.acceptShortAudio);
    EXPECT_FALSE(Parse({"in.MP4", "out.mov"}).acceptShortAudio);
}

TEST(CommandLineParse, AudioOptionsGoWithAConversionOrABatch) {
    const auto convert = Parse({"--audio", "OPUS", "--audio-bitrate", "256k", "in.MP4", "o.mp4"});
    EXPECT_EQ(convert.mode, Mode::Convert);
    EXPECT_EQ(convert.audio, "opus") << "one spelling for the batch and its children";
    EXPECT_EQ(convert.audioBitRate, "256k");
    const auto batch = Parse({"-o", "out", "--audio", "aac", "--format", "mp4", "card"});
    EXPECT_EQ(batch.mode, Mode::Batch);
    EXPECT_EQ(batch.audio, "aac");
    EXPECT_EQ(batch.format, "mp4");
    for (const auto& arguments : {std::vector<std::string>{"--audio", "flac", "in", "out.mp4"},
                                  std::vector<std::string>{"--audio", "aac", "in.MP4"},
                                  std::vector<std::string>{"--audio-bitrate", "1M"},
                                  std::vector<std::string>{"--format", "mp4", "in", "out.mp4"},
                                  std::vector<std::string>{"-o", "d", "--format", "mkv", "in"},
                                  std::vector<std::string>{"--check", "--audio", "aac", "f"}}) {
        const auto request = Parse(arguments);
        EXPECT_EQ(request.mode, Mode::Wrong) << arguments[0] << " " << arguments[1];
        EXPECT_EQ(request.problem.find('\n'), std::string::npos) << "one line";
    }
}

TEST(CommandLineParse, RotateAudioTurnsAConversionABatchAMapOrARender) {
    struct Row {
        std::vector<std::string> arguments;
        Mode mode;
        AmbisonicRotation turn;
    };
    for (const Row& row : {
             Row{{"--rotate-audio", "90", "in.mp4", "out.mov"}, Mode::Convert, {90, 0, 0}},
             Row{{"--rotate-audio", "-90,10,-5", "in", "out"}, Mode::Convert, {-90, 10, -5}},
             Row{{"--rotate-audio=270", "in", "out"}, Mode::Convert, {-90, 0, 0}},
             Row{{"in", "out"}, Mode::Convert, {}},
             Row{{"-o", "d", "--rotate-audio", "12.5", "card"}, Mode::Batch, {12.5, 0, 0}},
             Row{{"--soundmap", "a.mov", "--rotate-audio", "0,90"}, Mode::SoundMap, {0, 90, 0}},
             Row{{"--binaural", "--rotate-audio", "180", "i", "o"}, Mode::Binaural, {180, 0, 0}},
         }) {
        const auto request = Parse(row.arguments);
        EXPECT_EQ(request.mode, row.mode) << row.arguments[0] << " " << request.problem;
        EXPECT_EQ(request.rotateAudio, row.turn) << row.arguments[0] << " " << row.arguments[1];
    }
    for (const auto& arguments : {
             std::vector<std::string>{"--rotate-audio", "left", "in", "out"},
             std::vector<std::string>{"--rotate-audio", "nan", "in", "out"},
             std::vector<std::string>{"--rotate-audio", "1e999", "in", "out"},
             std::vector<std::string>{"--rotate-audio", "1,2,3,4", "in", "out"},
             std::vector<std::string>{"--rotate-audio", "90", "in"},
             std::vector<std::string>{"--rotate-audio", "90", "--check", "in"},
         }) {
        const auto request = Parse(arguments);
        EXPECT_EQ(request.mode, Mode::Wrong) << arguments[1] << " " << arguments[2];
        EXPECT_EQ(request.problem.find('\n'), std::string::npos) << "one line";
    }
}

}  // namespace
}  // namespace spatialmux
