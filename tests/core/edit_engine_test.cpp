// The edit engine against the remux: the same movie converted both ways must
// give the same video packets, audio samples and metadata (as ffprobe and
// --check see them), on every layout the camera writes; movies the edit
// cannot handle fall back to the remux; the edit's byte functions; and on a
// reflink file system the edited output shares the input's blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "control/convert/BlockAlignedWriter.h"
#include "output/EditPlan.h"
#include "output/EditedMoov.h"
#include "platform/BackgroundCopy.h"
#include "platform/BlockSharing.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileCopy.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/ConvertedOutputChecks.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::ShellQuote;
using testing::TempDir;

constexpr const char* kEnglish = "LANG=C LC_ALL=C LANGUAGE=";

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> Shell(const std::string& command) {
    TempDir scratch;
    const std::string out = scratch.Path("out");
    const int status =
        std::system(("/bin/bash -c " + ShellQuote(command + " >" + ShellQuote(out))).c_str());
    if (status != 0) return std::nullopt;
    const auto bytes = ReadFileBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

// What ffprobe says of streams and format, without what names the file or
// depends on its size and writer.
nlohmann::json Probe(const std::string& path) {
    const auto text =
        Shell("ffprobe -v error -of json -show_streams -show_format " + ShellQuote(path));
    EXPECT_TRUE(text) << path;
    if (!text) return {};
    nlohmann::json probe = nlohmann::json::parse(*text);
    for (const char* key : {"filename", "size", "bit_rate", "probe_score"}) {
        probe["format"].erase(key);
    }
    probe["format"]["tags"].erase("encoder");
    // The edit keeps the video track's own time scale, the remux takes
    // FFmpeg's: the same times in other units.
    for (auto& stream : probe["streams"]) {
        for (const char* key : {"time_base", "duration_ts", "start_pts"}) stream.erase(key);
    }
    return probe;
}

// --check --json of one file, without its path.
nlohmann::json Check(const std::string& path) {
    const ProgramRun run = RunProgram({"--check", "--json", path}, kEnglish);
    nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_FALSE(report.is_discarded()) << run.out;
    if (report.is_object()) {
        report.erase("file");
        // "no maker note at offset N": the offsets differ with the moov.
        EXPECT_TRUE(report.contains("notCameraMovie")) << run.out;
        report.erase("notCameraMovie");
    }
    return report;
}

bool Contains(const std::vector<uint8_t>& bytes, const char* text) {
    const std::string needle(text);
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

std::vector<uint8_t> AudioSampleEntry(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    if (!stsd) return {};
    const auto entry = testing::FindSampleEntry(bytes, *stsd);
    return entry ? testing::BoxBytes(bytes, *entry) : std::vector<uint8_t>{};
}

struct Layout {
    const char* name;
    void (*apply)(fixture::CameraMovieOptions&);
    // The video is shown from a frame after its first decode time without
    // an edit list: the input's movie header (which the edit keeps) counts
    // the media alone, the remux writes the delay as an empty edit and
    // counts it in the movie's duration too.
    bool videoStartsLate = false;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

const Layout kLayouts[] = {
    {"plain", [](fixture::CameraMovieOptions&) {}},
    {"moov_before_mdat", [](fixture::CameraMovieOptions& o) { o.moovBeforeMdat = true; }},
    {"200_boxes_before_moov", [](fixture::CameraMovieOptions& o) { o.boxesBeforeMoov = 200; }},
    {"moov_first_behind_boxes",
     [](fixture::CameraMovieOptions& o) {
         o.moovBeforeMdat = true;
         o.boxesBeforeMoov = 3;
     }},
    {"mdat64", [](fixture::CameraMovieOptions& o) { o.mdat64 = true; }},
    {"hevc", [](fixture::CameraMovieOptions& o) { o.codec = fixture::VideoCodec::HEVC; }},
    // Decode order, composition offsets and an edit list starting the
    // presentation at the first frame; the movie's 6 frames are a group of
    // 4 and a shorter one.
    {"h264_bframes_edit_list", [](fixture::CameraMovieOptions& o) { o.bFrames = 2; }},
    {"hevc_bframes_edit_list",
     [](fixture::CameraMovieOptions& o) {
         o.codec = fixture::VideoCodec::HEVC;
         o.bFrames = 3;
     }},
    {"h264_bframes_no_edit_list",
     [](fixture::CameraMovieOptions& o) {
         o.bFrames = 3;
         o.videoEditList = false;
     },
     true},
    {"runs_and_short_last_chunk",
     [](fixture::CameraMovieOptions& o) {
         o.totalSamples = 10000;
         o.chunkRuns = {{1, 700}, {3, 1024}, {6, 333}};
     }},
    {"no_visible_audio_track",
     [](fixture::CameraMovieOptions& o) { o.includeVisibleAudioTrak = false; }},
    {"tags_keys_rotation_versions",
     [](fixture::CameraMovieOptions& o) {
         o.userDataTags = {{"\xA9xyz", "+35.6895+139.6917/"}, {"\xA9mak", "Zorva"}};
         o.metadataKeys = {{"com.apple.quicktime.model", "VELIX V"}};
         o.rotationDegrees = 90;
         o.videoLanguage = "jpn";
         o.audioLanguage = "eng";
         o.movieHeader = {1, 5000000000ull, 5000000001ull};
         o.privateAudioHeader = {0, 3700000000ull, 3700000001ull};
         o.makerNoteFlag = 1;
     }},
};

class EditEngineLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(EditEngineLayouts, GivesWhatTheRemuxGives) {
    TempDir dir;
    auto options = testing::SmallMovie(9000);
    GetParam().apply(options);
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    const auto before = ReadFileBytes(movie.path);

    // The explicit --remux run is the reference whatever engine the suite
    // runs against; the plain run uses the edit unless forced.
    const ProgramRun remuxed = RunProgram({"--remux", movie.path, dir.Path("remux.mov")}, kEnglish);
    ASSERT_EQ(remuxed.status, 0) << remuxed.out << remuxed.err;
    const ProgramRun edited = RunProgram({movie.path, dir.Path("edit.mov")}, kEnglish);
    ASSERT_EQ(edited.status, 0) << edited.out << edited.err;
    EXPECT_EQ(edited.out.find("remuxing instead"), std::string::npos) << edited.out;
    EXPECT_EQ(ReadFileBytes(movie.path), before) << "the input must not change";
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"edit.mov", "in.mp4", "remux.mov"}));

    testing::ExpectConvertedOutput(movie, options, dir.Path("edit.mov"));
    const auto remuxPackets = testing::ReadMediaPackets(dir.Path("remux.mov"));
    const auto editPackets = testing::ReadMediaPackets(dir.Path("edit.mov"));
    ASSERT_EQ(editPackets.size(), remuxPackets.size());
    for (std::size_t s = 0; s < editPackets.size(); ++s) {
        // The audio's packets follow each file's chunks; their bytes agree.
        EXPECT_TRUE(editPackets[s].Bytes() == remuxPackets[s].Bytes()) << s;
    }
    const auto& editVideo = editPackets[0];
    const auto& remuxVideo = remuxPackets[0];
    ASSERT_EQ(editVideo.packets.size(), remuxVideo.packets.size());
    for (std::size_t i = 0; i < editVideo.packets.size(); ++i) {
        EXPECT_EQ(av_rescale_q(editVideo.packets[i].pts, editVideo.timeBase, remuxVideo.timeBase),
                  remuxVideo.packets[i].pts)
            << i;
        EXPECT_EQ(av_rescale_q(editVideo.packets[i].dts, editVideo.timeBase, remuxVideo.timeBase),
                  remuxVideo.packets[i].dts)
            << i;
    }

    auto editProbe = Probe(dir.Path("edit.mov"));
    auto remuxProbe = Probe(dir.Path("remux.mov"));
    if (GetParam().videoStartsLate) {
        EXPECT_LT(std::stod(editProbe["format"]["duration"].get<std::string>()),
                  std::stod(remuxProbe["format"]["duration"].get<std::string>()));
        editProbe["format"].erase("duration");
        remuxProbe["format"].erase("duration");
    }
    EXPECT_EQ(editProbe.dump(1), remuxProbe.dump(1));
    EXPECT_EQ(Check(dir.Path("edit.mov")).dump(1), Check(dir.Path("remux.mov")).dump(1));
    EXPECT_EQ(AudioSampleEntry(dir.Path("edit.mov")), AudioSampleEntry(dir.Path("remux.mov")));

    // Nothing of the camera's private boxes is left in the edited file.
    const auto bytes = ReadFileBytes(dir.Path("edit.mov"));
    for (const char* type : {"ZMKN", "ZDT9", "ZATR"}) EXPECT_FALSE(Contains(bytes, type)) << type;
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 12), std::string("ftypqt  "));
}

