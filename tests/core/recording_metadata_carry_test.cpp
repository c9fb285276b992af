// Carrying the recording metadata into a moov shaped like FFmpeg's QuickTime
// output: header times in either width, matrix, languages, handler name,
// user-data tags and the metadata box, with every enclosing size adjusted.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/RecordingMetadata.h"
#include "fixture/BoxWriter.h"
#include "output/RecordingMetadataCarry.h"
#include "support/BoxTree.h"

namespace spatialmux {
namespace {

using fixture::BoxWriter;
using testing::BoxBytes;
using testing::BoxRef;
using testing::Children;
using testing::FindBoxPath;
using Bytes = std::vector<uint8_t>;

struct MoovShape {
    uint8_t mvhdVersion = 0;
    uint8_t tkhdVersion = 0;
    uint8_t mdhdVersion = 0;
    bool udta = true;
    bool meta = false;
};

// Version, flags and times (all 0x11 bytes, so that a rewrite shows), then
// the middle fields and a duration of 0x2222.
void Stamp(BoxWriter& w, uint8_t version, int middleWords) {
    w.U32(uint32_t{version} << 24);
    for (int i = 0; i < 2; ++i) version ? w.U64(0x1111111111111111) : w.U32(0x11111111);
    for (int i = 0; i < middleWords; ++i) w.U32(600 + i);
    version ? w.U64(0x2222) : w.U32(0x2222);
}

void Matrix(BoxWriter& w) {
    for (uint32_t v : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) w.U32(v);
}

void Track(BoxWriter& w, const MoovShape& shape, const char* handler, const char* name) {
    const size_t trak = w.BeginBox("trak");
    const size_t tkhd = w.BeginBox("tkhd");
    Stamp(w, shape.tkhdVersion, 2);
    w.Zeros(16);
    Matrix(w);
    w.U32(128 << 16);
    w.U32(64 << 16);
    w.EndBox(tkhd);
    const size_t mdia = w.BeginBox("mdia");
    const size_t mdhd = w.BeginBox("mdhd");
    Stamp(w, shape.mdhdVersion, 1);
    w.U16(0);  // FFmpeg's QuickTime "und"
    w.U16(0);
    w.EndBox(mdhd);
    const size_t hdlr = w.BeginBox("hdlr");
    w.U32(0);
    w.FourCc("mhlr");
    w.FourCc(handler);
    w.Zeros(12);
    w.U8(static_cast<uint8_t>(std::string(name).size()));  // Pascal string
    w.Append(std::string(name));
    w.EndBox(hdlr);
    const size_t minf = w.BeginBox("minf");
    const size_t stbl = w.BeginBox("stbl");
    const size_t stsd = w.BeginBox("stsd");
    w.U32(0);
    w.U32(1);
    const size_t entry = w.BeginBox(std::string(handler) == "vide" ? "avc1" : "sowt");
    w.Zeros(20);
    w.EndBox(entry);
    w.EndBox(stsd);
    w.EndBox(stbl);
    w.EndBox(minf);
    w.EndBox(mdia);
    w.EndBox(trak);
}

Bytes TextTag(const char* type, const std::string& text) {
    BoxWriter w;
    const size_t box = w.BeginBox(type);
    w.U16(static_cast<uint16_t>(text.size()));
    w.U16(0x55C4);
    w.Append(text);
    w.EndBox(box);
    return w.Bytes();
}

Bytes MetaBox(const std::string& value) {
    BoxWriter w;
    const size_t meta = w.BeginBox("meta");
    const size_t hdlr = w.BeginBox("hdlr");
    w.U32(0);
    w.U32(0);
    w.FourCc("mdta");
    w.Zeros(13);
    w.EndBox(hdlr);
    const size_t ilst = w.BeginBox("ilst");
    w.Append(value);
    w.EndBox(ilst);
    w.EndBox(meta);
    return w.Bytes();
}

Bytes OutputMoov(const MoovShape& shape = {}) {
    BoxWriter w;
    const size_t moov = w.BeginBox("moov");
    const size_t mvhd = w.BeginBox("mvhd");
    Stamp(w, shape.mvhdVersion, 1);
    w.U32(0x10000);
    w.U16(0x100);
    w.Zeros(10);
    Matrix(w);
    w.Zeros(24);
    w.U32(3);
    w.EndBox(mvhd);
    Track(w, shape, "vide", "VideoHandler");
    Track(w, shape, "soun", "SoundHandler");
    if (shape.udta) {
        const size_t udta = w.BeginBox("udta");
        w.Append(TextTag("\xA9swr", "Lavf59.27.100"));
        w.Append(TextTag("\xA9nam", "muxer title"));
        w.EndBox(udta);
    }
    if (shape.meta) w.Append(MetaBox("old"));
    w.EndBox(moov);
    return w.Bytes();
}

DisplayMatrix Rotated90() {
    DisplayMatrix m{};
    const uint32_t words[9] = {0, 0x10000, 0, 0xFFFF0000, 0, 0, 64u << 16, 0, 0x40000000};
    for (int i = 0; i < 9; ++i) WriteBE32(m.data() + 4 * i, words[i]);
    return m;
}

RecordingMetadata EveryPiece() {
    RecordingMetadata m;
    m.movieTimes = HeaderTimes{3797496000, 3797496001};
    m.videoTrackTimes = HeaderTimes{3797496010, 3797496011};
    m.videoMediaTimes = HeaderTimes{3797496020, 3797496021};
    m.audioMediaTimes = HeaderTimes{3797496030, 3797496031};
    m.videoMatrix = Rotated90();
    m.videoLanguage = 0x15C7;  // packed "eng"
    m.audioLanguage = 0x2A0E;  // packed "jpn"
    m.videoHandlerName = "Camera Video";
    m.userDataTags = TextTag("\xA9xyz", "+35.6586+139.7454/");
    const Bytes name = TextTag("\xA9nam", "camera title");
    m.userDataTags.insert(m.userDataTags.end(), name.begin(), name.end());
    m.metaBox = MetaBox("new");
    return m;
}

uint64_t Field(const Bytes& b, uint64_t at, bool wide) {
    return wide ? (uint64_t{ReadBE32(b.data() + at)} << 32) | ReadBE32(b.data() + at + 4)
                : ReadBE32(b.data() + at);
}

HeaderTimes TimesAt(const Bytes& b, const BoxRef& box) {
    const bool wide = b[box.offset + 8] == 1;
    return {Field(b, box.offset + 12, wide), Field(b, box.offset + (wide ? 20 : 16), wide)};
}

// Every box of the moov, to the sample entries, lies exactly inside its parent.
void ExpectWellFormed(const Bytes& moov) {
    ASSERT_EQ(ReadBE32(moov.data() + 0), moov.size());
    for (const char* path : {"moov", "moov/trak#1", "moov/trak#1/mdia", "moov/trak#2",
                             "moov/trak#2/mdia", "moov/trak#1/mdia/minf/stbl/stsd"}) {
        const auto box = FindBoxPath(moov, path);
        ASSERT_TRUE(box) << path;
        const uint64_t begin =
            box->offset + box->header + (std::string(path).ends_with("stsd") ? 8 : 0);
        uint64_t covered = 0;
        for (const BoxRef& child : Children(moov, begin, box->offset + box->size))
            covered += child.size;
        EXPECT_EQ(begin + covered, box->offset + box->size) << path;
    }
}

TEST(RecordingMetadataCarry, EveryPieceLandsInItsBoxWithinTheSameWidths) {
    const Bytes moov = OutputMoov();
    const RecordingMetadata m = EveryPiece();
    Bytes out;
    ASSERT_TRUE(output::CarryRecordingMetadata(moov, m, &out));
    ExpectWellFormed(out);

    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/mvhd")), *m.movieTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/tkhd")), *m.videoTrackTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/mdia/mdhd")), *m.videoMediaTimes);
    // The camera's audio track has only a media header: it serves both.
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#2/tkhd")), *m.audioMediaTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#2/mdia/mdhd")), *m.audioMediaTimes);
    for (const char* path : {"moov/mvhd", "moov/trak#1/tkhd", "moov/trak#1/mdia/mdhd"}) {
        EXPECT_EQ(FindBoxPath(out, path)->size, FindBoxPath(moov, path)->size) << path;
    }

