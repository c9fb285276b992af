// The reader on movies from the fixture builder: real H.264/HEVC video
// tracks, the camera's full box layout and its known audio pattern.

#include "movie/MovieReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "fixture/CameraMovieBuilder.h"
#include "movie_reader_test_movie.h"
#include "support/CaptureStdout.h"

namespace spatialmux {
namespace {

using fixture::CameraMovieLayout;
using fixture::CameraMovieOptions;

struct Written {
    explicit Written(const CameraMovieOptions& options, const std::string& name = "camera.mov")
        : file(name) {
        std::string error;
        ok = fixture::WriteCameraMovie(file.path, options, &layout, &error);
        EXPECT_TRUE(ok) << error;
    }
    testmovie::TempFile file;
    CameraMovieLayout layout;
    bool ok = false;
};

int32_t OpenResult(const CameraMovieOptions& options) {
    Written written(options);
    MovieReader reader(1024);
    return reader.Open(written.file.path, 1024);
}

class CameraWalkTest : public ::testing::TestWithParam<fixture::VideoCodec> {};

TEST_P(CameraWalkTest, KeepsThePiecesExactly) {
    CameraMovieOptions options;
    options.codec = GetParam();
    options.makerNoteFlag = 1;
    options.totalSamples = 4800;
    Written written(options);
    ASSERT_TRUE(written.ok);
    MovieReader reader(1024);
    ASSERT_EQ(reader.Open(written.file.path, 1024), MovieReader::kOpenReady);
    const CameraMovieLayout& layout = written.layout;
    EXPECT_EQ(reader.VideoSampleEntry(), layout.videoSampleEntry);
    const std::string format(reader.VideoSampleEntry().begin() + 4,
                             reader.VideoSampleEntry().begin() + 8);
    EXPECT_EQ(format, GetParam() == fixture::VideoCodec::H264 ? "avc1" : "hvc1");
    EXPECT_EQ(reader.UuidBox(), layout.uuidBox);
    EXPECT_EQ(reader.Sa3dBox(), layout.sa3dBox);
    EXPECT_EQ(reader.Sa3dBox().size(), 36u);
    EXPECT_EQ(reader.SoftwareText(), "ZORVA VELIX V Ver 1.1");
    EXPECT_TRUE(reader.MakerNoteFlag());
    EXPECT_EQ(reader.MakerDataOffset(), layout.zatrOffset);
    EXPECT_EQ(reader.Track().chunkOffsets, layout.audioChunkOffsets);
    EXPECT_EQ(reader.GetTotalSamples(), 4800);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CameraWalkTest,
                         ::testing::Values(fixture::VideoCodec::H264, fixture::VideoCodec::HEVC));

TEST(CameraWalkTest, RefusalMatrix) {
    struct Case {
        const char* name;
        void (*change)(CameraMovieOptions&);
        int32_t result;
    };
    const Case cases[] = {
        {"default", [](CameraMovieOptions&) {}, 0},
        {"mdat64", [](CameraMovieOptions& o) { o.mdat64 = true; }, 0},
        {"moovFirst", [](CameraMovieOptions& o) { o.moovBeforeMdat = true; }, 0},
        {"otherText", [](CameraMovieOptions& o) { o.softwareText = "V Ver 1.0"; }, 0},
        {"999before", [](CameraMovieOptions& o) { o.boxesBeforeMoov = 997; }, 0},
        {"1000before", [](CameraMovieOptions& o) { o.boxesBeforeMoov = 998; }, 2},
        {"stco", [](CameraMovieOptions& o) { o.useStco = true; }, 2},
        {"44100", [](CameraMovieOptions& o) { o.audioTimescale = 44100; }, 2},
        {"twoChannels", [](CameraMovieOptions& o) { o.stszSampleSize = 4; }, 2},
        {"notSowt", [](CameraMovieOptions& o) { o.audioFormat = "twos"; }, 2},
        {"mp4v", [](CameraMovieOptions& o) { o.videoFormatOverride = "mp4v"; }, 2},
        {"noSa3d", [](CameraMovieOptions& o) { o.writeSa3d = false; }, 2},
    };
    for (const Case& test : cases) {
        CameraMovieOptions options;
        options.totalSamples = 2048;
        options.framesPerSecond = 10;
        test.change(options);
        EXPECT_EQ(OpenResult(options), test.result) << test.name;
    }
}

TEST(CameraWalkTest, MissingFileAndMissingMoov) {
    MovieReader missing(1024);
    const std::string path = "/nonexistent/dir/camera.mov";
    testing::CaptureStdout();
    EXPECT_EQ(missing.Open(path, 1024), MovieReader::kOpenFileError);
    EXPECT_EQ(testing::CapturedStdout(), path + ":file open error\n");

    CameraMovieOptions options;
    options.totalSamples = 2048;
    Written written(options);
    ASSERT_TRUE(written.ok);
    {
        std::fstream file(written.file.path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(written.layout.moovOffset + 4));
        file.write("free", 4);
    }
    MovieReader reader(1024);
    EXPECT_EQ(reader.Open(written.file.path, 1024), MovieReader::kOpenRefused);
}

struct FrameCase {
    const char* name;
    std::vector<fixture::ChunkRunSpec> runs;
    int32_t totalSamples;
};

class CameraFramesTest : public ::testing::TestWithParam<FrameCase> {};

// Every frame against the builder's pattern through the float chain.
TEST_P(CameraFramesTest, MatchExpectedSamples) {
    CameraMovieOptions options;
    options.chunkRuns = GetParam().runs;
    options.totalSamples = GetParam().totalSamples;
    options.framesPerSecond = 10;
    options.seed = 3;
    Written written(options);
    ASSERT_TRUE(written.ok);
    MovieReader reader(1024);
    ASSERT_EQ(reader.Open(written.file.path, 1024), MovieReader::kOpenReady);
    reader.SeekToTime(0);
    AudioFrame frame;
    const int64_t total = options.totalSamples;
    int64_t first = 0;
    int calls = 0;
    for (;; first += kFrameSize) {
        const bool ended = reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3),
                                            frame.Channel(4));
        ++calls;
        const int64_t real = std::min<int64_t>(kFrameSize, std::max<int64_t>(total - first, 0));
        ASSERT_EQ(reader.GetLastFrameSamples(), real);
        for (int c = 0; c < 4; ++c) {
            for (int64_t i = 0; i < kFrameSize; ++i) {
                const float want =
                    i < real
                        ? static_cast<float>(fixture::ExpectedSample(options.seed, c, first + i)) /
                              32767.0f
                        : 0.0f;
                ASSERT_EQ(frame.Channel(c + 1)[i], want)
                    << "channel " << c << " instant " << first + i;
            }
        }
        if (ended) {
            break;
        }
        ASSERT_EQ(reader.GetCurrentSample(), first + kFrameSize);
    }
    EXPECT_EQ(calls, static_cast<int>((total - 1) / kFrameSize) + 1);
    EXPECT_FALSE(reader.HadShortRead());
}

