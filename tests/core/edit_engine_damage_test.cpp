// Damaged movies that once made the edit engine write over video or pass a
// broken output, each one field of a good movie written by the fixture
// builder, through both engines: every video packet of an output is the
// input's, byte for byte, or the movie is refused with nothing left behind.
// The edit runs only where it proved its writes safe, and otherwise falls
// back to the remux with one line. Also: the aligned writer's widening never
// touches a video byte, and the verification holds an edit's video packets
// to their places.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "control/convert/BlockAlignedWriter.h"
#include "output/OutputVerification.h"
#include "platform/FileCopy.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/ConvertedOutputChecks.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using fixture::CameraMovieOptions;
using fixture::StrayFrame;
using testing::ExpectSameVideo;
using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

constexpr const char* kEnglish = "LANG=C LC_ALL=C LANGUAGE=";

// What the default engine (the edit, for a .mov with PCM) does with a movie.
enum class Edit { Converts, FallsBack, Refused };

struct Damage {
    const char* name;
    void (*apply)(CameraMovieOptions&);
    Edit edit;
    bool remuxConverts = true;
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.name;
}

const Damage kDamages[] = {
    // The private audio tables point into video.
    {"audio_chunks_one_byte_late", [](CameraMovieOptions& o) { o.damage.privateChunkShift = 1; },
     Edit::FallsBack},
    {"audio_chunk_on_the_keyframe",
     [](CameraMovieOptions& o) { o.damage.privateChunkOnFirstFrame = 2; }, Edit::FallsBack},
    {"audio_run_one_instant_wider",
     [](CameraMovieOptions& o) {
         o.chunkRuns = {{1, 1920}};
         o.damage.privateChunkRuns = {{1, 1921}};
     },
     Edit::FallsBack},
    {"audio_run_across_the_video",
     [](CameraMovieOptions& o) {
         o.damage.privateChunkRuns = {{1, 0x0FFFFFFF}};
     },
     Edit::FallsBack},
    // The frame reading's own walk through odd runs: what it reads is what
    // the edit writes and describes.
    {"audio_runs_repeat_the_first_chunk",
     [](CameraMovieOptions& o) {
         o.damage.privateChunkRuns = {{1, 2000}, {1, 1000}};
     },
     Edit::FallsBack},
    {"audio_run_of_zero",
     [](CameraMovieOptions& o) {
         o.chunkRuns = {{1, 1000}};
         o.damage.privateChunkRuns = {{1, 1000}, {3, 0}, {4, 1000}};
     },
     Edit::Converts},
    // The video track points into audio.
    {"video_sample_on_an_audio_chunk",
     [](CameraMovieOptions& o) { o.damage.videoSampleOnAudio = 2; }, Edit::FallsBack},
    {"video_runs_across_the_audio",
     [](CameraMovieOptions& o) {
         o.damage.videoChunkRuns = {{1, 1023}};
     },
     Edit::FallsBack},
    // Video where the copy is not the input's.
    {"video_sample_in_free_behind_mdat",
     [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::FreeBehindMdat; },
     Edit::FallsBack},
    {"video_sample_in_free_at_the_end",
     [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::FreeAtEnd; }, Edit::FallsBack},
    {"video_sample_in_private_box_before_mdat",
     [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::PrivateBeforeMdat; },
     Edit::FallsBack},
    {"video_sample_in_the_old_moov",
     [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::InMoov; }, Edit::FallsBack},
    // A video track that cannot be copied as it is.
    {"video_dref_of_size_0", [](CameraMovieOptions& o) { o.damage.videoDrefSizeZero = true; },
     Edit::FallsBack},
    {"video_chunk_offsets_renamed",
     [](CameraMovieOptions& o) { o.damage.videoChunkOffsetType = "stcX"; }, Edit::Refused, false},
    // Top-level boxes.
    {"mdat_to_the_end_of_the_file",
     [](CameraMovieOptions& o) {
         o.moovBeforeMdat = true;
         o.damage.mdatSizeToEnd = true;
     },
     Edit::Converts},
    {"more_top_level_boxes_than_any_walk_takes",
     [](CameraMovieOptions& o) { o.damage.freeBoxesAtEnd = 100001; }, Edit::FallsBack},
    {"ftyp_too_large_to_rewrite", [](CameraMovieOptions& o) { o.damage.ftypBytes = 8192; },
     Edit::FallsBack},
};

class EditEngineDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(EditEngineDamage, ConvertsEveryVideoByteOrLeavesNothing) {
    const Damage& damage = GetParam();
    TempDir dir;
    auto options = testing::SmallMovie(9000);
    damage.apply(options);
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    const auto before = ReadFileBytes(movie.path);

    const ProgramRun remuxed = RunProgram({"--remux", movie.path, dir.Path("remux.mov")}, kEnglish);
    const ProgramRun edited = RunProgram({movie.path, dir.Path("edit.mov")}, kEnglish);
    EXPECT_EQ(ReadFileBytes(movie.path), before) << "the input must not change";
    std::vector<std::string> entries = {"in.mp4"};

    if (damage.remuxConverts) {
        ASSERT_EQ(remuxed.status, 0) << remuxed.out << remuxed.err;
        ExpectSameVideo(movie.path, dir.Path("remux.mov"));
        entries.push_back("remux.mov");
    } else {
        EXPECT_EQ(remuxed.status, 1) << remuxed.out << remuxed.err;
    }
    const bool fellBack = edited.out.find("cannot be edited in place") != std::string::npos;
    // A movie whose video index cannot be held to its tables is refused
    // before any work, by either engine: it never reaches the edit.
    const bool refusedBeforeWork =
        damage.edit == Edit::Refused &&
        (edited.out.find("its video track cannot be read") != std::string::npos ||
         edited.out.find("its video index and tables disagree") != std::string::npos);
    EXPECT_EQ(fellBack || refusedBeforeWork, damage.edit != Edit::Converts) << edited.out;
    if (damage.edit == Edit::Refused) {
        EXPECT_EQ(edited.status, 1) << edited.out << edited.err;
    } else {
        ASSERT_EQ(edited.status, 0) << edited.out << edited.err;
        ExpectSameVideo(movie.path, dir.Path("edit.mov"));
        entries.insert(entries.begin(), "edit.mov");
        // Both engines read the audio alike, however odd its tables.
        const auto editAudio = testing::ReadMediaPackets(dir.Path("edit.mov"));
        const auto remuxAudio = testing::ReadMediaPackets(dir.Path("remux.mov"));
        ASSERT_EQ(editAudio.size(), 2u);
        ASSERT_EQ(remuxAudio.size(), 2u);
        EXPECT_TRUE(editAudio[1].Bytes() == remuxAudio[1].Bytes());
    }
    EXPECT_EQ(dir.Entries(), entries);
}

INSTANTIATE_TEST_SUITE_P(OneFieldEach, EditEngineDamage, ::testing::ValuesIn(kDamages),
                         [](const auto& damage) { return std::string(damage.param.name); });