INSTANTIATE_TEST_SUITE_P(CameraLayouts, EditEngineLayouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& layout) { return std::string(layout.param.name); });

// Puts an edit list into the video trak of a builder movie (behind tkhd)
// that starts the presentation one frame into the media, as cameras with
// B-frames write it; moov's and the trak's sizes and the maker pointer
// (ZDT9, an absolute offset behind moov) follow.
void InsertVideoEditList(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    const auto moov = testing::FindBoxPath(bytes, "moov");
    const auto trak = testing::FindBoxPath(bytes, "moov/trak#1");
    const auto tkhd = testing::FindBoxPath(bytes, "moov/trak#1/tkhd");
    ASSERT_TRUE(moov && trak && tkhd);
    std::vector<uint8_t> edts;
    AppendBE32(edts, 36);
    edts.insert(edts.end(), {'e', 'd', 't', 's'});
    AppendBE32(edts, 28);
    edts.insert(edts.end(), {'e', 'l', 's', 't'});
    AppendBE32(edts, 0);
    AppendBE32(edts, 1);
    AppendBE32(edts, 200);      // movie time units (1/1000 s)
    AppendBE32(edts, 1000);     // media time: one frame of 1/30000 s units
    AppendBE32(edts, 0x10000);  // rate 1
    const auto zdt9 =
        std::search(bytes.begin(), bytes.end(), std::begin("ZDT9"), std::begin("ZDT9") + 4);
    ASSERT_NE(zdt9, bytes.end());
    const std::size_t pointer = static_cast<std::size_t>(zdt9 - bytes.begin()) + 4;
    WriteBE64(bytes.data() + pointer, ReadBE64(bytes.data() + pointer) + edts.size());
    WriteBE32(bytes.data() + moov->offset, static_cast<uint32_t>(moov->size + edts.size()));
    WriteBE32(bytes.data() + trak->offset, static_cast<uint32_t>(trak->size + edts.size()));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(tkhd->offset + tkhd->size),
                 edts.begin(), edts.end());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The edit keeps the video trak, edit list included, so the output presents