    const auto tkhd = *FindBoxPath(out, "moov/trak#1/tkhd");
    EXPECT_TRUE(
        std::equal(m.videoMatrix->begin(), m.videoMatrix->end(), out.begin() + tkhd.offset + 48));
    const auto videoMdhd = *FindBoxPath(out, "moov/trak#1/mdia/mdhd");
    EXPECT_EQ(out[videoMdhd.offset + 28], 0x15);
    EXPECT_EQ(out[videoMdhd.offset + 29], 0xC7);
    const auto audioMdhd = *FindBoxPath(out, "moov/trak#2/mdia/mdhd");
    EXPECT_EQ(out[audioMdhd.offset + 28], 0x2A);
    EXPECT_EQ(out[audioMdhd.offset + 29], 0x0E);
    // Durations and the other fields stay the output's.
    EXPECT_EQ(ReadBE32(out.data() + videoMdhd.offset + 24), 0x2222u);
    EXPECT_EQ(ReadBE32(out.data() + videoMdhd.offset + 20), 600u);

    // The name keeps the output's Pascal form; the audio handler is untouched.
    const auto hdlr = BoxBytes(out, *FindBoxPath(out, "moov/trak#1/mdia/hdlr"));
    EXPECT_EQ(std::string(hdlr.begin() + 32, hdlr.end()), std::string("\x0C") + "Camera Video");
    EXPECT_EQ(BoxBytes(out, *FindBoxPath(out, "moov/trak#2/mdia/hdlr")),
              BoxBytes(moov, *FindBoxPath(moov, "moov/trak#2/mdia/hdlr")));