// The widening to whole blocks stops at the bytes it must leave alone: the
// output's own bytes there (which differ from the input's here) stay as
// they are, whatever the order and place of the writes; a write into them
// is refused; the other bytes get exactly what was written or the input's.
TEST(EditEngine, AlignedWritesNeverTouchAVideoByte) {
    TempDir dir;
    std::vector<uint8_t> input(6 * 4096);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 29 + 3);
    // The output as a copy whose video bytes a test can tell apart.
    const std::vector<output::ByteRange> video = {{100, 50}, {4000, 300}, {8192, 4096}, {20000, 8}};
    std::vector<uint8_t> copy = input;
    for (const output::ByteRange& sample : video) {
        std::fill_n(copy.begin() + static_cast<std::ptrdiff_t>(sample.offset), sample.size, 0xEE);
    }
    for (const auto& [name, bytes] : {std::pair{"in", &input}, std::pair{"out", &copy}}) {
        std::ofstream(dir.Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
    }
    const platform::UniqueFd in = platform::OpenForReading(dir.Path("in"));
    const platform::UniqueFd out(::open(dir.Path("out").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(in.Valid() && out.Valid());
    BlockAlignedWriter writer(
        in.Get(), out.Get(), 4096, input.size(), [](uint64_t) { return true; }, video);
    writer.ReadAhead({{150, 200}, {3900, 100}, {12288, 5000}}, [&input] { return input.size(); });
    std::vector<uint8_t> expected = copy;
    uint8_t mark = 0;
    const auto put = [&](uint64_t offset, std::size_t count) {
        const std::vector<uint8_t> bytes(count, ++mark);
        const bool written = writer.Write(offset, bytes.data(), count);
        if (written) std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        return written;
    };
    // Right behind and right in front of video, between two samples of one
    // block, across block edges, and one into a sample and one over it.
    EXPECT_TRUE(put(150, 200));
    EXPECT_TRUE(put(3900, 100));
    EXPECT_TRUE(put(4300, 100));
    EXPECT_TRUE(put(12288, 5000));
    EXPECT_TRUE(put(20008, 10));
    EXPECT_FALSE(put(8000, 200)) << "a write reaching into a video sample";
    EXPECT_FALSE(put(19000, 2000)) << "a write across a video sample";
    EXPECT_TRUE(writer.Flush());
    const auto result = ReadFileBytes(dir.Path("out"));
    EXPECT_TRUE(result == expected);
    for (const output::ByteRange& sample : video) {
        for (uint64_t at = sample.offset; at < sample.End(); ++at) {
            ASSERT_EQ(result[at], 0xEE) << "video byte " << at << " was written";
        }
    }
    EXPECT_FALSE(output::FirstSharedByte(output::CoveredBytes(writer.Written()), video));
}

// Writes `bytes` to `path`.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A copy of `from` at `to` with one 32-bit field of the first video track's
// `table` (stbl's child) changed: `change(bytes, tableOffset)`.
void ChangeVideoTable(const std::string& from, const std::string& to, const char* table,
                      void (*change)(std::vector<uint8_t>&, uint64_t)) {
    auto bytes = ReadFileBytes(from);
    const auto box =
        testing::FindBoxPath(bytes, std::string("moov/trak#1/mdia/minf/stbl/") + table);
    ASSERT_TRUE(box) << table;
    change(bytes, box->offset);
    WriteFile(to, bytes);
}

// The verification of an edited output: it passes as the edit wrote it, and
// fails when a video packet lies elsewhere than the input's, when a byte the
// edit says it wrote lies in a video sample, when a packet's size, decoding
// or showing time is not the input's (though the totals are), and whenever
// there is no video.
TEST(EditEngine, VerificationHoldsTheVideoPacketsToTheirPlaces) {
    TempDir dir;
    const int32_t samples = 9000;
    auto options = testing::SmallMovie(samples);
    options.bFrames = 2;
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    ASSERT_EQ(RunProgram({movie.path, dir.Path("edit.mov")}, kEnglish).status, 0);
    ASSERT_EQ(RunProgram({"--remux", movie.path, dir.Path("remux.mov")}, kEnglish).status, 0);
    const auto verify = [&](const std::string& path, const std::string& input,
                            std::vector<output::ByteRange> writes) {
        return output::VerifyOutput(path, {input, samples, true, output::AudioCodec::Pcm,
                                           output::CoveredBytes(std::move(writes))});
    };
    const auto edited = verify(dir.Path("edit.mov"), movie.path, {});
    EXPECT_TRUE(edited.ok) << edited.reason;
    const uint64_t firstFrame = movie.layout.videoSampleOffsets[0];
    const auto overwritten = verify(dir.Path("edit.mov"), movie.path, {{firstFrame + 1, 1}});
    EXPECT_NE(overwritten.reason.find("lies in bytes the edit wrote"), std::string::npos)
        << overwritten.reason;
    const auto moved = verify(dir.Path("remux.mov"), movie.path, {});
    EXPECT_NE(moved.reason.find("video packet 1 lies at byte"), std::string::npos) << moved.reason;

    const struct {
        const char* table;
        void (*change)(std::vector<uint8_t>&, uint64_t);
        const char* reason;
    } breaks[] = {
        // The first two sizes swapped: the same total.
        {"stsz",
         [](std::vector<uint8_t>& bytes, uint64_t stsz) {
             const uint32_t first = ReadBE32(bytes.data() + stsz + 20);
             WriteBE32(bytes.data() + stsz + 20, ReadBE32(bytes.data() + stsz + 24));
             WriteBE32(bytes.data() + stsz + 24, first);
         },
         "video packet 1 holds"},
        {"stts",
         [](std::vector<uint8_t>& bytes, uint64_t stts) {
             WriteBE32(bytes.data() + stts + 20, ReadBE32(bytes.data() + stts + 20) + 1);
         },
         "is decoded at another time"},
        // The last run of composition offsets one frame later.
        {"ctts",
         [](std::vector<uint8_t>& bytes, uint64_t ctts) {
             const uint64_t last = ctts + 20 + 8 * uint64_t{ReadBE32(bytes.data() + ctts + 12) - 1};
             WriteBE32(bytes.data() + last, ReadBE32(bytes.data() + last) + 1000);
         },
         "is shown at another time"},
    };
    for (const auto& broken : breaks) {
        SCOPED_TRACE(broken.table);
        ChangeVideoTable(dir.Path("edit.mov"), dir.Path("broken.mov"), broken.table, broken.change);
        const auto verdict = verify(dir.Path("broken.mov"), movie.path, {});
        EXPECT_NE(verdict.reason.find(broken.reason), std::string::npos) << verdict.reason;
    }

    // No video at all, in the input and the output alike.
    ChangeVideoTable(
        movie.path, dir.Path("no_video.mp4"), "stsz",
        [](std::vector<uint8_t>& bytes, uint64_t stsz) { WriteBE32(bytes.data() + stsz + 16, 0); });
    const auto none = verify(dir.Path("no_video.mp4"), dir.Path("no_video.mp4"), {});
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.reason.find("video"), std::string::npos) << none.reason;
}

// The spherical uuid inside mdia: the edit copies the video track as it
// stands, and its own check then finds no uuid where the output must have
// it. The remux takes over in the same hidden output, emptied first, and
// places the uuid anew: the movie converts, nothing of the first try left.
TEST(EditEngine, AnEditThatFailsItsOwnCheckFallsBackToTheRemux) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", testing::SmallMovie(9000));
    auto bytes = ReadFileBytes(movie.path);
    const auto uuid = testing::FindBoxPath(bytes, "moov/trak#1/uuid");
    const auto mdia = testing::FindBoxPath(bytes, "moov/trak#1/mdia");
    ASSERT_TRUE(uuid && mdia);
    // The track keeps its size: the box only moves to the end of its mdia.
    const std::vector<uint8_t> box = testing::BoxBytes(bytes, *uuid);
    const uint64_t mdiaEnd = mdia->offset + mdia->size;
    WriteBE32(bytes.data() + mdia->offset, static_cast<uint32_t>(mdia->size + box.size()));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(mdiaEnd), box.begin(), box.end());
    const uint64_t from = uuid->offset + (uuid->offset >= mdiaEnd ? box.size() : 0);
    const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(from);
    bytes.erase(at, at + static_cast<std::ptrdiff_t>(uuid->size));
    WriteFile(movie.path, bytes);

    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("cannot be edited in place (the edited output failed its check"),
              std::string::npos)
        << run.out;
    ExpectSameVideo(movie.path, dir.Path("out.mov"));
    std::vector<std::string> left = dir.Entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in.mp4", "out.mov"}));
}

}  // namespace
}  // namespace spatialmux