// the video exactly as the input does; the packets' times agree with the
// remux's too.
TEST(EditEngine, KeepsTheInputsEditList) {
    TempDir dir;
    const auto options = testing::SmallMovie(6000);
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    InsertVideoEditList(movie.path);
    const ProgramRun edited = RunProgram({movie.path, dir.Path("edit.mov")}, kEnglish);
    ASSERT_EQ(edited.status, 0) << edited.out << edited.err;
    const ProgramRun remuxed = RunProgram({"--remux", movie.path, dir.Path("remux.mov")}, kEnglish);
    ASSERT_EQ(remuxed.status, 0) << remuxed.out << remuxed.err;

    const auto in = testing::ReadMediaPackets(movie.path);
    for (const char* name : {"edit.mov", "remux.mov"}) {
        SCOPED_TRACE(name);
        const auto out = testing::ReadMediaPackets(dir.Path(name));
        ASSERT_FALSE(out.empty());
        ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
        EXPECT_LT(in[0].packets[0].pts, 0) << "the edit list must shift the first frame";
        for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
            EXPECT_EQ(av_rescale_q(out[0].packets[i].pts, out[0].timeBase, in[0].timeBase),
                      in[0].packets[i].pts)
                << i;
        }
        testing::ExpectConvertedOutput(movie, options, dir.Path(name));
    }
    const auto inVideo = Probe(movie.path)["streams"][0];
    const auto editVideo = Probe(dir.Path("edit.mov"))["streams"][0];
    for (const char* key : {"avg_frame_rate", "start_time", "duration", "bit_rate", "nb_frames"}) {
        EXPECT_EQ(editVideo[key], inVideo[key]) << key;
    }
}