    // The muxer's tag stays, its title gives way to the camera's, then meta.
    const auto udta = *FindBoxPath(out, "moov/udta");
    Bytes expectedUdta = {0, 0, 0, 0, 'u', 'd', 't', 'a'};
    const Bytes swr = TextTag("\xA9swr", "Lavf59.27.100");
    expectedUdta.insert(expectedUdta.end(), swr.begin(), swr.end());
    expectedUdta.insert(expectedUdta.end(), m.userDataTags.begin(), m.userDataTags.end());
    WriteBE32(expectedUdta.data(), static_cast<uint32_t>(expectedUdta.size()));
    EXPECT_EQ(BoxBytes(out, udta), expectedUdta);
    const auto top = Children(out, 8, out.size());
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(top.back().type, "meta");
    EXPECT_EQ(BoxBytes(out, top.back()), m.metaBox);
}

TEST(RecordingMetadataCarry, WidthsFollowTheOutputAndGrowWhenATimeNeeds64Bits) {
    RecordingMetadata late;
    late.movieTimes = HeaderTimes{0x100000000ull + 5, 7};
    late.videoTrackTimes = HeaderTimes{0x1FFFFFFFFull, 8};
    late.videoMediaTimes = HeaderTimes{9, 0x100000009ull};
    const Bytes narrow = OutputMoov();
    Bytes out;
    ASSERT_TRUE(output::CarryRecordingMetadata(narrow, late, &out));
    ExpectWellFormed(out);
    EXPECT_EQ(out.size(), narrow.size() + 3 * 12);
    for (const char* path : {"moov/mvhd", "moov/trak#1/tkhd", "moov/trak#1/mdia/mdhd"}) {
        const auto box = *FindBoxPath(out, path);
        EXPECT_EQ(out[box.offset + 8], 1) << path;
        EXPECT_EQ(box.size, FindBoxPath(narrow, path)->size + 12) << path;
    }
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/mvhd")), *late.movieTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/tkhd")), *late.videoTrackTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/mdia/mdhd")), *late.videoMediaTimes);
    // Widened boxes keep their duration, track ID and the fields behind.
    const auto tkhd = *FindBoxPath(out, "moov/trak#1/tkhd");
    EXPECT_EQ(ReadBE32(out.data() + tkhd.offset + 28), 600u);
    EXPECT_EQ(Field(out, tkhd.offset + 36, true), 0x2222u);
    EXPECT_EQ(ReadBE32(out.data() + tkhd.offset + tkhd.size - 8), 128u << 16);
    const auto mdhd = *FindBoxPath(out, "moov/trak#1/mdia/mdhd");
    EXPECT_EQ(ReadBE32(out.data() + mdhd.offset + 28), 600u);
    EXPECT_EQ(Field(out, mdhd.offset + 32, true), 0x2222u);
    // Untouched audio boxes keep version 0.
    EXPECT_EQ(out[FindBoxPath(out, "moov/trak#2/tkhd")->offset + 8], 0);

    // A version 1 output takes 32-bit times widened, and keeps its size.
    MoovShape wideShape;
    wideShape.mvhdVersion = wideShape.tkhdVersion = wideShape.mdhdVersion = 1;
    const Bytes wide = OutputMoov(wideShape);
    const RecordingMetadata early = EveryPiece();
    ASSERT_TRUE(output::CarryRecordingMetadata(wide, early, &out));
    ExpectWellFormed(out);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#2/mdia/mdhd")), *early.audioMediaTimes);
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/mvhd")), *early.movieTimes);
    EXPECT_EQ(FindBoxPath(out, "moov/mvhd")->size, 120u);
    const auto wideTkhd = *FindBoxPath(out, "moov/trak#1/tkhd");
    EXPECT_TRUE(std::equal(early.videoMatrix->begin(), early.videoMatrix->end(),
                           out.begin() + wideTkhd.offset + 60));
}

