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
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "output/OutputVerification.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::BoxRef;
using testing::FindBoxPath;
using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

constexpr const char* kEnglish = "LANG=C LC_ALL=C LANGUAGE=";
constexpr const char* kStbl = "moov/trak#1/mdia/minf/stbl";

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Box(const char* type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> box;
    AppendBE32(box, static_cast<uint32_t>(8 + payload.size()));
    box.insert(box.end(), type, type + 4);
    box.insert(box.end(), payload.begin(), payload.end());
    return box;
}

// Inserts `box` at `at`, each box of `parents` (32-bit sizes, all holding
// `at`) growing with it. The moov of a fixture movie lies behind its media
// data, so only the camera's audio box behind the moov moves: its pointer
// (moov/udta/ZDT9) follows.
void InsertBox(std::vector<uint8_t>& bytes, uint64_t at, const std::vector<uint8_t>& box,
               const std::vector<BoxRef>& parents) {
    const auto grown = static_cast<uint32_t>(box.size());
    for (const BoxRef& parent : parents) {
        ASSERT_EQ(parent.header, 8u) << parent.type;
        ASSERT_TRUE(at >= parent.offset && at <= parent.offset + parent.size) << parent.type;
        WriteBE32(bytes.data() + parent.offset, ReadBE32(bytes.data() + parent.offset) + grown);
    }
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), box.begin(), box.end());
    const auto pointer = FindBoxPath(bytes, "moov/udta/ZDT9");
    ASSERT_TRUE(pointer);
    uint8_t* value = bytes.data() + pointer->offset + 8;
    WriteBE64(value, ReadBE64(value) + grown);
}

// The chain of boxes from moov down to the one at `path`.
std::vector<BoxRef> Chain(const std::vector<uint8_t>& bytes, const std::string& path) {
    std::vector<BoxRef> chain;
    for (std::size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
        const auto box = FindBoxPath(bytes, path.substr(0, slash));
        EXPECT_TRUE(box) << path.substr(0, slash);
        if (box) chain.push_back(*box);
        if (slash == std::string::npos) break;
    }
    return chain;
}

// The table of stbl named `type`, with its first entry changed the way an
// attacker would: the first chunk on the first audio chunk, one sample more
// in the first chunks, the first sample 4000 bytes longer.
std::vector<uint8_t> DecoyTable(const std::vector<uint8_t>& bytes, const std::string& type,
                                uint64_t audioChunk) {
    const auto table = FindBoxPath(bytes, std::string(kStbl) + "/" + type);
    EXPECT_TRUE(table) << type;
    if (!table) return {};
    std::vector<uint8_t> decoy = testing::BoxBytes(bytes, *table);
    uint8_t* first = decoy.data() + 16;  // behind version, flags and count
    if (type == "co64") WriteBE64(first, audioChunk);
    if (type == "stco") WriteBE32(first, static_cast<uint32_t>(audioChunk));
    if (type == "stsc") WriteBE32(first + 4, ReadBE32(first + 4) + 1);
    if (type == "stsz") WriteBE32(first + 4, ReadBE32(first + 4) + 4000);
    return decoy;
}

enum class Place { Edts, TrackUdta, Mdia, Minf, Dinf, SampleEntry, MoovInTopLevelUdta };