// A movie whose boxes the edit cannot walk goes through the remux, with one
// line that says so; the output is as good.
TEST(EditEngine, FallsBackToTheRemuxForALayoutItCannotEdit) {
    TempDir dir;
    const auto options = testing::SmallMovie(5000);
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    {
        // A few stray bytes behind the last box: no box can be read there.
        std::ofstream tail(movie.path, std::ios::binary | std::ios::app);
        tail.write("\0\0\0", 3);
    }
    const auto before = ReadFileBytes(movie.path);
    const ProgramRun run = RunProgram({movie.path, dir.Path("out.mov")}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    if (!testing::TestsForceRemux()) {
        EXPECT_NE(run.out.find("cannot be edited in place"), std::string::npos) << run.out;
    }
    EXPECT_EQ(ReadFileBytes(movie.path), before);
    testing::ExpectConvertedOutput(movie, options, dir.Path("out.mov"));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.mp4", "out.mov"}));
}

TEST(EditEngine, QuickTimeFtypKeepsTheBoxSize) {
    for (const uint64_t size : {20u, 24u, 28u, 32u, 40u}) {
        const auto ftyp = output::QuickTimeFtyp(size);
        ASSERT_TRUE(ftyp) << size;
        ASSERT_EQ(ftyp->size(), size);
        EXPECT_EQ(std::string(ftyp->begin() + 4, ftyp->begin() + 12), "ftypqt  ");
        // The boxes in it fill it exactly.
        uint64_t at = 0;
        while (at < size) {
            const uint32_t box = ReadBE32(ftyp->data() + at);
            ASSERT_GE(box, 8u);
            at += box;
        }
        EXPECT_EQ(at, size);
    }
    EXPECT_FALSE(output::QuickTimeFtyp(16));
    EXPECT_FALSE(output::QuickTimeFtyp(21));  // one byte over: no box, no brand fits
}

TEST(EditEngine, AudioChunksMustLieInsideTheMediaWithoutOverlapping) {
    output::EditPlan plan;
    plan.media = {{100, 1000}, {5000, 100}};
    std::string why;
    EXPECT_TRUE(output::ChunksFitMedia(plan, {900, 100, 5000}, {200, 800, 100}, &why)) << why;
    EXPECT_FALSE(output::ChunksFitMedia(plan, {100, 850}, {800, 100}, &why));  // overlap
    EXPECT_NE(why.find("overlaps"), std::string::npos);
    EXPECT_FALSE(output::ChunksFitMedia(plan, {1050}, {100}, &why));  // past the payload
    EXPECT_FALSE(output::ChunksFitMedia(plan, {50}, {10}, &why));     // in front of it
    EXPECT_FALSE(output::ChunksFitMedia(plan, {5050}, {UINT64_MAX}, &why));
}

// The moov and a private box in front of the media become free boxes; the
// moov and private boxes behind it are not copied at all.
TEST(EditEngine, PlanLeavesOutTheOldMoovAndPrivateBoxes) {
    for (const bool moovFirst : {false, true}) {
        SCOPED_TRACE(moovFirst);
        TempDir dir;
        auto options = testing::SmallMovie(3000);
        options.moovBeforeMdat = moovFirst;
        const auto movie = testing::MakeMovie(dir, "in.mp4", options);
        std::ifstream stream(movie.path, std::ios::binary);
        std::string why;
        const auto plan = output::PlanEdit(stream, movie.layout.fileSize, &why);
        ASSERT_TRUE(plan) << why;
        EXPECT_EQ(plan->copyLength, movie.layout.mdatOffset + movie.layout.mdatSize);
        EXPECT_EQ(plan->moov.offset, movie.layout.moovOffset);
        if (moovFirst) {
            ASSERT_EQ(plan->blanks.size(), 2u);  // moov and the private audio box
            EXPECT_EQ(plan->blanks[0].offset, movie.layout.moovOffset);
            EXPECT_EQ(plan->blanks[1].offset, movie.layout.zatrOffset);
        } else {
            EXPECT_TRUE(plan->blanks.empty());
        }
    }
}

// The copy gives exactly the first bytes asked for, keeps the input's holes
// as holes, and stops when its progress says so.
TEST(EditEngine, FileCopyCopiesThePrefixKeepsHolesAndStopsWhenAsked) {
    TempDir dir;
    const std::string source = dir.Path("source");
    {
        std::ofstream out(source, std::ios::binary);
        std::string data(1 << 20, 'a');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.seekp(64 << 20);  // a 63 MiB hole
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    const auto whole = ReadFileBytes(source);
    const uint64_t length = whole.size() - 1000;
    platform::UniqueFd in = platform::OpenForReading(source);
    ASSERT_TRUE(in.Valid());
    {
        auto made = platform::CreateExclusive(dir.Path("copy"));
        ASSERT_TRUE(made);
        const platform::UniqueFd out = std::move(*made);
        uint64_t last = 0;
        std::string why;
        const auto method = platform::CopyFileRange(
            in.Get(), out.Get(), length,
            [&last](uint64_t copied) {
                last = copied;
                return true;
            },
            &why);
        ASSERT_NE(method, platform::CopyMethod::Failed) << why;
        EXPECT_EQ(last, length);
    }
    const auto copy = ReadFileBytes(dir.Path("copy"));
    ASSERT_EQ(copy.size(), length);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), whole.begin()));
    struct stat facts {};
    ASSERT_EQ(stat(dir.Path("copy").c_str(), &facts), 0);
    EXPECT_LT(uint64_t(facts.st_blocks) * 512, uint64_t{16} << 20) << "the hole was filled";

    EXPECT_FALSE(platform::CreateExclusive(dir.Path("copy"))) << "must not reuse a file";
    auto stoppedFile = platform::CreateExclusive(dir.Path("stopped"));
    ASSERT_TRUE(stoppedFile);
    const platform::UniqueFd out = std::move(*stoppedFile);
    const auto stopped = platform::CopyFileRange(
        in.Get(), out.Get(), length, [](uint64_t) { return false; }, nullptr);
    // Every method stops at its first report (a clone reports once, at its end).
    EXPECT_TRUE(stopped == platform::CopyMethod::Cancelled) << platform::CopyMethodName(stopped);
}

