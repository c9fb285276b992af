#include "audio/ByteOrder.h"
#include "movie/MovieReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "movie_reader_test_movie.h"

namespace spatialmux {
namespace {

using testmovie::Bytes;
using testmovie::Options;
using testmovie::Run;

float Expected(int channel, int64_t instant) {
    return static_cast<float>(testmovie::Sample(channel, instant)) / 32767.0f;
}

// A movie written to a temporary file and opened.
struct OpenMovie {
    explicit OpenMovie(const Options& options, const std::function<void(Bytes&)>& damage = {})
        : movie(testmovie::BuildMovie(options)), file("frames.mov"), reader(1024) {
        Bytes bytes = movie.bytes;
        if (damage) {
            damage(bytes);
        }
        file.Write(bytes);
        result = reader.Open(file.path, 1024);
    }

    // Reads one frame; checks every delivered instant against the pattern
    // from `first` on and that the rest of the arrays is silence.
    bool ReadAndCheck(int64_t first, int32_t realInstants) {
        const bool ended = reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3),
                                            frame.Channel(4));
        EXPECT_EQ(reader.GetLastFrameSamples(), realInstants) << "frame at " << first;
        for (int c = 0; c < 4; ++c) {
            const float* values = frame.Channel(c + 1);
            for (int32_t i = 0; i < kFrameSize; ++i) {
                const float want = i < realInstants ? Expected(c, first + i) : 0.0f;
                if (values[i] != want) {
                    ADD_FAILURE() << "channel " << c << " instant " << first + i << ": "
                                  << values[i] << " instead of " << want;
                    return ended;
                }
            }
        }
        return ended;
    }

    testmovie::Movie movie;
    testmovie::TempFile file;
    MovieReader reader;
    AudioFrame frame;
    int32_t result = -1;
};

struct Layout {
    const char* name;
    std::vector<Run> runs;
    int32_t totalSamples;
};

class FrameLayoutTest : public testing::TestWithParam<Layout> {};

TEST_P(FrameLayoutTest, DeliversConsecutiveInstantsWhateverTheChunks) {
    Options options;
    options.runs = GetParam().runs;
    options.totalSamples = GetParam().totalSamples;
    OpenMovie open(options);
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    open.reader.SeekToTime(0);
    const int64_t total = options.totalSamples;
    int64_t first = 0;
    while (first + kFrameSize < total) {
        ASSERT_FALSE(open.ReadAndCheck(first, kFrameSize)) << first;
        first += kFrameSize;
        ASSERT_EQ(open.reader.GetCurrentSample(), first);
    }
    EXPECT_TRUE(open.ReadAndCheck(first, static_cast<int32_t>(total - first)));
    EXPECT_TRUE(open.ReadAndCheck(first + kFrameSize, 0));
    EXPECT_FALSE(open.reader.HadShortRead());
}

INSTANTIATE_TEST_SUITE_P(Chunks, FrameLayoutTest,
                         testing::Values(Layout{"chunks1000", {{1, 1000}}, 10000},
                                         Layout{"chunks2048", {{1, 2048}}, 9000},
                                         Layout{"chunks512", {{1, 512}}, 7000},
                                         Layout{"chunks1024", {{1, 1024}}, 8192},
                                         Layout{"mixed", {{1, 1024}, {5, 512}}, 9999},
                                         Layout{"small", {{1, 100}, {3, 7}, {9, 3000}}, 12000},
                                         Layout{"emptyRuns", {{1, 1000}, {2, 0}, {4, 1000}}, 5000},
                                         Layout{"tenThousand240", {{1, 1024}}, 10240},
                                         Layout{"tenThousand241", {{1, 1024}}, 10241}),
                         [](const testing::TestParamInfo<Layout>& param) {
                             return std::string(param.param.name);
                         });

TEST(FrameReadingTest, CursorAfterFramesAcrossChunks) {
    {
        Options options;
        options.runs = {{1, 1000}};
        OpenMovie open(options);
        ASSERT_EQ(open.result, MovieReader::kOpenReady);
        open.ReadAndCheck(0, 1024);
        const ReadCursor& cursor = open.reader.Cursor();
        EXPECT_EQ(cursor.chunkIndex, 1);
        EXPECT_EQ(cursor.samplesLeftInChunk, 976);
        EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[1] + 24 * 8);
        open.ReadAndCheck(1024, 1024);
        EXPECT_EQ(cursor.chunkIndex, 2);
        EXPECT_EQ(cursor.samplesLeftInChunk, 952);
    }
    {
        Options options;
        options.runs = {{1, 2048}};
        options.totalSamples = 8192;
        OpenMovie open(options);
        ASSERT_EQ(open.result, MovieReader::kOpenReady);
        open.ReadAndCheck(0, 1024);
        open.ReadAndCheck(1024, 1024);
        const ReadCursor& cursor = open.reader.Cursor();
        EXPECT_EQ(cursor.chunkIndex, 0);
        EXPECT_EQ(cursor.samplesLeftInChunk, 0);
        EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[0] + 2048 * 8);
        open.ReadAndCheck(2048, 1024);
        EXPECT_EQ(cursor.chunkIndex, 1);
        EXPECT_EQ(cursor.samplesLeftInChunk, 1024);
    }
    {
        Options options;
        options.runs = {{1, 512}};
        OpenMovie open(options);
        ASSERT_EQ(open.result, MovieReader::kOpenReady);
        open.ReadAndCheck(0, 1024);
        const ReadCursor& cursor = open.reader.Cursor();
        EXPECT_EQ(cursor.chunkIndex, 2);
        EXPECT_EQ(cursor.samplesLeftInChunk, 512);
        EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[2]);
    }
}

