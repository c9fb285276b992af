// The reader's saved recording metadata, from builder movies and from
// damaged ones: damage in these boxes never refuses the movie, it only
// leaves the damaged piece out.
#include <gtest/gtest.h>

#include "audio/ByteOrder.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fixture/BoxWriter.h"
#include "movie/MovieReader.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::FindBoxPath;
using testing::ReadFileBytes;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

fixture::CameraMovieOptions TaggedMovie() {
    auto o = testing::SmallMovie(2048);
    o.movieHeader = {1, 0x123456789ull, 7};
    o.videoTrackHeader = {0, 11, 12};
    o.videoMediaHeader = {0, 21, 22};
    o.audioMediaHeader = {0, 51, 52};
    o.privateAudioHeader = {1, 31, 0x200000000ull};
    o.videoLanguage = "deu";
    o.audioLanguage = "ita";
    o.rotationDegrees = 180;
    o.videoHandlerName = "Vid";
    o.userDataTags = {{"\xA9xyz", "+1+2/"}, {"\xA9nam", "title"}, {"\xA9swr", "fw"}};
    o.metadataKeys = {{"com.apple.quicktime.make", "M"}};
    return o;
}

RecordingMetadata Open(const std::string& path) {
    MovieReader reader(1024);
    ::testing::internal::CaptureStdout();
    const int32_t opened = reader.Open(path, 1024);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(opened, MovieReader::kOpenReady) << path;
    return reader.Recording();
}

void Rewrite(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST(RecordingMetadataReading, EachPieceComesFromItsOwnBox) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", TaggedMovie());
    const RecordingMetadata m = Open(movie.path);
    EXPECT_EQ(m.movieTimes, (HeaderTimes{0x123456789ull, 7}));
    EXPECT_EQ(m.videoTrackTimes, (HeaderTimes{11, 12}));
    EXPECT_EQ(m.videoMediaTimes, (HeaderTimes{21, 22}));
    EXPECT_EQ(m.audioMediaTimes, (HeaderTimes{31, 0x200000000ull}));
    EXPECT_EQ(m.videoLanguage, 0x10B5);  // "deu"
    EXPECT_EQ(m.audioLanguage, 0x2681);  // "ita"
    EXPECT_EQ(m.videoHandlerName, "Vid");
    ASSERT_TRUE(m.videoMatrix);
    EXPECT_EQ((*m.videoMatrix)[0], 0xFF);  // -1.0 for 180 degrees
    const Bytes in = ReadFileBytes(movie.path);
    EXPECT_EQ(m.metaBox, testing::BoxBytes(in, *FindBoxPath(in, "moov/meta")));
    // ©xyz and ©nam, not the software tag nor the private boxes.
    const auto tags = testing::Children(m.userDataTags, 0, m.userDataTags.size());
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].type, "\xA9xyz");
    EXPECT_EQ(tags[1].type, "\xA9nam");
}

TEST(RecordingMetadataReading, DamagedPiecesAreLeftOutAndTheMovieStillOpens) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", TaggedMovie());
    Bytes bytes = ReadFileBytes(movie.path);
    // An unknown mvhd version, an hdlr too short for a name, a udta that
    // ends inside its second tag (the walk does not look at udta's size) and
    // a meta box whose handler is not mdta.
    bytes[FindBoxPath(bytes, "moov/mvhd")->offset + 8] = 2;
    const auto hdlr = *FindBoxPath(bytes, "moov/trak#1/mdia/hdlr");
    WriteBE32(bytes.data() + hdlr.offset, 24);
    WriteBE32(bytes.data() + hdlr.offset + 24, static_cast<uint32_t>(hdlr.size - 24));
    std::copy_n("free", 4, bytes.begin() + static_cast<std::ptrdiff_t>(hdlr.offset + 28));
    const auto meta = *FindBoxPath(bytes, "moov/meta");
    bytes[meta.offset + 8 + 16] = 'x';
    const auto udta = *FindBoxPath(bytes, "moov/udta");
    const auto tags = testing::Children(bytes, udta.offset + 8, udta.offset + udta.size);
    WriteBE32(bytes.data() + udta.offset, static_cast<uint32_t>(tags[1].offset + 12 - udta.offset));
    const std::string damaged = dir.Path("damaged.mp4");
    Rewrite(damaged, bytes);

    const RecordingMetadata m = Open(damaged);
    EXPECT_FALSE(m.movieTimes);
    EXPECT_FALSE(m.movieMatrix);
    EXPECT_FALSE(m.videoHandlerName);
    EXPECT_EQ(m.videoTrackTimes, (HeaderTimes{11, 12}));
    EXPECT_EQ(m.videoMediaTimes, (HeaderTimes{21, 22}));
    EXPECT_TRUE(m.metaBox.empty());
    const auto kept = testing::Children(m.userDataTags, 0, m.userDataTags.size());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].type, "\xA9xyz");

    // A movie with none of it: nothing is invented.
    const auto plain = testing::MakeMovie(dir, "plain.mp4", testing::SmallMovie(2048));
    const RecordingMetadata p = Open(plain.path);
    EXPECT_EQ(p.movieTimes, (HeaderTimes{0, 0}));
    EXPECT_TRUE(p.userDataTags.empty());
    EXPECT_TRUE(p.metaBox.empty());
}

}  // namespace
}  // namespace spatialmux