// The copy on its own thread: a wait returns once the bytes are in place
// (and they are), a stop asked for by the waiter ends the copy, and a copy
// that fails lets no waiter believe its bytes are there.
TEST(EditEngine, BackgroundCopyTellsWhatIsInPlaceStopsAndFails) {
    TempDir dir;
    const std::string source = dir.Path("source");
    std::vector<uint8_t> data(24u << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 4099);
    {
        std::ofstream out(source, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    const platform::UniqueFd in = platform::OpenForReading(source);
    ASSERT_TRUE(in.Valid());
    const auto create = [&dir](const char* name) {
        auto made = platform::CreateExclusive(dir.Path(name));
        return made ? std::move(*made) : platform::UniqueFd();
    };

    {
        const platform::UniqueFd out = create("copy");
        platform::BackgroundCopy copy(in.Get(), out.Get(), data.size());
        const uint64_t half = data.size() / 2;
        ASSERT_TRUE(copy.WaitForCopied(half, nullptr));
        EXPECT_GE(copy.Copied(), half);
        std::vector<uint8_t> head(half);
        ASSERT_TRUE(platform::ReadAllAt(out.Get(), 0, head.data(), head.size()));
        EXPECT_TRUE(std::equal(head.begin(), head.end(), data.begin()));
        std::string why;
        const auto method = copy.Finish(nullptr, &why);
        EXPECT_TRUE(method == platform::CopyMethod::Clone ||
                    method == platform::CopyMethod::KernelCopy ||
                    method == platform::CopyMethod::ReadWrite)
            << platform::CopyMethodName(method) << " " << why;
        EXPECT_EQ(copy.Copied(), data.size());
    }
    EXPECT_EQ(ReadFileBytes(dir.Path("copy")), data);

    {
        // A file that is not open for writing: the copy fails, the wait
        // says so instead of waiting for ever.
        const platform::UniqueFd readOnly = platform::OpenForReading(source);
        platform::BackgroundCopy copy(in.Get(), readOnly.Get(), data.size());
        EXPECT_FALSE(copy.WaitForCopied(1, nullptr));
        std::string why;
        EXPECT_EQ(copy.Finish(nullptr, &why), platform::CopyMethod::Failed);
        EXPECT_FALSE(why.empty());
    }
    {
        // More than the source holds.
        const platform::UniqueFd out = create("short");
        platform::BackgroundCopy copy(in.Get(), out.Get(), data.size() + 1);
        EXPECT_FALSE(copy.WaitForCopied(data.size() + 1, nullptr));
        EXPECT_EQ(copy.Finish(nullptr, nullptr), platform::CopyMethod::Failed);
    }
    {
        // A waiter that asks to stop ends the copy; leaving the scope
        // without Finish does too, and waits for the thread.
        const platform::UniqueFd out = create("stopped");
        platform::BackgroundCopy copy(in.Get(), out.Get(), data.size());
        // (A copy faster than the first tick is whole before it is asked,
        // and one whose last step is under way when asked ends whole.)
        copy.WaitForCopied(UINT64_MAX, [] { return false; });
        const auto method = copy.Finish(nullptr, nullptr);
        if (method != platform::CopyMethod::Cancelled) {
            EXPECT_EQ(copy.Copied(), data.size()) << platform::CopyMethodName(method);
        }
    }
    {
        const platform::UniqueFd out = create("dropped");
        const platform::BackgroundCopy copy(in.Get(), out.Get(), data.size());
    }
}

// The audio goes out in whole blocks whose other bytes are what the output
// holds there: the copy's, or audio written before, whatever the order of
// the writes; nothing reaches past the copy's end, and a copy that has not
// come far enough stops the writer.
TEST(EditEngine, BlockAlignedWriterKeepsWhatSharesItsBlocks) {
    TempDir dir;
    std::vector<uint8_t> source(5 * 4096 + 1000);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 31 + 7);
    for (const char* name : {"in", "out"}) {
        std::ofstream out(dir.Path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(source.data()),
                  static_cast<std::streamsize>(source.size()));
    }
    const platform::UniqueFd in = platform::OpenForReading(dir.Path("in"));
    const platform::UniqueFd out(::open(dir.Path("out").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(in.Valid() && out.Valid());
    const uint64_t limit = source.size() - 10;  // the copy ends mid-block
    std::vector<uint64_t> asked;
    BlockAlignedWriter writer(in.Get(), out.Get(), 4096, limit, [&asked](uint64_t end) {
        asked.push_back(end);
        return true;
    });
    std::vector<uint8_t> expected = source;
    uint8_t mark = 0;
    const auto put = [&](uint64_t offset, std::size_t count) {
        const std::vector<uint8_t> bytes(count, ++mark);
        std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        return writer.Write(offset, bytes.data(), count);
    };
    // Out of order, two to a block, across a block boundary, adjacent runs
    // gathered into one, and the last bytes before the copy's end.
    EXPECT_TRUE(put(9000, 100));
    EXPECT_TRUE(put(4096 + 10, 20));
    EXPECT_TRUE(put(8100, 200));
    EXPECT_TRUE(put(8300, 50));
    EXPECT_TRUE(put(4096 + 100, 5));
    EXPECT_TRUE(put(limit - 30, 30));
    const std::vector<uint8_t> beyond(10, 0xEE);
    EXPECT_FALSE(writer.Write(limit - 5, beyond.data(), beyond.size())) << "past the copy's end";
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(ReadFileBytes(dir.Path("out")), expected);
    for (uint64_t end : asked) EXPECT_TRUE(end % 4096 == 0 || end == limit) << end;

    BlockAlignedWriter stopped(in.Get(), out.Get(), 4096, limit, [](uint64_t) { return false; });
    const uint8_t byte = 1;
    EXPECT_TRUE(stopped.Write(0, &byte, 1));
    EXPECT_FALSE(stopped.Flush());
    EXPECT_EQ(ReadFileBytes(dir.Path("out")), expected);
}

// A small XFS volume with reflinks in a loop file, mounted for the test's
// length; Skipped() says why it could not be made.
class ReflinkVolume {
public:
    ReflinkVolume() : image_(dir_.Path("xfs.img")), mount_(dir_.Path("mnt")) {
        if (geteuid() != 0 || !Shell("command -v mkfs.xfs && command -v filefrag")) {
            skipped_ = "needs root, mkfs.xfs and filefrag (xfsprogs, e2fsprogs)";
            return;
        }
        std::filesystem::create_directory(mount_);
        if (!Shell("truncate -s 320M " + ShellQuote(image_) + " && mkfs.xfs -q -m reflink=1 " +
                   ShellQuote(image_) + " && mount -o loop " + ShellQuote(image_) + " " +
                   ShellQuote(mount_) + " 2>&1")) {
            skipped_ = "a loop-mounted XFS volume cannot be made here";
            return;
        }
        mounted_ = true;
    }
    ~ReflinkVolume() {
        if (mounted_) Shell("umount " + ShellQuote(mount_));
    }
    ReflinkVolume(const ReflinkVolume&) = delete;
    ReflinkVolume& operator=(const ReflinkVolume&) = delete;

    const std::string& Skipped() const { return skipped_; }
    std::string Path(const std::string& name) const { return mount_ + "/" + name; }
    const std::string& Folder() const { return mount_; }

    uint64_t FreeBytes() const {
        Shell("sync");
        struct statvfs volume {};
        EXPECT_EQ(statvfs(mount_.c_str(), &volume), 0);
        return uint64_t{volume.f_bavail} * volume.f_frsize;
    }

private:
    TempDir dir_;
    std::string image_;
    std::string mount_;
    std::string skipped_;
    bool mounted_ = false;
};

fixture::CameraMovieOptions ReflinkTestMovie() {
    auto options = testing::SmallMovie(48000 * 4);  // 1.5 MB of audio
    options.videoBytesPerFrame = 200000;            // 24 MB of video
    options.framesPerSecond = 30;
    options.distinctFrames = 4;
    return options;
}

// On XFS with reflinks the edit shares the video's blocks with the input:
// the volume loses little more than the rewritten audio and the new moov.
TEST(EditEngine, SharesTheInputsBlocksOnAReflinkVolume) {
    if (testing::TestsForceRemux()) GTEST_SKIP() << "the remux copies by design";
    const ReflinkVolume volume;
    if (!volume.Skipped().empty()) GTEST_SKIP() << volume.Skipped();
    const std::string mount = volume.Folder();

    const auto options = ReflinkTestMovie();
    fixture::CameraMovieLayout layout;
    std::string error;
    const std::string input = volume.Path("in.mp4");
    ASSERT_TRUE(fixture::WriteCameraMovie(input, options, &layout, &error)) << error;
    const auto before = ReadFileBytes(input);
    const uint64_t freeBefore = volume.FreeBytes();

    const ProgramRun run = RunProgram({input, volume.Path("out.mov")}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const uint64_t freeAfter = volume.FreeBytes();
    const uint64_t audioBytes = uint64_t(options.totalSamples) * 8;
    EXPECT_LE(freeBefore - std::min(freeBefore, freeAfter), 2 * audioBytes + (1u << 20))
        << "free before " << freeBefore << ", after " << freeAfter;
    const auto extents = Shell("filefrag -v " + ShellQuote(mount + "/out.mov"));
    ASSERT_TRUE(extents);
    EXPECT_NE(extents->find("shared"), std::string::npos) << *extents;
    EXPECT_EQ(ReadFileBytes(input), before);
    testing::ExpectConvertedOutput({input, layout}, options, mount + "/out.mov");
}

// On a volume that shares blocks the edit asks only for the room it takes:
// a movie larger than the free space converts there, while the remux, which
// writes everything anew, is refused before it writes a byte. The probe that
// tells leaves nothing behind.
TEST(EditEngine, AsksOnlyForTheRoomItTakesOnAReflinkVolume) {
    if (testing::TestsForceRemux()) GTEST_SKIP() << "the remux copies by design";
    const ReflinkVolume volume;
    if (!volume.Skipped().empty()) GTEST_SKIP() << volume.Skipped();

    const auto options = ReflinkTestMovie();
    fixture::CameraMovieLayout layout;
    std::string error;
    const std::string input = volume.Path("in.mp4");
    ASSERT_TRUE(fixture::WriteCameraMovie(input, options, &layout, &error)) << error;
    {
        const platform::UniqueFd in = platform::OpenForReading(input);
        EXPECT_TRUE(platform::SharedBlockSize(in.Get(), volume.Folder()));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(volume.Folder()),
                                std::filesystem::directory_iterator()),
                  1);
    }
    // Leave half the movie's size free.
    const uint64_t fill = volume.FreeBytes() - layout.fileSize / 2;
    ASSERT_TRUE(
        Shell("fallocate -l " + std::to_string(fill) + " " + ShellQuote(volume.Path("filler"))));
    ASSERT_LT(volume.FreeBytes(), layout.fileSize);

    const ProgramRun remuxed = RunProgram({"--remux", input, volume.Path("remux.mov")}, kEnglish);
    EXPECT_NE((remuxed.out + remuxed.err).find("not enough free disk space"), std::string::npos)
        << remuxed.out << remuxed.err;
    const ProgramRun edited = RunProgram({input, volume.Path("out.mov")}, kEnglish);
    ASSERT_EQ(edited.status, 0) << edited.out << edited.err;
    testing::ExpectConvertedOutput({input, layout}, options, volume.Path("out.mov"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(volume.Folder())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "in.mp4", "out.mov"}));
}

}  // namespace
}  // namespace spatialmux