INSTANTIATE_TEST_SUITE_P(Layouts, CameraFramesTest,
                         ::testing::Values(FrameCase{"chunks1000", {{1, 1000}}, 10000},
                                           FrameCase{"chunks2048", {{1, 2048}}, 10000},
                                           FrameCase{"chunks512", {{1, 512}}, 6000},
                                           FrameCase{"mixed", {{1, 1024}, {5, 512}}, 9000},
                                           FrameCase{"total10240", {{1, 1024}}, 10240},
                                           FrameCase{"total10241", {{1, 1024}}, 10241},
                                           FrameCase{"finalAcrossChunks", {{1, 512}}, 1724}),
                         [](const ::testing::TestParamInfo<FrameCase>& param) {
                             return std::string(param.param.name);
                         });

// Audio beyond 4 GiB in a sparse file: the moves to the chunks are made in
// steps and land exactly.
TEST(CameraFramesTest, ChunksBeyondFourGigabytes) {
    CameraMovieOptions options;
    options.totalSamples = 3000;
    options.framesPerSecond = 10;
    options.sparseHoleBytes = 5ull * 1024 * 1024 * 1024;
    Written written(options);
    if (!written.ok) {
        GTEST_SKIP() << "no sparse movie";
    }
    MovieReader reader(1024);
    ASSERT_EQ(reader.Open(written.file.path, 1024), MovieReader::kOpenReady);
    ASSERT_GT(reader.Track().chunkOffsets.front(), 0x100000000ull);
    AudioFrame frame;
    EXPECT_FALSE(
        reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3), frame.Channel(4)));
    EXPECT_EQ(frame.Channel(2)[5],
              static_cast<float>(fixture::ExpectedSample(options.seed, 1, 5)) / 32767.0f);
    EXPECT_FALSE(
        reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3), frame.Channel(4)));
    EXPECT_EQ(frame.Channel(4)[1000],
              static_cast<float>(fixture::ExpectedSample(options.seed, 3, 2024)) / 32767.0f);
    EXPECT_FALSE(reader.HadShortRead());
}

