// Movies beyond 4 GiB: a camera movie whose audio lies above 2^32 behind a
// 64-bit mdat, and an output whose moov lies above 2^32 behind a 64-bit
// mdat. Sparse holes make the files large without using the disk; the
// conversion's output is written for real, so the video stays small.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/SphericalV2Checks.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

constexpr uint64_t kGiB = 1024ull * 1024ull * 1024ull;
constexpr uint64_t kHole = 4 * kGiB + 512ull * 1024ull * 1024ull;

uint64_t FreeBytes(const std::string& folder) {
    struct statvfs facts {};
    if (statvfs(folder.c_str(), &facts) != 0) return 0;
    return static_cast<uint64_t>(facts.f_bavail) * facts.f_frsize;
}

// Bytes [offset, offset + count) of a file, without reading what lies before.
std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, uint64_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

fixture::CameraMovieOptions BigMovie() {
    fixture::CameraMovieOptions options;
    options.totalSamples = 96000 + 333;
    options.width = 32;
    options.height = 16;
    options.distinctFrames = 3;
    options.chunkRuns = {{1, 1000}, {10, 4800}};
    options.sparseHoleBytes = kHole;
    options.mdat64 = true;
    return options;
}

TEST(HardeningBigFiles, CameraMovieAboveFourGiBConvertsCompletely) {
    TempDir dir;
    // Either engine wants about the input's size free on the output's disk
    // (the remux a little more), although the hole costs nothing.
    const uint64_t needed = kHole + 8 * 1024 * 1024 + kGiB;
    if (FreeBytes(dir.Root().string()) < needed) {
        GTEST_SKIP() << "needs " << needed / kGiB << " GiB free in " << dir.Root()
                     << " for a movie above 4 GiB";
    }
    const auto options = BigMovie();
    const auto movie = testing::MakeMovie(dir, "big.mp4", options);
    ASSERT_GT(movie.layout.fileSize, 4 * kGiB);
    ASSERT_FALSE(movie.layout.audioChunkOffsets.empty());
    ASSERT_GT(movie.layout.audioChunkOffsets.front(), 0xFFFFFFFFull)
        << "the audio must lie above 2^32";

    const auto run =
        testing::RunProgram({movie.path, dir.Path("out.mov")}, "LANGUAGE=en LC_ALL=C.UTF-8");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(dir.Entries().size(), 2u) << "the temporary WAV must be gone";
    EXPECT_EQ(std::filesystem::file_size(movie.path), movie.layout.fileSize);

    const auto out = testing::ReadMediaPackets(dir.Path("out.mov"));
    ASSERT_EQ(out.size(), 2u);
    const float gain = ChooseGain(options.softwareText, options.makerNoteFlag != 0);
    EXPECT_TRUE(out[1].Bytes() == testing::ExpectedConvertedAudio(options, gain))
        << "converted audio differs";

    const auto in = testing::ReadMediaPackets(movie.path);
    ASSERT_FALSE(in.empty());
    ASSERT_EQ(in[0].type, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
    for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
        EXPECT_EQ(out[0].packets[i].data, in[0].packets[i].data) << i;
    }
    // The camera metadata arrived.
    const auto bytes = ReadFileBytes(dir.Path("out.mov"));
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/stsd");
    ASSERT_TRUE(stsd);
    const auto entry = testing::FindSampleEntry(bytes, *stsd);
    ASSERT_TRUE(entry);
    testing::ExpectEntryWithSphericalV2(testing::BoxBytes(bytes, *entry),
                                        movie.layout.videoSampleEntry);
}

// The transplant into an output whose mdat has a 64-bit size and whose moov
// starts beyond 4 GiB gives the same moov as into the compact original.
TEST(HardeningBigFiles, TransplantRewritesAMoovBeyondFourGiBBehindA64BitMdat) {
    TempDir dir;
    if (FreeBytes(dir.Root().string()) < kGiB) GTEST_SKIP() << "needs 1 GiB free in " << dir.Root();
    auto options = BigMovie();
    options.sparseHoleBytes = 0;
    options.mdat64 = false;
    options.totalSamples = 4096;
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    // The remux's output layout is what this transplant works on.
    const auto run = testing::RunProgram({"--remux", movie.path, dir.Path("out.mov")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto compact = ReadFileBytes(dir.Path("out.mov"));

    // ftyp, wide, mdat, moov as the muxer writes them; the 8-byte wide box
    // and the mdat header become one 16-byte header of a 64-bit mdat.
    const auto top = testing::Children(compact, 0, compact.size());
    std::size_t mdatIndex = 0;
    while (mdatIndex < top.size() && top[mdatIndex].type != "mdat") ++mdatIndex;
    ASSERT_TRUE(mdatIndex > 0 && mdatIndex + 1 < top.size());
    const auto& wide = top[mdatIndex - 1];
    const auto& mdat = top[mdatIndex];
    const auto& moov = top[mdatIndex + 1];
    ASSERT_EQ(wide.type, "wide");
    ASSERT_EQ(wide.size, 8u);
    ASSERT_EQ(moov.type, "moov");
    ASSERT_EQ(moov.offset + moov.size, compact.size());

    std::vector<uint8_t> head(compact.begin(),
                              compact.begin() + static_cast<std::ptrdiff_t>(moov.offset));
    const uint64_t bigMdatSize = 16 + (mdat.size - 8) + kHole;
    WriteBE32(&head[wide.offset], 1);
    std::copy_n("mdat", 4, head.begin() + static_cast<std::ptrdiff_t>(wide.offset + 4));
    WriteBE64(&head[wide.offset + 8], bigMdatSize);
    const std::string big = dir.Path("big.mov");
    const uint64_t bigMoovAt = moov.offset + kHole;
    {
        std::ofstream file(big, std::ios::binary);
        file.write(reinterpret_cast<const char*>(head.data()),
                   static_cast<std::streamsize>(head.size()));
        file.seekp(static_cast<std::streamoff>(bigMoovAt));
        file.write(reinterpret_cast<const char*>(compact.data() + moov.offset),
                   static_cast<std::streamsize>(moov.size));
        ASSERT_TRUE(file.good());
    }
    ASSERT_GT(bigMoovAt, 0xFFFFFFFFull);

    MovieReader reader(kFrameSize);
    ASSERT_EQ(reader.Open(movie.path, kFrameSize), MovieReader::kOpenReady);
    ASSERT_EQ(reader.TransplantMetadata(dir.Path("out.mov")), 0);
    ASSERT_EQ(reader.TransplantMetadata(big), 0);

    const auto expected = ReadFileBytes(dir.Path("out.mov"));
    const uint64_t newMoovSize = expected.size() - moov.offset;
    ASSERT_GT(newMoovSize, moov.size) << "the transplant must have grown moov";
    EXPECT_EQ(std::filesystem::file_size(big), bigMoovAt + newMoovSize);
    EXPECT_EQ(ReadRange(big, bigMoovAt, newMoovSize + 1),
              std::vector<uint8_t>(expected.begin() + static_cast<std::ptrdiff_t>(moov.offset),
                                   expected.end()));
    EXPECT_EQ(ReadRange(big, 0, head.size()), head) << "bytes in front of moov changed";
}

}  // namespace
}  // namespace spatialmux
