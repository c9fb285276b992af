// The metadata transplant: the new moov built from hand-made outputs, and
// the rewrite of real output files in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/spherical.h>
}

#include "audio/ByteOrder.h"
#include "audio/WavWriter.h"
#include "control/convert/wrap_ffmpeg.h"
#include "fixture/BoxWriter.h"
#include "fixture/CameraMovieBuilder.h"
#include "fixture/SphericalSideData.h"
#include "movie/MovieReader.h"
#include "output/MoovTransplant.h"
#include "output/RecordingMetadataCarry.h"
#include "output/SphericalVideoBoxes.h"
#include "support/BoxTree.h"
#include "support/CaptureStdout.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/SphericalV2Checks.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using fixture::BoxWriter;
using testing::BoxBytes;
using testing::BoxRef;
using testing::FindBoxPath;
using testing::FindSampleEntry;
using testing::ReadFileBytes;
using testing::TempDir;

using Bytes = std::vector<uint8_t>;

// A box of `size` bytes whose payload is a counting pattern.
void Filler(BoxWriter& w, const char* type, uint32_t size, uint8_t seed = 0) {
    const size_t start = w.BeginBox(type);
    for (uint32_t i = 8; i < size; ++i) w.U8(static_cast<uint8_t>(seed + i * 7));
    w.EndBox(start);
}

Bytes FillerBox(const char* type, uint32_t size, uint8_t seed) {
    BoxWriter w;
    Filler(w, type, size, seed);
    return w.Bytes();
}

Bytes Sa3dBox(uint32_t m0, uint32_t m1, uint32_t m2, uint32_t m3) {
    BoxWriter w;
    const size_t start = w.BeginBox("SA3D");
    w.U8(0);   // version
    w.U8(0);   // ambisonic type
    w.U32(1);  // order
    w.U8(0);   // channel ordering
    w.U8(0);   // normalization
    w.U32(4);  // channel count
    for (uint32_t m : {m0, m1, m2, m3}) w.U32(m);
    w.EndBox(start);
    return w.Bytes();
}

// The moov that FFmpeg's QuickTime muxer writes for a video and an audio
// track, padded with a udta to `moovSize` bytes.
struct OutputMoovShape {
    uint32_t moovSize = 10000;
    uint32_t videoEntrySize = 150;  // makes the video stsd 166 bytes
    uint32_t audioEntrySize = 52;
    bool withEdts = true;
    bool extraBoxInTrak = false;  // an unexpected box in front of mdia
    Bytes audioEntry = {};        // written as it is in place of a filler entry
};

void Track(BoxWriter& w, bool video, const OutputMoovShape& shape) {
    const size_t trak = w.BeginBox("trak");
    Filler(w, "tkhd", 92, 1);
    if (shape.withEdts) Filler(w, "edts", 36, 2);
    if (shape.extraBoxInTrak) Filler(w, "tref", 20, 3);
    const size_t mdia = w.BeginBox("mdia");
    Filler(w, "mdhd", 32, 4);
    Filler(w, "hdlr", 45, 5);
    const size_t minf = w.BeginBox("minf");
    Filler(w, video ? "vmhd" : "smhd", video ? 20 : 16, 6);
    Filler(w, "hdlr", 44, 7);
    Filler(w, "dinf", 36, 8);
    const size_t stbl = w.BeginBox("stbl");
    const size_t stsd = w.BeginBox("stsd");
    w.U32(0);
    w.U32(1);
    if (!video && !shape.audioEntry.empty()) {
        w.Append(shape.audioEntry);
    } else {
        Filler(w, video ? "avc1" : "sowt", video ? shape.videoEntrySize : shape.audioEntrySize, 9);
    }
    w.EndBox(stsd);
    Filler(w, "stts", 24, 10);
    Filler(w, "stsc", 28, 11);
    Filler(w, "stsz", 20, 12);
    Filler(w, "stco", 20, 13);
    w.EndBox(stbl);
    w.EndBox(minf);
    w.EndBox(mdia);
    w.EndBox(trak);
}