// Every truncation at a box boundary and at some random points either opens
// or is refused; the readers that open read to an end, and notice the
// missing audio bytes.
class TruncationTest : public ::testing::TestWithParam<bool> {};

TEST_P(TruncationTest, OpensOrRefusesAndReadsToAnEnd) {
    CameraMovieOptions options;
    options.totalSamples = 3000;
    options.framesPerSecond = 10;
    options.chunkRuns = {{1, 700}};
    options.moovBeforeMdat = GetParam();
    Written written(options);
    ASSERT_TRUE(written.ok);
    const CameraMovieLayout& layout = written.layout;
    std::vector<uint8_t> bytes(layout.fileSize);
    {
        std::ifstream in(written.file.path, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    uint64_t audioEnd = 0;
    for (std::size_t i = 0; i < layout.audioChunkOffsets.size(); ++i) {
        audioEnd = std::max<uint64_t>(
            audioEnd, layout.audioChunkOffsets[i] + layout.audioChunkSamples[i] * 8ull);
    }
    std::set<uint64_t> cuts(layout.boxOffsets.begin(), layout.boxOffsets.end());
    cuts.insert(layout.fileSize);
    std::mt19937_64 random(11);
    for (int i = 0; i < 40; ++i) {
        cuts.insert(random() % layout.fileSize);
    }
    for (uint64_t offset : layout.audioChunkOffsets) {
        cuts.insert(offset + 4);
    }
    int opened = 0;
    int shortened = 0;
    testmovie::TempFile cutFile("truncated.mov");
    for (uint64_t cut : cuts) {
        cutFile.Write(
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        MovieReader reader(1024);
        const int32_t result = reader.Open(cutFile.path, 1024);
        ASSERT_TRUE(result == MovieReader::kOpenReady || result == MovieReader::kOpenRefused)
            << cut;
        if (result != MovieReader::kOpenReady) {
            continue;
        }
        ++opened;
        reader.SeekToTime(0);
        AudioFrame frame;
        int calls = 0;
        while (!reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3),
                                 frame.Channel(4))) {
            ASSERT_LT(++calls, 100) << cut;
        }
        if (cut < audioEnd) {
            EXPECT_TRUE(reader.HadShortRead()) << cut;
            ++shortened;
        }
    }
    if (GetParam()) {
        // moov first: cuts inside mdat still open and lose audio.
        EXPECT_GT(shortened, 0);
    }
    EXPECT_GE(opened, 1);  // at least the whole file
}

INSTANTIATE_TEST_SUITE_P(Orders, TruncationTest, ::testing::Bool());

}  // namespace
}  // namespace spatialmux