struct Shape {
    std::string table;  // the duplicated table
    Place place;
    std::string name;
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

std::vector<Shape> AllShapes() {
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
    shapes.push_back({"co64", Place::MoovInTopLevelUdta, "moov_in_top_level_udta"});
    return shapes;
}

// The movie of `shape`, written to `path` from the good movie `bytes`.
void MakeShape(std::vector<uint8_t> bytes, const Shape& shape, uint64_t audioChunk,
               const std::string& path) {
    const std::string trak = "moov/trak#1";
    if (shape.place == Place::MoovInTopLevelUdta) {
        // A copy of the moov whose 13th chunk lies on the audio, in a udta
        // between the media data and the real moov.
        const auto moovBox = FindBoxPath(bytes, "moov");
        ASSERT_TRUE(moovBox);
        std::vector<uint8_t> copy = bytes;
        const auto offsets = FindBoxPath(copy, std::string(kStbl) + "/co64");
        ASSERT_TRUE(offsets);
        const uint32_t count = ReadBE32(copy.data() + offsets->offset + 12);
        ASSERT_GT(count, 0u);
        WriteBE64(copy.data() + offsets->offset + 16 + 8 * std::min<uint32_t>(12, count - 1),
                  audioChunk);
        const std::vector<uint8_t> nested = Box("udta", testing::BoxBytes(copy, *moovBox));
        ASSERT_NO_FATAL_FAILURE(InsertBox(bytes, moovBox->offset, nested, {}));
        WriteFile(path, bytes);
        return;
    }
    const std::vector<uint8_t> table = DecoyTable(bytes, shape.table, audioChunk);
    ASSERT_FALSE(table.empty());
    std::string parent;
    uint64_t at = 0;
    std::vector<uint8_t> box = table;
    switch (shape.place) {
        case Place::Edts: {
            // A first child of the track, in front of its media.
            parent = trak;
            const auto tkhd = FindBoxPath(bytes, trak + "/tkhd");
            ASSERT_TRUE(tkhd);
            at = tkhd->offset + tkhd->size;
            box = Box("edts", table);
            break;
        }
        case Place::TrackUdta:
            parent = trak;
            box = Box("udta", table);
            break;
        case Place::Mdia:
            parent = trak + "/mdia";
            break;
        case Place::Minf:
            parent = trak + "/mdia/minf";
            break;
        case Place::Dinf:
            parent = trak + "/mdia/minf/dinf";
            break;
        case Place::SampleEntry:
            parent = std::string(kStbl) + "/stsd";
            break;
        case Place::MoovInTopLevelUdta:
            break;
    }
    std::vector<BoxRef> parents = Chain(bytes, parent);
    if (shape.place == Place::SampleEntry) {
        const auto entry = testing::FindSampleEntry(bytes, parents.back());
        ASSERT_TRUE(entry);
        parents.push_back(*entry);
    }
    if (at == 0) at = parents.back().offset + parents.back().size;
    ASSERT_NO_FATAL_FAILURE(InsertBox(bytes, at, box, parents));
    WriteFile(path, bytes);
}

// Every video packet of `output` is the input's as libavformat reads both.
void ExpectSameVideo(const std::string& input, const std::string& output) {
    const auto in = testing::ReadMediaPackets(input);
    const auto out = testing::ReadMediaPackets(output);
    ASSERT_FALSE(in.empty());
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out[0].type, AVMEDIA_TYPE_VIDEO);
    ASSERT_FALSE(out[0].packets.empty());
    ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
    for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
        EXPECT_EQ(out[0].packets[i].data, in[0].packets[i].data) << "video packet " << i + 1;
    }
}

class PlayersReading : public ::testing::TestWithParam<Shape> {};

TEST_P(PlayersReading, ConvertsTheVideoPlayersReadOrLeavesNothing) {
    const Shape& shape = GetParam();
    TempDir dir;
    auto options = testing::SmallMovie(9000);
    options.useStco = shape.table == "stco";
    const auto good = testing::MakeMovie(dir, "good.mp4", options);
    ASSERT_FALSE(good.layout.audioChunkOffsets.empty());
    ASSERT_NO_FATAL_FAILURE(MakeShape(ReadFileBytes(good.path), shape,
                                      good.layout.audioChunkOffsets[0], dir.Path("in.mp4")));
    std::filesystem::remove(good.path);
    const std::string input = dir.Path("in.mp4");
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
    const int32_t samples = 9000;
    const auto good = testing::MakeMovie(dir, "good.mp4", testing::SmallMovie(samples));
    ASSERT_NO_FATAL_FAILURE(MakeShape(ReadFileBytes(good.path), {"co64", Place::Edts, "edts"},
                                      good.layout.audioChunkOffsets[0], dir.Path("in.mp4")));
    const auto verdict = output::VerifyOutput(
        dir.Path("in.mp4"), {dir.Path("in.mp4"), samples, true, output::AudioCodec::Pcm});
    EXPECT_FALSE(verdict.ok);
    EXPECT_NE(verdict.reason.find("the input's video index and tables disagree (video packet 1)"),
              std::string::npos)
        << verdict.reason;
}

}  // namespace
}  // namespace spatialmux
