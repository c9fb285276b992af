// The edit engine against the remux: the same movie converted both ways must
// give the same video packets, audio samples and metadata (as ffprobe and
// --check see them), on every layout the camera writes; movies the edit
// cannot handle fall back to the remux; the edit's byte functions; and on a
// reflink file system the edited output shares the input's blocks.
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
#include "output/EditPlan.h"
#include "output/EditedMoov.h"
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

// On XFS with reflinks the edit shares the video's blocks with the input:
// the volume loses little more than the rewritten audio and the new moov.
TEST(EditEngine, SharesTheInputsBlocksOnAReflinkVolume) {
    if (testing::TestsForceRemux()) GTEST_SKIP() << "the remux copies by design";
    if (geteuid() != 0 || !Shell("command -v mkfs.xfs && command -v filefrag")) {
        GTEST_SKIP() << "needs root, mkfs.xfs and filefrag (xfsprogs, e2fsprogs)";
    }
    TempDir dir;
    const std::string image = dir.Path("xfs.img");
    const std::string mount = dir.Path("mnt");
    std::filesystem::create_directory(mount);
    if (!Shell("truncate -s 320M " + ShellQuote(image) + " && mkfs.xfs -q -m reflink=1 " +
               ShellQuote(image) + " && mount -o loop " + ShellQuote(image) + " " +
               ShellQuote(mount) + " 2>&1")) {
        GTEST_SKIP() << "a loop-mounted XFS volume cannot be made here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { Shell("umount " + ShellQuote(path)); }
    } unmount{mount};

    auto options = testing::SmallMovie(48000 * 4);  // 1.5 MB of audio
    options.videoBytesPerFrame = 200000;            // 24 MB of video
    options.framesPerSecond = 30;
    options.distinctFrames = 4;
    fixture::CameraMovieLayout layout;
    std::string error;
    const std::string input = mount + "/in.mp4";
    ASSERT_TRUE(fixture::WriteCameraMovie(input, options, &layout, &error)) << error;
    const auto before = ReadFileBytes(input);
    Shell("sync");
    struct statvfs volume {};
    ASSERT_EQ(statvfs(mount.c_str(), &volume), 0);
    const uint64_t freeBefore = uint64_t{volume.f_bavail} * volume.f_frsize;

    const ProgramRun run = RunProgram({input, mount + "/out.mov"}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    Shell("sync");
    ASSERT_EQ(statvfs(mount.c_str(), &volume), 0);
    const uint64_t freeAfter = uint64_t{volume.f_bavail} * volume.f_frsize;
    const uint64_t audioBytes = uint64_t(options.totalSamples) * 8;
    EXPECT_LE(freeBefore - std::min(freeBefore, freeAfter), 2 * audioBytes + (1u << 20))
        << "free before " << freeBefore << ", after " << freeAfter;
    const auto extents = Shell("filefrag -v " + ShellQuote(mount + "/out.mov"));
    ASSERT_TRUE(extents);
    EXPECT_NE(extents->find("shared"), std::string::npos) << *extents;
    EXPECT_EQ(ReadFileBytes(input), before);
    testing::ExpectConvertedOutput({input, layout}, options, mount + "/out.mov");
}

}  // namespace
}  // namespace spatialmux
