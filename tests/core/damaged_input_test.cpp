// Damaged camera movies through the real program: a box that would make the
// output wrong is refused at the check, with the file and the cause on
// standard output, nothing written and the input unchanged; short audio
// tables are refused unless accepted; an "II" maker note gives the gain its
// model calls for.
#include <gtest/gtest.h>

#include "audio/ByteOrder.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::SmallMovie;
using testing::TempDir;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

void PutBE32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Offset of the first `pattern` at or after `from`.
std::size_t Find(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern,
                 std::size_t from) {
    const auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                pattern.begin(), pattern.end());
    EXPECT_NE(at, bytes.end());
    return static_cast<std::size_t>(at - bytes.begin());
}

// A refusal at the check: exit 1, the cause line and then "error!!" on
// standard output, alert3, nothing beside the input, the input unchanged.
void ExpectRefused(const TempDir& dir, const std::string& input, const std::string& cause,
                   const std::vector<std::string>& options = {}) {
    const std::vector<uint8_t> before = ReadFileBytes(input);
    std::vector<std::string> arguments = options;
    arguments.push_back(input);
    arguments.push_back(dir.Path("out.mov"));
    const ProgramRun run = RunProgram(arguments, kEnglish);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    const std::string line = input + ": " + cause + "\nerror!!\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("not a camera movie"), std::string::npos) << run.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
    EXPECT_EQ(ReadFileBytes(input), before);
}

struct Sa3dDamage {
    const char* name;
    std::size_t offset;  // in the SA3D box
    int width;           // 1 or 4 bytes
    uint32_t value;
    const char* detail;
};

class DamagedSa3d : public ::testing::TestWithParam<Sa3dDamage> {};