Bytes BuildOutputMoov(const OutputMoovShape& shape) {
    auto build = [&shape](uint32_t padding) {
        BoxWriter w;
        const size_t moov = w.BeginBox("moov");
        Filler(w, "mvhd", 108, 20);
        Track(w, true, shape);
        Track(w, false, shape);
        const size_t udta = w.BeginBox("udta");
        Filler(w, "free", padding, 21);
        w.EndBox(udta);
        w.EndBox(moov);
        return w.Bytes();
    };
    const Bytes probe = build(8);
    return build(8 + shape.moovSize - static_cast<uint32_t>(probe.size()));
}

uint64_t SizeAt(const Bytes& bytes, const std::string& path) {
    const auto box = FindBoxPath(bytes, path);
    return box ? box->size : 0;
}

Bytes Slice(const Bytes& bytes, uint64_t from, uint64_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

const std::string kVideoStbl = "moov/trak#1/mdia/minf/stbl";
const std::string kAudioStbl = "moov/trak#2/mdia/minf/stbl";

struct Pieces {
    Bytes videoEntry = FillerBox("avc1", 400, 0x40);
    Bytes uuid = FillerBox("uuid", 512, 0x80);
    Bytes sa3d = Sa3dBox(0, 1, 2, 3);
};

TEST(MoovTransplant, GrowsEveryEnclosingBoxByWhatWasInserted) {
    const Bytes old = BuildOutputMoov({});
    ASSERT_EQ(old.size(), 10000u);
    ASSERT_EQ(SizeAt(old, kVideoStbl + "/stsd"), 166u);
    const Pieces pieces;
    Bytes moov;
    ASSERT_TRUE(
        output::BuildTransplantedMoov(old, pieces.videoEntry, pieces.uuid, pieces.sa3d, &moov));

    ASSERT_EQ(moov.size(), 10798u);
    EXPECT_EQ(ReadBE32(moov.data()), 10798u);
    const struct {
        std::string path;
        int64_t growth;
    } expected[] = {
        {"moov/trak#1", 762},
        {"moov/trak#1/mdia", 250},
        {"moov/trak#1/mdia/minf", 250},
        {kVideoStbl, 250},
        {kVideoStbl + "/stsd", 250},
        {"moov/trak#2", 36},
        {"moov/trak#2/mdia", 36},
        {"moov/trak#2/mdia/minf", 36},
        {kAudioStbl, 36},
        {kAudioStbl + "/stsd", 36},
        {"moov/mvhd", 0},
        {"moov/udta", 0},
        {"moov/trak#1/tkhd", 0},
        {"moov/trak#1/edts", 0},
        {kAudioStbl + "/stco", 0},
    };
    for (const auto& row : expected) {
        EXPECT_EQ(static_cast<int64_t>(SizeAt(moov, row.path)),
                  static_cast<int64_t>(SizeAt(old, row.path)) + row.growth)
            << row.path;
    }
    EXPECT_EQ(SizeAt(moov, kVideoStbl + "/stsd"), 416u);

    // The pieces stand where they belong.
    const auto videoEntry = FindSampleEntry(moov, *FindBoxPath(moov, kVideoStbl + "/stsd"));
    ASSERT_TRUE(videoEntry);
    EXPECT_EQ(BoxBytes(moov, *videoEntry), pieces.videoEntry);
    const auto videoTrak = FindBoxPath(moov, "moov/trak#1");
    const auto lastOfTrak =
        testing::Children(moov, videoTrak->offset + 8, videoTrak->offset + videoTrak->size);
    ASSERT_FALSE(lastOfTrak.empty());
    EXPECT_EQ(BoxBytes(moov, lastOfTrak.back()), pieces.uuid);
    const auto oldAudioEntry = FindSampleEntry(old, *FindBoxPath(old, kAudioStbl + "/stsd"));
    const auto audioEntry = FindSampleEntry(moov, *FindBoxPath(moov, kAudioStbl + "/stsd"));
    ASSERT_TRUE(audioEntry && oldAudioEntry);
    EXPECT_EQ(audioEntry->size, oldAudioEntry->size + 36);
    const Bytes entry = BoxBytes(moov, *audioEntry);
    EXPECT_EQ(Slice(entry, entry.size() - 36, 36), pieces.sa3d);
    EXPECT_EQ(Slice(entry, 4, oldAudioEntry->size - 4),
              Slice(BoxBytes(old, *oldAudioEntry), 4, oldAudioEntry->size - 4));

    // Boxes that only move keep their bytes.
    for (const std::string& path : std::vector<std::string>{
             "moov/mvhd", "moov/udta", "moov/trak#1/tkhd", "moov/trak#1/edts", "moov/trak#2/tkhd",
             "moov/trak#1/mdia/mdhd", kAudioStbl + "/stts"}) {
        EXPECT_EQ(BoxBytes(moov, *FindBoxPath(moov, path)), BoxBytes(old, *FindBoxPath(old, path)))
            << path;
    }
}

// The video stsd is 166 bytes; its size follows the replaced entry's length.
class VideoEntryLength : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(VideoEntryLength, SetsTheVideoBoxSizes) {
    const auto [entryLength, stsdSize] = GetParam();
    const Bytes old = BuildOutputMoov({});
    Pieces pieces;
    pieces.videoEntry = FillerBox("hvc1", entryLength, 0x33);
    Bytes moov;
    ASSERT_TRUE(
        output::BuildTransplantedMoov(old, pieces.videoEntry, pieces.uuid, pieces.sa3d, &moov));
    const int64_t change = static_cast<int64_t>(entryLength) - 150;
    EXPECT_EQ(static_cast<int64_t>(moov.size()), 10000 + change + 512 + 36);
    EXPECT_EQ(SizeAt(moov, kVideoStbl + "/stsd"), stsdSize);
    for (const std::string& path :
         std::vector<std::string>{"moov/trak#1/mdia", "moov/trak#1/mdia/minf", kVideoStbl}) {
        EXPECT_EQ(static_cast<int64_t>(SizeAt(moov, path)),
                  static_cast<int64_t>(SizeAt(old, path)) + change)
            << path;
    }
    EXPECT_EQ(SizeAt(moov, "moov/trak#1"), SizeAt(old, "moov/trak#1") + change + 512);
}

INSTANTIATE_TEST_SUITE_P(Lengths, VideoEntryLength,
                         ::testing::Values(std::make_pair(400u,
                                                          416u),  // 00 00 00 A6 -> 00 00 01 A0
                                           std::make_pair(150u, 166u),  // equal size: unchanged
                                           std::make_pair(50u, 66u)));  // -> 00 00 00 42

TEST(MoovTransplant, FindsTheBoxesByTypeWhateverStandsBetween) {
    for (const OutputMoovShape& shape :
         {OutputMoovShape{.withEdts = false}, OutputMoovShape{.extraBoxInTrak = true}}) {
        const Bytes old = BuildOutputMoov(shape);
        const Pieces pieces;
        Bytes moov;
        ASSERT_TRUE(
            output::BuildTransplantedMoov(old, pieces.videoEntry, pieces.uuid, pieces.sa3d, &moov));
        EXPECT_EQ(SizeAt(moov, kVideoStbl + "/stsd"), 416u);
        EXPECT_EQ(SizeAt(moov, kAudioStbl + "/stsd"), SizeAt(old, kAudioStbl + "/stsd") + 36);
    }
}

TEST(MoovTransplant, RefusesWhatItCannotPlaceSafely) {
    const Bytes good = BuildOutputMoov({});
    const Pieces pieces;
    const auto offsetOf = [&good](const std::string& path) {
        return FindBoxPath(good, path)->offset;
    };
    const auto setSize = [](Bytes& bytes, uint64_t at, uint32_t value) {
        WriteBE32(&bytes[at], value);
    };
    const auto setType = [](Bytes& bytes, uint64_t at, const char* type) {
        std::copy_n(type, 4, bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
    };
    const uint64_t videoStsd = offsetOf(kVideoStbl + "/stsd");
    const uint64_t audioStsd = offsetOf(kAudioStbl + "/stsd");

    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const std::vector<Case> cases = {
        {"moov's size field disagrees", [&](Bytes& b) { setSize(b, 0, 9999); }},
        {"not a moov", [&](Bytes& b) { setType(b, 0, "moof"); }},
        {"only one trak", [&](Bytes& b) { setType(b, offsetOf("moov/trak#2"), "free"); }},
        {"no stsd", [&](Bytes& b) { setType(b, audioStsd, "free"); }},
        {"no minf", [&](Bytes& b) { setType(b, offsetOf("moov/trak#1/mdia/minf"), "free"); }},
        {"stbl runs past minf", [&](Bytes& b) { setSize(b, offsetOf(kVideoStbl), 60000); }},
        {"a child of size 0", [&](Bytes& b) { setSize(b, offsetOf("moov/trak#1/tkhd"), 0); }},
        {"a 64-bit child", [&](Bytes& b) { setSize(b, offsetOf("moov/trak#1/mdia/mdhd"), 1); }},
        {"entry runs past stsd", [&](Bytes& b) { setSize(b, videoStsd + 16, 151); }},
        {"stsd too short for an entry", [&](Bytes& b) { setSize(b, audioStsd, 16); }},
    };
    for (const Case& c : cases) {
        Bytes damaged = good;
        c.damage(damaged);
        Bytes moov = {1, 2, 3};
        EXPECT_FALSE(output::BuildTransplantedMoov(damaged, pieces.videoEntry, pieces.uuid,
                                                   pieces.sa3d, &moov))
            << c.what;
        EXPECT_EQ(moov, (Bytes{1, 2, 3})) << c.what;
    }

    Bytes moov;
    Bytes badEntry = pieces.videoEntry;
    badEntry[3] ^= 1;
    EXPECT_FALSE(output::BuildTransplantedMoov(good, badEntry, pieces.uuid, pieces.sa3d, &moov));
    EXPECT_FALSE(output::BuildTransplantedMoov(good, {}, pieces.uuid, pieces.sa3d, &moov));
    EXPECT_FALSE(output::BuildTransplantedMoov(good, pieces.videoEntry, FillerBox("free", 64, 1),
                                               pieces.sa3d, &moov));
    EXPECT_FALSE(
        output::BuildTransplantedMoov(good, pieces.videoEntry, pieces.uuid, Bytes(36, 0), &moov));
    EXPECT_FALSE(output::BuildTransplantedMoov(good, pieces.videoEntry, pieces.uuid,
                                               FillerBox("SA3D", 40, 1), &moov));
}

TEST(MoovTransplant, ChannelMapBecomesTheIdentity) {
    Bytes sa3d = Sa3dBox(0, 3, 1, 2);
    const Bytes before = sa3d;
    ASSERT_TRUE(output::RemapSa3dChannels(sa3d));
    EXPECT_EQ(Slice(sa3d, 20, 16), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_EQ(Slice(sa3d, 0, 20), Slice(before, 0, 20));

    // Whole entries are written, not just their low bytes.
    Bytes damaged = Sa3dBox(0xFFFFFFFF, 0x0100, 4, 0xABCDEF02);
    ASSERT_TRUE(output::RemapSa3dChannels(damaged));
    EXPECT_EQ(Slice(damaged, 20, 16), Slice(sa3d, 20, 16));

    Bytes notSa3d = FillerBox("SA3D", 40, 0);
    const Bytes kept = notSa3d;
    EXPECT_FALSE(output::RemapSa3dChannels(notSa3d));
    EXPECT_EQ(notSa3d, kept);
}

// A PCM sound entry as FFmpeg's QuickTime muxer writes it (version 0
// fields), with a chan box of `descriptions` channel descriptions (4.0 by
// bitmap without any) and a box behind it.
Bytes SoundEntryWithChan(uint32_t descriptions) {
    BoxWriter w;
    const size_t entry = w.BeginBox("sowt");
    w.Zeros(6);
    w.U16(1);  // data reference index
    w.Zeros(8);
    w.U16(4);
    w.U16(16);
    w.Zeros(4);
    w.U32(48000u << 16);
    const size_t chan = w.BeginBox("chan");
    w.U32(0);
    w.U32(descriptions == 0 ? 0x10000 : 0);
    w.U32(descriptions == 0 ? 0x107 : 0);
    w.U32(descriptions);
    for (uint32_t k = 1; k <= descriptions; ++k) {
        w.U32(k);
        w.Zeros(16);
    }
    w.EndBox(chan);
    Filler(w, "wave", 20, 3);
    w.EndBox(entry);
    return w.Bytes();
}

TEST(MoovTransplant, ChannelLayoutBecomesTheAmbisonicOne) {
    const Pieces pieces;
    for (uint32_t descriptions : {0u, 4u}) {
        SCOPED_TRACE(descriptions);
        OutputMoovShape shape;
        shape.audioEntry = SoundEntryWithChan(descriptions);
        const Bytes old = BuildOutputMoov(shape);
        Bytes moov;
        ASSERT_TRUE(
            output::BuildTransplantedMoov(old, pieces.videoEntry, pieces.uuid, pieces.sa3d, &moov));

        // chan becomes 24 bytes, and SA3D is added.
        const int64_t growth = 36 - 20 * int64_t{descriptions};
        for (const std::string& path :
             std::vector<std::string>{"moov/trak#2", "moov/trak#2/mdia/minf", kAudioStbl}) {
            EXPECT_EQ(static_cast<int64_t>(SizeAt(moov, path)),
                      static_cast<int64_t>(SizeAt(old, path)) + growth)
                << path;
        }
        EXPECT_EQ(static_cast<int64_t>(moov.size()),
                  static_cast<int64_t>(old.size()) + 250 + 512 + growth);
        const auto entry = FindSampleEntry(moov, *FindBoxPath(moov, kAudioStbl + "/stsd"));
        ASSERT_TRUE(entry);
        const auto children =
            testing::Children(moov, entry->offset + 36, entry->offset + entry->size);
        ASSERT_EQ(children.size(), 3u);
        EXPECT_EQ(BoxBytes(moov, children[0]), testing::kAmbisonicChanBox);
        EXPECT_EQ(BoxBytes(moov, children[1]), FillerBox("wave", 20, 3));
        EXPECT_EQ(BoxBytes(moov, children[2]), pieces.sa3d);
        EXPECT_EQ(Slice(moov, entry->offset + 4, 32), Slice(shape.audioEntry, 4, 32));
    }
}

// ---------------------------------------------------------------- files

// An output file as the remux leaves it: ftyp, mdat, moov at the end.
struct OutputFileShape {
    bool mdat64 = false;
    bool moovFirst = false;
    bool trailingBox = false;
    OutputMoovShape moov{};
};

Bytes BuildOutputFile(const OutputFileShape& shape) {
    BoxWriter w;
    Filler(w, "ftyp", 20, 30);
    const Bytes moov = BuildOutputMoov(shape.moov);
    if (shape.moovFirst) w.Append(moov);
    if (shape.mdat64) {
        const size_t start = w.Size();
        w.U32(1);
        w.FourCc("mdat");
        w.U64(16 + 3000);
        for (int i = 0; i < 3000; ++i) w.U8(static_cast<uint8_t>(i));
        EXPECT_EQ(w.Size() - start, 3016u);
    } else {
        Filler(w, "mdat", 3000, 31);
    }
    if (!shape.moovFirst) w.Append(moov);
    if (shape.trailingBox) Filler(w, "free", 16, 32);
    return w.Bytes();
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A reader that has read a builder movie and holds its three pieces.
class TransplantFile : public ::testing::Test {
protected:
    void SetUp() override {
        fixture::CameraMovieOptions options;
        options.totalSamples = 4096;
        input = testing::MakeMovie(dir, "input.mov", options);
        reader = std::make_unique<MovieReader>(1024);
        testing::CaptureStdout();
        const int32_t opened = reader->Open(input.path, 1024);
        testing::CapturedStdout();
        ASSERT_EQ(opened, 0);
        ASSERT_EQ(reader->Sa3dBox().size(), 36u);
    }

    Bytes ExpectedMoov(const OutputMoovShape& shape) {
        Bytes sa3d = input.layout.sa3dBox;
        EXPECT_TRUE(output::RemapSa3dChannels(sa3d));
        Bytes moov;
        EXPECT_TRUE(output::BuildTransplantedMoov(BuildOutputMoov(shape),
                                                  input.layout.videoSampleEntry,
                                                  input.layout.uuidBox, sa3d, &moov));
        // The recording's dates and names follow (tested on their own).
        EXPECT_TRUE(output::CarryRecordingMetadata(moov, reader->Recording(), &moov));
        // V2 beside the camera's V1 (an equirectangular sphere, mono).
        EXPECT_EQ(output::AddSphericalV2(moov, output::SphericalVideo{}),
                  output::SphericalV2Result::Added);
        return moov;
    }

    int32_t Transplant(const std::string& path, std::string* printed = nullptr) {
        testing::CaptureStdout();
        const int32_t result = reader->TransplantMetadata(path);
        std::fflush(stdout);
        const std::string out = testing::CapturedStdout();
        if (printed != nullptr) *printed = out;
        return result;
    }

    TempDir dir;
    testing::TestMovie input;
    std::unique_ptr<MovieReader> reader;
};

TEST_F(TransplantFile, RewritesMoovInPlaceBehindAnyMdat) {
    for (bool mdat64 : {false, true}) {
        const OutputFileShape shape{.mdat64 = mdat64};
        const Bytes before = BuildOutputFile(shape);
        const std::string path = dir.Path(mdat64 ? "out64.mov" : "out32.mov");
        WriteFile(path, before);
        std::string printed;
        ASSERT_EQ(Transplant(path, &printed), 0) << mdat64;
        EXPECT_EQ(printed, "");

        const Bytes after = ReadFileBytes(path);
        const Bytes moov = ExpectedMoov(shape.moov);
        const size_t moovStart = before.size() - 10000;
        ASSERT_EQ(after.size(), moovStart + moov.size()) << mdat64;
        EXPECT_EQ(Slice(after, 0, moovStart), Slice(before, 0, moovStart)) << mdat64;
        EXPECT_EQ(Slice(after, moovStart, moov.size()), moov) << mdat64;
    }
    // The reader keeps the remapped channel map.
    EXPECT_EQ(Slice(reader->Sa3dBox(), 20, 16),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));
}

TEST_F(TransplantFile, AShorterMoovLeavesNoStaleBytes) {
    // An output entry far longer than the camera's makes the moov shrink.
    const OutputFileShape shape{.moov = {.moovSize = 20000, .videoEntrySize = 5000}};
    const Bytes before = BuildOutputFile(shape);
    const std::string path = dir.Path("shrink.mov");
    WriteFile(path, before);
    ASSERT_EQ(Transplant(path), 0);
    const Bytes moov = ExpectedMoov(shape.moov);
    ASSERT_LT(moov.size(), 20000u);
    const Bytes after = ReadFileBytes(path);
    const size_t moovStart = before.size() - 20000;
    ASSERT_EQ(after.size(), moovStart + moov.size());
    EXPECT_EQ(Slice(after, moovStart, moov.size()), moov);
}

// Outputs the transplant cannot rewrite: each is refused without a word and
// left exactly as it was.
struct RefusedOutputCase {
    const char* name;
    OutputFileShape shape;
    std::function<void(Bytes&)> damage;
};

void PrintTo(const RefusedOutputCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedOutput : public TransplantFile,
                      public ::testing::WithParamInterface<RefusedOutputCase> {};

TEST_P(RefusedOutput, IsLeftAsItWas) {
    Bytes before = BuildOutputFile(GetParam().shape);
    if (GetParam().damage) GetParam().damage(before);
    const std::string path = dir.Path("refused.mov");
    WriteFile(path, before);
    std::string printed;
    EXPECT_EQ(Transplant(path, &printed), 1);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ReadFileBytes(path), before);
}

// The default output's moov is its last 10000 bytes.
constexpr size_t kDefaultMoovSize = 10000;

INSTANTIATE_TEST_SUITE_P(
    Shapes, RefusedOutput,
    ::testing::Values(
        RefusedOutputCase{"MoovInFrontOfMdat", {.moovFirst = true}, nullptr},
        RefusedOutputCase{"ABoxBehindMoov", {.trailingBox = true}, nullptr},
        RefusedOutputCase{"NoSecondTrak",
                          {},
                          [](Bytes& file) {
                              const auto trak = FindBoxPath(file, "moov/trak#2");
                              ASSERT_TRUE(trak);
                              std::copy_n(
                                  "free", 4,
                                  file.begin() + static_cast<std::ptrdiff_t>(trak->offset + 4));
                          }},
        RefusedOutputCase{"MoovWith64BitSize",
                          {},
                          [](Bytes& file) { WriteBE32(&file[file.size() - kDefaultMoovSize], 1); }},
        RefusedOutputCase{"MoovCutShort", {}, [](Bytes& file) { file.pop_back(); }},
        RefusedOutputCase{
            "FirstBoxPassesTheEnd",
            {},
            [](Bytes& file) { WriteBE32(&file[0], static_cast<uint32_t>(file.size() + 1)); }},
        RefusedOutputCase{"EmptyFile", {}, [](Bytes& file) { file.clear(); }}),
    [](const ::testing::TestParamInfo<RefusedOutputCase>& param) { return param.param.name; });

// What a player finds in a converted output.
struct PlayerView {
    bool opened = false;
    int streams = 0;
    AVSphericalProjection projection = AV_SPHERICAL_CUBEMAP;
    bool spherical = false;
    AVChannelOrder audioOrder = AV_CHANNEL_ORDER_UNSPEC;
    int audioChannels = 0;
};

PlayerView OpenAsPlayer(const std::string& path) {
    PlayerView view;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return view;
    if (avformat_find_stream_info(context, nullptr) >= 0 && context->nb_streams == 2) {
        view.opened = true;
        view.streams = static_cast<int>(context->nb_streams);
        if (const AVSphericalMapping* mapping =
                fixture::StreamSphericalMapping(context->streams[0])) {
            view.spherical = true;
            view.projection = mapping->projection;
        }
        view.audioOrder = context->streams[1]->codecpar->ch_layout.order;
        view.audioChannels = context->streams[1]->codecpar->ch_layout.nb_channels;
    }
    avformat_close_input(&context);
    return view;
}

std::optional<BoxRef> ChunkOffsets(const Bytes& file, const std::string& stbl) {
    if (auto box = FindBoxPath(file, stbl + "/stco")) return box;
    return FindBoxPath(file, stbl + "/co64");
}

TEST_F(TransplantFile, ARemuxedOutputCarriesTheCameraMetadata) {
    av_log_set_level(AV_LOG_QUIET);
    const std::string wav = dir.Path(".out.mov.wav");
    {
        std::vector<float> silence(1024, 0.0f);
        WavWriter writer;
        testing::CaptureStdout();
        writer.Open(wav);
        for (int i = 0; i < 4; ++i) {
            writer.WriteFrame(silence.data(), silence.data(), silence.data(), silence.data(), 1024);
        }
        EXPECT_TRUE(writer.Finish());
        testing::CapturedStdout();
    }
    const std::string out = dir.Path("out.mov");
    wrap_ffmpeg controller;
    testing::CaptureStdout();
    const int32_t muxed = controller.ffmpegMuxer(input.path, wav, out);
    testing::CapturedStdout();
    ASSERT_EQ(muxed, 0);

    const Bytes before = ReadFileBytes(out);
    const auto packetsBefore = testing::ReadMediaPackets(out);
    const PlayerView plain = OpenAsPlayer(out);
    ASSERT_TRUE(plain.opened);
    EXPECT_FALSE(plain.spherical);
    EXPECT_NE(plain.audioOrder, AV_CHANNEL_ORDER_AMBISONIC);

    ASSERT_EQ(Transplant(out), 0);
    const Bytes after = ReadFileBytes(out);
    const auto moovBefore = FindBoxPath(before, "moov");
    const auto moovAfter = FindBoxPath(after, "moov");
    ASSERT_TRUE(moovBefore && moovAfter);
    ASSERT_EQ(moovAfter->offset, moovBefore->offset);
    const std::size_t sphericalV2 =
        output::St3dBox(0).size() + output::Sv3dBox(output::SphericalVideo{}).size();
    EXPECT_EQ(after.size(),
              before.size() + input.layout.videoSampleEntry.size() + sphericalV2 +
                  input.layout.uuidBox.size() + 36 -
                  FindSampleEntry(before, *FindBoxPath(before, kVideoStbl + "/stsd"))->size);
    // The media data did not move, and the offsets into it did not change.
    EXPECT_EQ(Slice(after, 0, moovBefore->offset), Slice(before, 0, moovBefore->offset));
    for (const std::string& stbl : {kVideoStbl, kAudioStbl}) {
        const auto offsetsBefore = ChunkOffsets(before, stbl);
        const auto offsetsAfter = ChunkOffsets(after, stbl);
        ASSERT_TRUE(offsetsBefore && offsetsAfter) << stbl;
        EXPECT_EQ(BoxBytes(after, *offsetsAfter), BoxBytes(before, *offsetsBefore)) << stbl;
    }
    const auto packetsAfter = testing::ReadMediaPackets(out);
    ASSERT_EQ(packetsAfter.size(), packetsBefore.size());
    for (std::size_t s = 0; s < packetsAfter.size(); ++s) {
        ASSERT_EQ(packetsAfter[s].packets.size(), packetsBefore[s].packets.size()) << s;
        for (std::size_t i = 0; i < packetsAfter[s].packets.size(); ++i) {
            EXPECT_EQ(packetsAfter[s].packets[i].data, packetsBefore[s].packets[i].data)
                << s << " " << i;
            EXPECT_EQ(packetsAfter[s].packets[i].pts, packetsBefore[s].packets[i].pts)
                << s << " " << i;
        }
    }

    // The camera's pieces, where a player looks for them.
    const auto videoEntry = FindSampleEntry(after, *FindBoxPath(after, kVideoStbl + "/stsd"));
    ASSERT_TRUE(videoEntry);
    testing::ExpectEntryWithSphericalV2(BoxBytes(after, *videoEntry),
                                        input.layout.videoSampleEntry);
    testing::ExpectSphericalV1AndV2Agree(after);
    testing::ExpectFfmpegReadsSphericalV2(out);
    const auto trak = FindBoxPath(after, "moov/trak#1");
    EXPECT_EQ(
        BoxBytes(after,
                 testing::Children(after, trak->offset + 8, trak->offset + trak->size).back()),
        input.layout.uuidBox);
    const auto audioEntry = FindSampleEntry(after, *FindBoxPath(after, kAudioStbl + "/stsd"));
    ASSERT_TRUE(audioEntry);
    const Bytes entry = BoxBytes(after, *audioEntry);
    EXPECT_EQ(Slice(entry, entry.size() - 36, 36), reader->Sa3dBox());
    // FFmpeg's muxer said 4.0 by bitmap; the transplant says ambisonics.
    const auto chanBefore = testing::FindSoundEntryChild(
        before, *FindSampleEntry(before, *FindBoxPath(before, kAudioStbl + "/stsd")), "chan");
    ASSERT_TRUE(chanBefore);
    EXPECT_EQ(ReadBE32(&before[chanBefore->offset + 12]), 0x10000u);
    const auto chan = testing::FindSoundEntryChild(after, *audioEntry, "chan");
    ASSERT_TRUE(chan);
    EXPECT_EQ(BoxBytes(after, *chan), testing::kAmbisonicChanBox);

    const PlayerView player = OpenAsPlayer(out);
    ASSERT_TRUE(player.opened);
    EXPECT_TRUE(player.spherical);
    EXPECT_EQ(player.projection, AV_SPHERICAL_EQUIRECTANGULAR);
    EXPECT_EQ(player.audioOrder, AV_CHANNEL_ORDER_AMBISONIC);
    EXPECT_EQ(player.audioChannels, 4);
}

TEST_F(TransplantFile, AMissingOutputIsReported) {
    const std::string path = dir.Path("never written.mov");
    std::string printed;
    EXPECT_EQ(Transplant(path, &printed), 1);
    EXPECT_EQ(printed, path + ":file open error\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace spatialmux
