#include "audio/ByteOrder.h"
#include "movie/MovieReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "movie_reader_test_movie.h"
#include "support/CaptureStdout.h"

namespace spatialmux {
namespace {

using testmovie::Bytes;
using testmovie::Options;
using testmovie::TempFile;

struct Opened {
    int32_t result;
    std::unique_ptr<MovieReader> reader;
};

Opened OpenBytes(const Bytes& bytes) {
    TempFile file("walk.mov");
    file.Write(bytes);
    auto reader = std::make_unique<MovieReader>(1024);
    const int32_t result = reader->Open(file.path, 1024);
    return {result, std::move(reader)};
}

uint64_t Find(const Bytes& bytes, const std::string& text, uint64_t from = 0) {
    const auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                text.begin(), text.end());
    EXPECT_NE(at, bytes.end()) << text;
    return static_cast<uint64_t>(at - bytes.begin());
}

TEST(MovieWalkTest, FindsEverythingTheConversionNeeds) {
    Options options;
    options.runs = {{1, 1000}};
    options.totalSamples = 5000;
    const testmovie::Movie movie = testmovie::BuildMovie(options);
    const Opened opened = OpenBytes(movie.bytes);
    ASSERT_EQ(opened.result, MovieReader::kOpenReady);
    const MovieReader& reader = *opened.reader;
    EXPECT_EQ(reader.VideoSampleEntry(), movie.videoEntry);
    EXPECT_EQ(reader.UuidBox(), movie.uuid);
    EXPECT_EQ(reader.Sa3dBox(), movie.sa3d);
    ASSERT_EQ(reader.Sa3dBox().size(), 36u);
    EXPECT_EQ(std::string(reader.Sa3dBox().begin() + 4, reader.Sa3dBox().begin() + 8), "SA3D");
    EXPECT_EQ(reader.SoftwareText(), "ZORVA VELIX V Ver 1.1");
    EXPECT_FALSE(reader.MakerNoteFlag());
    EXPECT_EQ(reader.MakerDataOffset(), movie.zatrOffset);
    EXPECT_EQ(reader.GetTotalSamples(), 5000);
    EXPECT_EQ(reader.Track().timescale, 48000);
    EXPECT_EQ(reader.Track().channelCount, 4);
    EXPECT_EQ(reader.Track().chunkOffsets, movie.chunkOffsets);
    ASSERT_EQ(reader.Track().chunkRunCount, 1);
    EXPECT_EQ(reader.Track().chunkRuns[0].firstChunk, 0);
    EXPECT_EQ(reader.Track().chunkRuns[0].samplesPerChunk, 1000);
    const ReadCursor& cursor = reader.Cursor();
    EXPECT_EQ(cursor.fileOffset, movie.chunkOffsets[0]);
    EXPECT_EQ(cursor.samplesPerChunk, 1000);
    EXPECT_EQ(cursor.samplesLeftInChunk, 1000);
    EXPECT_EQ(cursor.currentSample, 0);
    EXPECT_EQ(cursor.frameSize, 1024);
}

TEST(MovieWalkTest, HvcEntryAndLongPath) {
    Options options;
    options.videoFormat = "hvc1";
    const testmovie::Movie movie = testmovie::BuildMovie(options);
    // A path far beyond 255 bytes.
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("spatialmux_reader_long_" + std::to_string(::getpid()));
    std::filesystem::path deep = dir;
    for (int i = 0; i < 3; ++i) {
        deep /= std::string(120, static_cast<char>('a' + i));
    }
    std::filesystem::create_directories(deep);
    const std::string path = (deep / "movie.mov").string();
    ASSERT_GT(path.size(), 300u);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(movie.bytes.data()),
                  static_cast<std::streamsize>(movie.bytes.size()));
    }
    MovieReader reader(1024);
    EXPECT_EQ(reader.Open(path, 1024), MovieReader::kOpenReady);
    EXPECT_EQ(reader.VideoSampleEntry(), movie.videoEntry);
    std::filesystem::remove_all(dir);
}

TEST(MovieWalkTest, MissingFileIsResultOneWithItsMessage) {
    const std::string path = "/nonexistent/spatialmux/" + std::string(300, 'x') + ".mov";
    MovieReader reader(1024);
    testing::CaptureStdout();
    const int32_t result = reader.Open(path, 1024);
    EXPECT_EQ(testing::CapturedStdout(), path + ":file open error\n");
    EXPECT_EQ(result, MovieReader::kOpenFileError);
}

TEST(MovieWalkTest, ReaderPrintsNothingElse) {
    Options options;
    options.useStco = true;
    testing::CaptureStdout();
    EXPECT_EQ(OpenBytes(testmovie::BuildMovie(options).bytes).result, MovieReader::kOpenRefused);
    EXPECT_EQ(OpenBytes(testmovie::BuildMovie(Options{}).bytes).result, MovieReader::kOpenReady);
    EXPECT_EQ(testing::CapturedStdout(), "");
}

struct Refusal {
    const char* name;
    std::function<void(Options&)> change;
};

class MovieRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(MovieRefusalTest, IsRefusedWithTwo) {
    Options options;
    GetParam().change(options);
    EXPECT_EQ(OpenBytes(testmovie::BuildMovie(options).bytes).result, MovieReader::kOpenRefused);
}