TEST_P(DamagedSa3d, IsRefusedWithItsCause) {
    const Sa3dDamage& damage = GetParam();
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
    std::vector<uint8_t> bytes = ReadFileBytes(movie.path);
    // The box the reader takes is the one in the private audio track.
    const std::size_t sa3d = Find(bytes, {'S', 'A', '3', 'D'}, movie.layout.zatrOffset) - 4;
    if (damage.width == 1) {
        bytes[sa3d + damage.offset] = static_cast<uint8_t>(damage.value);
    } else {
        PutBE32(bytes, sa3d + damage.offset, damage.value);
    }
    WriteBytes(movie.path, bytes);
    ExpectRefused(
        dir, movie.path,
        std::string("the SA3D box is not first-order ambisonics (") + damage.detail + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DamagedSa3d,
    ::testing::Values(Sa3dDamage{"Version1", 8, 1, 1, "version 1"},
                      Sa3dDamage{"AmbisonicType", 9, 1, 1, "ambisonic type 1"},
                      Sa3dDamage{"SecondOrder", 10, 4, 2, "order 2"},
                      Sa3dDamage{"FuMaOrdering", 14, 1, 1, "channel ordering 1, not ACN"},
                      Sa3dDamage{"N3dNormalization", 15, 1, 1, "normalization 1, not SN3D"},
                      Sa3dDamage{"NineChannels", 16, 4, 9, "9 channels, not 4"},
                      Sa3dDamage{"MapEntryFour", 24, 4, 4, "channel map entry 1 is 4"},
                      Sa3dDamage{"MapEntryAllOnes", 32, 4, 0xFFFFFFFF,
                                 "channel map entry 3 is 4294967295"},
                      Sa3dDamage{"MapEntryTwice", 28, 4, 0, "channel map entry 2 is 0"},
                      Sa3dDamage{"BoxSize", 0, 4, 40, "box size 40, not 36"}),
    [](const ::testing::TestParamInfo<Sa3dDamage>& param) { return param.param.name; });

TEST(DamagedVideoSampleEntry, ChildrenThatDoNotTileTheEntryAreRefused) {
    // The entry holds the 86 bytes of its header and fields, avcC, then pasp
    // (16 bytes).
    const struct {
        bool pasp;  // which child's size is changed: pasp, or avcC
        uint32_t size;
        const char* cause;
    } cases[] = {
        {true, 20, "its box 'pasp' has size 20"},
        {true, 12, "4 bytes left over after its boxes"},
        {false, 0, "its box 'avcC' has size 0"},
        {false, 7, "its box 'avcC' has size 7"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.cause);
        TempDir dir;
        const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
        std::vector<uint8_t> bytes = ReadFileBytes(movie.path);
        const std::size_t entryAt = Find(bytes, movie.layout.videoSampleEntry, 0);
        std::size_t childAt = entryAt + 86;
        if (test.pasp) childAt += ReadBE32(bytes.data() + childAt);
        PutBE32(bytes, childAt, test.size);
        WriteBytes(movie.path, bytes);
        ExpectRefused(dir, movie.path,
                      std::string("the video sample entry is damaged (") + test.cause + ")");
    }
}

// A movie of 96,000 instants whose private co64 table says one chunk.
testing::TestMovie ShortTablesMovie(const TempDir& dir, fixture::CameraMovieOptions* options) {
    *options = SmallMovie(96000);
    auto movie = testing::MakeMovie(dir, "in.mp4", *options);
    std::vector<uint8_t> bytes = ReadFileBytes(movie.path);
    const std::size_t co64 = Find(bytes, {'c', 'o', '6', '4'}, movie.layout.zatrOffset);
    PutBE32(bytes, co64 + 8, 1);  // behind the type: version and flags, then the count
    WriteBytes(movie.path, bytes);
    return movie;
}

TEST(ShortAudioTables, AreRefusedWithBothFiguresUnlessAccepted) {
    TempDir dir;
    fixture::CameraMovieOptions options;
    const auto movie = ShortTablesMovie(dir, &options);
    const std::string warning = movie.path +
                                ": warning: the audio tables hold 1024 of the 96000 sampling "
                                "instants of the audio track's duration\n";
    ExpectRefused(dir, movie.path,
                  "the audio is shorter than the movie says (to convert what there is, use "
                  "--accept-short-audio)");
    EXPECT_NE(RunProgram({movie.path, dir.Path("out.mov")}, kEnglish).out.find(warning),
              std::string::npos);

    const auto before = ReadFileBytes(movie.path);
    const ProgramRun run =
        RunProgram({"--accept-short-audio", movie.path, dir.Path("out.mov")}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(warning), std::string::npos) << run.out;
    EXPECT_EQ(ReadFileBytes(movie.path), before);
    // The output carries the audio the tables hold: the first 1,024 instants.
    const auto out = testing::ReadMediaPackets(dir.Path("out.mov"));
    ASSERT_EQ(out.size(), 2u);
    options.totalSamples = 1024;
    const auto expected = testing::ExpectedConvertedAudio(
        options, ChooseGain(options.softwareText, options.makerNoteFlag != 0));
    EXPECT_TRUE(out[1].Bytes() == expected);
}

TEST(ShortAudioTables, TheOptionStandsOnlyBeforeTwoPaths) {
    EXPECT_EQ(RunProgram({"--accept-short-audio"}).status, 2);
    EXPECT_EQ(RunProgram({"--accept-short-audio", "a.mp4"}).status, 2);
    EXPECT_EQ(RunProgram({"--accept-short-audio", "a", "b", "c"}).status, 2);
    EXPECT_NE(RunProgram({"--help"}).out.find("--accept-short-audio"), std::string::npos);
}

TEST(ShortAudioTables, TableSamplesFollowTheRunsOverEveryChunk) {
    TempDir dir;
    auto options = SmallMovie(400);
    options.chunkRuns = {{1, 150}, {3, 60}};  // chunks of 150, 150, 60 and 60 (40 used)
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    MovieReader reader(kFrameSize);
    ASSERT_EQ(reader.Open(movie.path, kFrameSize), MovieReader::kOpenReady);
    EXPECT_EQ(reader.TableSamples(), 420);
    EXPECT_EQ(reader.GetTotalSamples(), 400);
}

// The recognised model with its flag set asks for -3 dB; read in the wrong
// byte order the note would give the default +3 dB.
TEST(LittleEndianMakerNote, GivesTheModelsGainInTheOutput) {
    for (const uint32_t firstDirectory : {8u, 40u}) {
        SCOPED_TRACE(firstDirectory);
        TempDir dir;
        auto options = SmallMovie(3000);
        options.makerNoteFlag = 1;
        options.makerNoteLittleEndian = true;
        options.makerNoteFirstDirectory = firstDirectory;
        const auto movie = testing::MakeMovie(dir, "in.mp4", options);

        MovieReader reader(kFrameSize);
        ASSERT_EQ(reader.Open(movie.path, kFrameSize), MovieReader::kOpenReady);
        EXPECT_EQ(reader.SoftwareText(), kCameraModelLiteral);
        EXPECT_TRUE(reader.MakerNoteFlag());

        const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const auto out = testing::ReadMediaPackets(dir.Path("out.mov"));
        ASSERT_EQ(out.size(), 2u);
        const float gain = ChooseGain(options.softwareText, true);
        ASSERT_NE(gain, ChooseGain(options.softwareText, false));
        EXPECT_TRUE(out[1].Bytes() == testing::ExpectedConvertedAudio(options, gain));
    }
}

}  // namespace
}  // namespace spatialmux