TEST(RecordingMetadataCarry, UdtaAndMetaAreMadeOrReplacedAndNothingIsInvented) {
    MoovShape bare;
    bare.udta = false;
    bare.meta = true;
    const Bytes moov = OutputMoov(bare);
    Bytes out;
    // Nothing to carry: the moov stays as it is.
    ASSERT_TRUE(output::CarryRecordingMetadata(moov, RecordingMetadata{}, &out));
    EXPECT_EQ(out, moov);

    RecordingMetadata m;
    m.userDataTags = TextTag("\xA9mak", "Maker");
    m.metaBox = MetaBox("new");
    ASSERT_TRUE(output::CarryRecordingMetadata(moov, m, &out));
    ExpectWellFormed(out);
    const auto top = Children(out, 8, out.size());
    ASSERT_EQ(top.size(), 5u);
    // The old meta is replaced where it stood; the new udta comes last.
    EXPECT_EQ(top[3].type, "meta");
    EXPECT_EQ(BoxBytes(out, top[3]), m.metaBox);
    EXPECT_EQ(top[4].type, "udta");
    const auto udtaChildren = Children(out, top[4].offset + 8, top[4].offset + top[4].size);
    ASSERT_EQ(udtaChildren.size(), 1u);
    EXPECT_EQ(BoxBytes(out, udtaChildren[0]), m.userDataTags);
    // No header was touched.
    EXPECT_EQ(BoxBytes(out, *FindBoxPath(out, "moov/mvhd")),
              BoxBytes(moov, *FindBoxPath(moov, "moov/mvhd")));

    // A header the output lacks takes nothing; the other pieces still land.
    Bytes noMvhd = moov;
    const auto mvhd = *FindBoxPath(moov, "moov/mvhd");
    std::copy_n("free", 4, noMvhd.begin() + static_cast<std::ptrdiff_t>(mvhd.offset + 4));
    const RecordingMetadata every = EveryPiece();
    ASSERT_TRUE(output::CarryRecordingMetadata(noMvhd, every, &out));
    ExpectWellFormed(out);
    EXPECT_EQ(BoxBytes(out, *FindBoxPath(out, "moov/free")),
              BoxBytes(noMvhd, *FindBoxPath(noMvhd, "moov/free")));
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/tkhd")), *every.videoTrackTimes);
}