TEST(FrameReadingTest, CountsAtTheEnd) {
    for (int32_t total : {10240, 10241}) {
        Options options;
        options.totalSamples = total;
        OpenMovie open(options);
        ASSERT_EQ(open.result, MovieReader::kOpenReady);
        open.reader.SeekToTime(0);
        EXPECT_EQ(open.reader.GetTotalSamples(), total);
        int falseCalls = 0;
        while (!open.reader.ReadFrame(open.frame.Channel(1), open.frame.Channel(2),
                                      open.frame.Channel(3), open.frame.Channel(4))) {
            ++falseCalls;
            ASSERT_EQ(open.reader.GetCurrentSample(), falseCalls * 1024);
            ASSERT_LT(falseCalls, 20);
        }
        EXPECT_EQ(falseCalls, total == 10240 ? 9 : 10);
        EXPECT_EQ(open.reader.GetLastFrameSamples(), total == 10240 ? 1024 : 1);
    }
}

// The final frame's remainder lies in two chunks with non-audio bytes in
// between: it is taken chunk by chunk.
TEST(FrameReadingTest, FinalFrameAcrossChunksTakesOnlyAudio) {
    Options options;
    options.runs = {{1, 512}};
    options.totalSamples = 1024 + 700;
    OpenMovie open(options);
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    EXPECT_FALSE(open.ReadAndCheck(0, 1024));
    EXPECT_TRUE(open.ReadAndCheck(1024, 700));
    const ReadCursor& cursor = open.reader.Cursor();
    EXPECT_EQ(cursor.chunkIndex, 3);
    EXPECT_EQ(cursor.samplesLeftInChunk, 512 - 188);
    EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[3] + 188 * 8);
}

TEST(FrameReadingTest, RunningOutOfChunksEndsTheAudio) {
    Options options;
    options.runs = {{1, 1000}};
    options.totalSamples = 5000;
    options.chunkCount = 3;
    OpenMovie open(options);
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    EXPECT_FALSE(open.ReadAndCheck(0, 1024));
    EXPECT_FALSE(open.ReadAndCheck(1024, 1024));
    EXPECT_TRUE(open.ReadAndCheck(2048, 952));
    EXPECT_TRUE(open.ReadAndCheck(3072, 0));

    // Only empty chunks: no audio, no endless walk.
    Options empty;
    empty.runs = {{1, 0}};
    empty.totalSamples = 5000;
    empty.chunkCount = 50;
    OpenMovie none(empty);
    ASSERT_EQ(none.result, MovieReader::kOpenReady);
    none.reader.SeekToTime(100);
    EXPECT_EQ(none.reader.GetCurrentSample(), 4800);
    EXPECT_TRUE(none.ReadAndCheck(0, 0));
    none.reader.SeekToTime(0);
    EXPECT_TRUE(none.ReadAndCheck(0, 0));
}

TEST(FrameReadingTest, SeekToTime) {
    Options options;
    options.runs = {{1, 1000}};
    options.totalSamples = 60000;
    OpenMovie open(options);
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    MovieReader& reader = open.reader;
    const ReadCursor& cursor = reader.Cursor();

    reader.SeekToTime(50);
    EXPECT_EQ(reader.GetCurrentSample(), 2400);
    EXPECT_EQ(cursor.chunkIndex, 2);
    EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[2] + 3200);
    EXPECT_EQ(cursor.samplesLeftInChunk, 600);
    EXPECT_FALSE(open.ReadAndCheck(2400, 1024));

    reader.SeekToTime(125);
    EXPECT_EQ(reader.GetCurrentSample(), 6000);
    EXPECT_EQ(cursor.chunkIndex, 5);
    EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[5] + 8000);
    EXPECT_EQ(cursor.samplesLeftInChunk, 0);
    EXPECT_FALSE(open.ReadAndCheck(6000, 1024));

    reader.SeekToTime(1000);
    EXPECT_EQ(reader.GetCurrentSample(), 48000);
    EXPECT_FALSE(open.ReadAndCheck(48000, 1024));

    reader.SeekToTime(5000);  // beyond the end
    EXPECT_EQ(reader.GetCurrentSample(), 59900);
    EXPECT_TRUE(open.ReadAndCheck(59900, 100));

    reader.SeekToTime(0xFFFFFFFFu);
    EXPECT_EQ(reader.GetCurrentSample(), 59900);

    reader.SeekToTime(0);
    EXPECT_EQ(reader.GetCurrentSample(), 0);
    EXPECT_EQ(cursor.chunkIndex, 0);
    EXPECT_EQ(cursor.fileOffset, open.movie.chunkOffsets[0]);
    EXPECT_EQ(cursor.samplesLeftInChunk, 1000);
    EXPECT_FALSE(open.ReadAndCheck(0, 1024));

    Options shortOptions;
    shortOptions.totalSamples = 50;
    OpenMovie shortMovie(shortOptions);
    ASSERT_EQ(shortMovie.result, MovieReader::kOpenReady);
    shortMovie.reader.SeekToTime(10);
    EXPECT_EQ(shortMovie.reader.GetCurrentSample(), 0);
    EXPECT_TRUE(shortMovie.ReadAndCheck(0, 50));
}