INSTANTIATE_TEST_SUITE_P(
    Options, MovieRefusalTest,
    ::testing::Values(
        Refusal{"stco", [](Options& o) { o.useStco = true; }},
        Refusal{"rate44100", [](Options& o) { o.timescale = 44100; }},
        Refusal{"twoChannels", [](Options& o) { o.stszSampleSize = 4; }},
        Refusal{"notSowt", [](Options& o) { o.audioFormat = "twos"; }},
        Refusal{"mp4v", [](Options& o) { o.videoFormat = "mp4v"; }},
        Refusal{"noSa3d", [](Options& o) { o.writeSa3d = false; }},
        Refusal{"thousandBoxesBeforeMoov", [](Options& o) { o.boxesBeforeMoov = 998; }},
        Refusal{"emptyStsc", [](Options& o) { o.stscCountOverride = 0; }},
        Refusal{"emptyCo64", [](Options& o) { o.co64CountOverride = 0; }},
        Refusal{"stscCountBeyondBox", [](Options& o) { o.stscCountOverride = 2; }},
        Refusal{"co64CountBeyondBox", [](Options& o) { o.co64CountOverride = 5; }},
        Refusal{"hugeStscCount", [](Options& o) { o.stscCountOverride = 0xFFFFFFFF; }},
        Refusal{"hugeCo64Count", [](Options& o) { o.co64CountOverride = 0x7FFFFFFF; }},
        Refusal{"hugeChunk",
                [](Options& o) {
                    o.runs = {{1, 0x10000000}};
                    o.chunkCount = 1;
                    o.totalSamples = 10;
                }}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(MovieWalkTest, NineHundredNinetyNineBoxesBeforeMoovAreFine) {
    // ftyp, 997 free boxes and mdat: moov is the thousandth header (with one
    // more free box it is refused, above).
    Options options;
    options.boxesBeforeMoov = 997;
    EXPECT_EQ(OpenBytes(testmovie::BuildMovie(options).bytes).result, MovieReader::kOpenReady);
}

TEST(MovieWalkTest, FileWithoutMoov) {
    Bytes bytes = testmovie::Box("ftyp", Bytes(8, 0));
    testmovie::Append(bytes, testmovie::Box("mdat", Bytes(100, 1)));
    EXPECT_EQ(OpenBytes(bytes).result, MovieReader::kOpenRefused);
    EXPECT_EQ(OpenBytes(Bytes{}).result, MovieReader::kOpenRefused);
}

TEST(MovieWalkTest, SizeFieldsThatDoNotFitAreRefused) {
    const testmovie::Movie movie = testmovie::BuildMovie(Options{});
    const auto refusedWith = [&](const std::string& type, uint32_t size, uint64_t from = 0) {
        Bytes bytes = movie.bytes;
        WriteBE32(&bytes[Find(bytes, type, from) - 4], size);
        return OpenBytes(bytes).result;
    };
    const uint64_t moov = Find(movie.bytes, "moov");
    for (uint32_t size : {0u, 4u, 7u, 0x7FFFFFF0u, 0xFFFFFFFFu}) {
        EXPECT_EQ(refusedWith("avc1", size, moov), MovieReader::kOpenRefused) << "avc1 " << size;
        EXPECT_EQ(refusedWith("uuid", size, moov), MovieReader::kOpenRefused) << "uuid " << size;
        EXPECT_EQ(refusedWith("ZMKN", size, moov), MovieReader::kOpenRefused) << "ZMKN " << size;
    }
    // An audio entry claiming more than the file: read as far as the file
    // goes, still found whole.
    for (uint32_t size : {0x7FFFFFF0u, 0xFFFFFFFFu}) {
        Bytes bytes = movie.bytes;
        WriteBE32(&bytes[movie.audioEntryOffset], size);
        const Opened opened = OpenBytes(bytes);
        EXPECT_EQ(opened.result, MovieReader::kOpenReady) << size;
        EXPECT_EQ(opened.reader->Sa3dBox(), movie.sa3d);
    }
    // An audio entry that ends inside its SA3D box.
    const uint64_t sa3d = Find(movie.bytes, "SA3D", movie.audioEntryOffset);
    const uint64_t entryToSa3dEnd = sa3d - 4 + 36 - movie.audioEntryOffset;
    for (uint64_t size : {entryToSa3dEnd - 1, uint64_t{12}, uint64_t{0}}) {
        Bytes bytes = movie.bytes;
        WriteBE32(&bytes[movie.audioEntryOffset], static_cast<uint32_t>(size));
        EXPECT_EQ(OpenBytes(bytes).result, MovieReader::kOpenRefused) << size;
    }
}

TEST(MovieWalkTest, MakerNoteFlagAndText) {
    for (uint32_t flag : {0u, 1u, 7u, 0x80000000u}) {
        Options options;
        options.makerNoteFlag = flag;
        options.softwareText = "Another camera 2.0";
        const Opened opened = OpenBytes(testmovie::BuildMovie(options).bytes);
        ASSERT_EQ(opened.result, MovieReader::kOpenReady);
        EXPECT_EQ(opened.reader->MakerNoteFlag(), flag != 0);
        EXPECT_EQ(opened.reader->SoftwareText(), "Another camera 2.0");
    }
}

class MissingTagTest : public ::testing::TestWithParam<uint16_t> {};

TEST_P(MissingTagTest, LeavesTextEmptyAndFlagFalseButOpens) {
    Options options;
    options.makerNoteFlag = 1;
    options.omitTags = {GetParam()};
    const Opened opened = OpenBytes(testmovie::BuildMovie(options).bytes);
    ASSERT_EQ(opened.result, MovieReader::kOpenReady);
    EXPECT_EQ(opened.reader->SoftwareText(), "");
    EXPECT_FALSE(opened.reader->MakerNoteFlag());
}

INSTANTIATE_TEST_SUITE_P(Tags, MissingTagTest,
                         ::testing::Values(0x0131, 0x8769, 0x927C, 0x4001, 0x1011));

}  // namespace
}  // namespace spatialmux
