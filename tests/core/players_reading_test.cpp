// Movies that players read otherwise than the tables inside stbl say: a
// second chunk offset, sample-to-chunk or sample size table somewhere else
// in the video track (libavformat takes the first offsets and chunk runs it
// meets and the last sizes), or a moov nested in a top-level udta in front
// of the real one (libavformat reads the first moov it meets). Each is made
// from a good fixture movie, the second table differing from stbl's where a
// player would place video on the audio. Through both engines every one
// converts with each video packet byte for byte as libavformat reads the
// input, or is refused with nothing left; the edit never runs on them. The
// verification fails where the input's index and tables disagree, even
// when the output's packets are the input's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fixture/SecondTables.h"
#include "output/OutputVerification.h"
#include "support/ConversionExpectations.h"
#include "support/ConvertedOutputChecks.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ExpectSameVideo;
using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr const char* kEnglish = "LANG=C LC_ALL=C LANGUAGE=";

struct Shape {
    std::string table;  // the second table; "" for the nested moov
    fixture::SecondTablePlace place;
    std::string name;
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

std::vector<Shape> AllShapes() {
    using Place = fixture::SecondTablePlace;
    const std::pair<Place, const char*> places[] = {
        {Place::Edts, "edts"}, {Place::TrackUdta, "track_udta"},
        {Place::Mdia, "mdia"}, {Place::Minf, "minf"},
        {Place::Dinf, "dinf"}, {Place::SampleEntry, "sample_entry"}};
    std::vector<Shape> shapes;
    for (const char* table : {"co64", "stco", "stsc", "stsz"}) {
        for (const auto& [place, where] : places) {
            shapes.push_back({table, place, std::string(table) + "_in_" + where});
        }
    }
    shapes.push_back({"", Place::Edts, "moov_in_top_level_udta"});
    return shapes;
}

// The movie of `shape` at `path`, made from a good fixture movie.
void MakeShape(const TempDir& dir, const Shape& shape, const std::string& path) {
    auto options = testing::SmallMovie(9000);
    const auto good = testing::MakeMovie(dir, "good.mp4", options);
    ASSERT_FALSE(good.layout.audioChunkOffsets.empty());
    std::vector<uint8_t> bytes = ReadFileBytes(good.path);
    std::filesystem::remove(good.path);
    const uint64_t audioChunk = good.layout.audioChunkOffsets[0];
    std::string error;
    ASSERT_TRUE(shape.table.empty()
                    ? fixture::AddNestedMoov(bytes, audioChunk, &error)
                    : fixture::AddSecondTable(bytes, shape.table, shape.place, audioChunk, &error))
        << error;
    WriteFileBytes(path, bytes);
}

class PlayersReading : public ::testing::TestWithParam<Shape> {};

TEST_P(PlayersReading, ConvertsTheVideoPlayersReadOrLeavesNothing) {
    const Shape& shape = GetParam();
    TempDir dir;
    const std::string input = dir.Path("in.mp4");
    ASSERT_NO_FATAL_FAILURE(MakeShape(dir, shape, input));
    const auto before = ReadFileBytes(input);

    std::vector<std::string> entries = {"in.mp4"};
    for (const bool remux : {false, true}) {
        SCOPED_TRACE(remux ? "remux" : "edit");
        const std::string name = remux ? "remux.mov" : "edit.mov";
        std::vector<std::string> arguments = {input, dir.Path(name)};
        if (remux) arguments.insert(arguments.begin(), "--remux");
        const ProgramRun run = RunProgram(arguments, kEnglish);
        // The edit never writes such a movie: what converts went through
        // the remux.
        if (!remux && run.status == 0) {
            EXPECT_NE(run.out.find("cannot be edited in place"), std::string::npos) << run.out;
        }
        if (run.status == 0) {
            ExpectSameVideo(input, dir.Path(name));
            entries.push_back(name);
        } else {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
        }
    }
    EXPECT_EQ(ReadFileBytes(input), before) << "the input must not change";
    std::vector<std::string> left = dir.Entries();
    std::sort(left.begin(), left.end());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(left, entries);
}

INSTANTIATE_TEST_SUITE_P(SecondTables, PlayersReading, ::testing::ValuesIn(AllShapes()),
                         [](const auto& shape) { return shape.param.name; });

// An input whose chunk offsets players take from edts, the first video chunk
// elsewhere than stbl says: an output with the very packets players read
// (the input itself) still fails, since the input's index and tables
// disagree about that packet.
TEST(PlayersReading, VerificationFailsWhereTheInputsIndexAndTablesDisagree) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        MakeShape(dir, {"co64", fixture::SecondTablePlace::Edts, "edts"}, dir.Path("in.mp4")));
    const auto verdict = output::VerifyOutput(
        dir.Path("in.mp4"), {dir.Path("in.mp4"), 9000, true, output::AudioCodec::Pcm});
    EXPECT_FALSE(verdict.ok);
    EXPECT_NE(verdict.reason.find("the input's video index and tables disagree (video packet 1)"),
              std::string::npos)
        << verdict.reason;
}

// Such an input is refused before any work (the remux never runs), as a
// refusal, not as a failure after the work.
TEST(PlayersReading, AnInputWhoseIndexAndTablesDisagreeIsRefusedBeforeTheRemux) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        MakeShape(dir, {"co64", fixture::SecondTablePlace::Edts, "edts"}, dir.Path("in.mp4")));
    for (const std::vector<std::string>& engine :
         {std::vector<std::string>{}, std::vector<std::string>{"--remux"}}) {
        std::vector<std::string> arguments = engine;
        arguments.insert(arguments.end(),
                         {"--progress=machine", dir.Path("in.mp4"), dir.Path("out.mov")});
        const ProgramRun run = RunProgram(arguments, kEnglish);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.out.find("its video index and tables disagree (video packet 1)"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.err.find("\"result\":\"refused\""), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("\"phase\":\"remux\""), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out.mov")));
    }
}

}  // namespace
}  // namespace spatialmux