TEST(RecordingMetadataCarry, MalformedPiecesOrBoxesAreRefusedAndChangeNothing) {
    const Bytes moov = OutputMoov();
    const Bytes sentinel = {1, 2, 3};
    auto refused = [&](const Bytes& target, const RecordingMetadata& m, const char* what) {
        Bytes out = sentinel;
        EXPECT_FALSE(output::CarryRecordingMetadata(target, m, &out)) << what;
        EXPECT_EQ(out, sentinel) << what;
    };

    RecordingMetadata badTags;
    badTags.userDataTags = TextTag("\xA9xyz", "here");
    badTags.userDataTags[3] += 1;  // one byte past the run
    refused(moov, badTags, "tag size past its end");
    badTags.userDataTags = {0, 0, 0, 4, 'a', 'b', 'c', 'd'};
    refused(moov, badTags, "tag smaller than its header");

    RecordingMetadata badMeta;
    badMeta.metaBox = TextTag("free", "x");
    refused(moov, badMeta, "meta that is not a meta box");

    RecordingMetadata times;
    times.movieTimes = HeaderTimes{1, 2};
    times.videoTrackTimes = HeaderTimes{3, 4};
    Bytes version2 = moov;
    version2[FindBoxPath(moov, "moov/mvhd")->offset + 8] = 2;
    Bytes out;
    ASSERT_TRUE(output::CarryRecordingMetadata(version2, times, &out));
    // A version this program does not know is left alone, the rest carried.
    EXPECT_EQ(BoxBytes(out, *FindBoxPath(out, "moov/mvhd")),
              BoxBytes(version2, *FindBoxPath(version2, "moov/mvhd")));
    EXPECT_EQ(TimesAt(out, *FindBoxPath(out, "moov/trak#1/tkhd")), *times.videoTrackTimes);

    Bytes shortMvhd = OutputMoov();
    const auto mvhd = *FindBoxPath(shortMvhd, "moov/mvhd");
    // mvhd cut to 40 bytes, the rest made a free box: times fit, the matrix does not.
    WriteBE32(shortMvhd.data() + mvhd.offset, 40);
    WriteBE32(shortMvhd.data() + mvhd.offset + 40, static_cast<uint32_t>(mvhd.size - 40));
    std::copy_n("free", 4, shortMvhd.begin() + static_cast<std::ptrdiff_t>(mvhd.offset + 44));
    refused(shortMvhd, times, "mvhd shorter than its fields");

    Bytes broken = moov;
    WriteBE32(broken.data() + FindBoxPath(moov, "moov/udta")->offset + 8, 0xFFFF);
    RecordingMetadata tags;
    tags.userDataTags = TextTag("\xA9xyz", "here");
    refused(broken, tags, "output udta child past udta's end");

    Bytes truncatedMoov = moov;
    truncatedMoov.pop_back();
    refused(truncatedMoov, EveryPiece(), "moov shorter than its size");
}

TEST(RecordingMetadataReader, OnlyRecordingTagsAreCarried) {
    for (const char* type : {"\xA9xyz", "\xA9mak", "\xA9mod",
                             "\xA9"
                             "day",
                             "\xA9nam", "loci", "titl", "XMP_", "meta"}) {
        EXPECT_TRUE(IsCarriedUserDataType(reinterpret_cast<const uint8_t*>(type))) << type;
    }
    // The camera's private boxes, and tags naming the program that wrote the file.
    for (const char* type : {"ZMKN", "ZDT9", "ZATR", "free", "\xA9swr", "\xA9too", "hinf"}) {
        EXPECT_FALSE(IsCarriedUserDataType(reinterpret_cast<const uint8_t*>(type))) << type;
    }
}

TEST(RecordingMetadataReader, HandlerNamesInEitherForm) {
    auto hdlr = [](const Bytes& name) {
        Bytes box(32, 0);
        std::copy_n("hdlr", 4, box.begin() + 4);
        box.insert(box.end(), name.begin(), name.end());
        WriteBE32(box.data(), static_cast<uint32_t>(box.size()));
        return box;
    };
    const Bytes cName = hdlr({'V', 'i', 'd', 0});
    EXPECT_EQ(ReadHandlerName(cName.data(), cName.size()), "Vid");
    const Bytes pascal = hdlr({3, 'V', 'i', 'd'});
    EXPECT_EQ(ReadHandlerName(pascal.data(), pascal.size()), "Vid");
    const Bytes empty = hdlr({});
    EXPECT_EQ(ReadHandlerName(empty.data(), empty.size()), "");
    Bytes lying = hdlr({'V'});
    WriteBE32(lying.data(), 200);
    EXPECT_FALSE(ReadHandlerName(lying.data(), lying.size()));
}

}  // namespace
}  // namespace spatialmux