TEST(FrameReadingTest, SeekIntoMixedRuns) {
    Options options;
    options.runs = {{1, 1024}, {5, 512}};
    options.totalSamples = 20000;
    OpenMovie open(options);
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    // 100 ms = 4800 instants: chunks 0-3 hold 4096, chunk 4 and on 512 each.
    open.reader.SeekToTime(100);
    EXPECT_EQ(open.reader.Cursor().chunkIndex, 5);
    EXPECT_EQ(open.reader.Cursor().runIndex, 1);
    EXPECT_EQ(open.reader.Cursor().samplesLeftInChunk, 512 - (4800 - 4096 - 512));
    EXPECT_FALSE(open.ReadAndCheck(4800, 1024));
    EXPECT_FALSE(open.ReadAndCheck(5824, 1024));
}

uint64_t Co64EntryAt(const Bytes& bytes, std::size_t index) {
    const std::string type = "co64";
    const auto at = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    return static_cast<uint64_t>(at - bytes.begin()) + 4 + 8 + 8 * index;
}

// Audio bytes beyond the end of the file become silence, never the audio of
// an earlier frame, and the reader remembers the short read.
TEST(FrameReadingTest, MissingBytesBecomeSilence) {
    Options options;
    options.totalSamples = 6000;
    uint64_t fileLength = 0;
    OpenMovie open(options, [&](Bytes& bytes) {
        fileLength = bytes.size();
        WriteBE64(&bytes[Co64EntryAt(bytes, 2)], bytes.size() - 800);  // 100 instants left
        WriteBE64(&bytes[Co64EntryAt(bytes, 3)], 0xFFFFFFFFFFFFFFF0ull);
    });
    ASSERT_EQ(open.result, MovieReader::kOpenReady);
    EXPECT_FALSE(open.ReadAndCheck(0, 1024));
    EXPECT_FALSE(open.ReadAndCheck(1024, 1024));
    EXPECT_FALSE(open.reader.HadShortRead());
    MovieReader& reader = open.reader;
    AudioFrame& frame = open.frame;
    EXPECT_FALSE(
        reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3), frame.Channel(4)));
    EXPECT_TRUE(reader.HadShortRead());
    for (int c = 1; c <= 4; ++c) {
        for (int i = 100; i < kFrameSize; ++i) {
            ASSERT_EQ(frame.Channel(c)[i], 0.0f) << c << " " << i;
        }
    }
    EXPECT_FALSE(
        reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3), frame.Channel(4)));
    for (int c = 1; c <= 4; ++c) {
        for (int i = 0; i < kFrameSize; ++i) {
            ASSERT_EQ(frame.Channel(c)[i], 0.0f) << c << " " << i;
        }
    }
    EXPECT_GT(fileLength, 0u);
}

TEST(FrameReadingTest, FrameSizeIsBoundedByTheConstruction) {
    const testmovie::Movie movie = testmovie::BuildMovie(Options{});
    testmovie::TempFile file("framesize.mov");
    file.Write(movie.bytes);
    for (int32_t size : {0, -1, 1025}) {
        MovieReader reader(1024);
        EXPECT_EQ(reader.Open(file.path, size), MovieReader::kOpenRefused) << size;
    }
    MovieReader reader(1024);
    ASSERT_EQ(reader.Open(file.path, 256), MovieReader::kOpenReady);
    std::array<float, 1024> c1{}, c2{}, c3{}, c4{};
    EXPECT_FALSE(reader.ReadFrame(c1.data(), c2.data(), c3.data(), c4.data()));
    EXPECT_FALSE(reader.ReadFrame(c1.data(), c2.data(), c3.data(), c4.data()));
    EXPECT_EQ(reader.GetCurrentSample(), 512);
    EXPECT_EQ(c3[255], Expected(2, 511));
}

}  // namespace
}  // namespace spatialmux
