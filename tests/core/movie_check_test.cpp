// spatialmux --check as a user and a script run it: the report and verdict
// for a camera movie, a converted output, a plain movie, a movie whose SA3D
// map players cannot use, damaged files; and that it changes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "audio/ByteOrder.h"
#include "control/movieinfo/ChannelLayoutText.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::SmallMovie;
using testing::TempDir;

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A movie as any FFmpeg tool writes it: the camera movie's video alone,
// without the camera's boxes or any spherical metadata.
void WritePlainMovie(const std::string& from, const std::string& to) {
    AVFormatContext* in = nullptr;
    ASSERT_GE(avformat_open_input(&in, from.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
    AVFormatContext* out = nullptr;
    avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str());
    ASSERT_NE(out, nullptr);
    AVStream* video = avformat_new_stream(out, nullptr);
    ASSERT_GE(avcodec_parameters_copy(video->codecpar, in->streams[0]->codecpar), 0);
    video->codecpar->codec_tag = 0;
    ASSERT_GE(avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == 0) {
            av_packet_rescale_ts(packet, in->streams[0]->time_base, video->time_base);
            packet->stream_index = 0;
            av_interleaved_write_frame(out, packet);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    return objects;
}

class MovieCheck : public ::testing::Test {
protected:
    // A camera movie and its conversion, made once for the whole suite.
    static void SetUpTestSuite() {
        shared = new TempDir;
        options = SmallMovie(4096);
        options.makerNoteFlag = 1;
        camera = testing::MakeMovie(*shared, "CAMERA.MP4", options).path;
        converted = shared->Path("converted.mov");
        const ProgramRun run = RunProgram({camera, converted});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    static void TearDownTestSuite() { delete shared; }

    static inline TempDir* shared = nullptr;
    static inline fixture::CameraMovieOptions options;
    static inline std::string camera;
    static inline std::string converted;
    TempDir dir;
};

TEST_F(MovieCheck, CameraMovieReportsItsFactsTheGainAndConvertible) {
    const ProgramRun run = RunProgram({"--check", camera});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* fact : {": camera movie\n", "video: h264, 64 x 32, 30 fps",
                             "audio: sowt, 4 channels, 48000 Hz, 4096 samples",
                             "software: \"ZORVA VELIX V Ver 1.1\", maker-note flag 1",
                             "gain: -3.00 dB (x0.707946)", "convertible: yes\n"}) {
        EXPECT_NE(run.out.find(fact), std::string::npos) << fact << "\n" << run.out;
    }

    const auto json = JsonLines(RunProgram({"--check", "--json", camera}).out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["kind"], "camera movie");
    EXPECT_EQ(json[0]["convertible"], true);
    EXPECT_EQ(json[0]["audio"]["samples"], 4096);
    EXPECT_EQ(json[0]["makerNoteFlag"], true);
    EXPECT_NEAR(json[0]["gainDecibels"].get<double>(), -3.0, 0.01);
    EXPECT_EQ(json[0]["video"]["width"], 64);
}

TEST_F(MovieCheck, ConvertedOutputIsReadyForPlayers) {
    const ProgramRun run = RunProgram({"--check", converted});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("channels (ambisonic 1)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Spherical=true"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("channel map 0, 1, 2, 3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("chan: layout tag 0x00BE0004 (ambisonics, ACN order, SN3D, 4 channels)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ready for 360 players with first-order ambisonics: yes\n"),
              std::string::npos)
        << run.out;

    const auto json = JsonLines(RunProgram({"--json", "--check", converted}).out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["kind"], "movie");
    EXPECT_EQ(json[0]["ready"], true);
    EXPECT_EQ(json[0]["sphericalV1"]["Spherical"], "true");
    EXPECT_EQ(json[0]["sa3d"]["channelMap"], (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(json[0]["sa3d"]["order"], 1);
    EXPECT_EQ(json[0]["audio"][0]["channels"], 4);
    EXPECT_EQ(json[0]["audio"][0]["layout"], "ambisonic 1");
    EXPECT_EQ(json[0]["audio"][0]["samples"], 4096);
    EXPECT_EQ(json[0]["chan"]["layoutTag"], 0x00BE0004);
    EXPECT_EQ(json[0]["chan"]["speakers"], nullptr);
}

TEST_F(MovieCheck, PlainMovieIsNotReadyAndSaysWhy) {
    WritePlainMovie(camera, dir.Path("plain.mp4"));
    const ProgramRun run = RunProgram({"--check", "--json", dir.Path("plain.mp4")});
    EXPECT_EQ(run.status, 1);
    const auto json = JsonLines(run.out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["kind"], "movie");
    EXPECT_EQ(json[0]["ready"], false);
    EXPECT_EQ(json[0]["sphericalV1"], nullptr);
    EXPECT_EQ(json[0]["sa3d"], nullptr);
    const auto reasons = json[0]["reasons"].dump();
    EXPECT_NE(reasons.find("no spherical video metadata"), std::string::npos) << reasons;
    EXPECT_NE(reasons.find("no audio track"), std::string::npos) << reasons;
    // Where the camera's layout walk stopped.
    EXPECT_EQ(json[0]["notCameraMovie"].get<std::string>().rfind("no ", 0), 0u) << json[0];
    EXPECT_EQ(json[0]["convertible"], false);
    EXPECT_EQ(json[0]["reason"], "it has no audio track");
}

TEST_F(MovieCheck, CameraOrderedSa3dMapIsNotReady) {
    // The converted output with the camera's own map put back.
    auto bytes = ReadFileBytes(converted);
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    ASSERT_TRUE(stsd);
    const auto entry = testing::FindSampleEntry(bytes, *stsd);
    ASSERT_TRUE(entry);
    const uint64_t sa3d = entry->offset + entry->size - 36;
    ASSERT_EQ(std::string(bytes.begin() + sa3d + 4, bytes.begin() + sa3d + 8), "SA3D");
    bytes[sa3d + 27] = 3;
    bytes[sa3d + 31] = 1;
    bytes[sa3d + 35] = 2;
    WriteFileBytes(dir.Path("mapped.mov"), bytes);

    const ProgramRun run = RunProgram({"--check", dir.Path("mapped.mov")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("channel map 0, 3, 1, 2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ready for 360 players with first-order ambisonics: no\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("- the SA3D channel map is not 0, 1, 2, 3"), std::string::npos)
        << run.out;
}

TEST_F(MovieCheck, SpeakerChanBesideSa3dIsNotReady) {
    // The converted output with the chan box the outputs once had: 4.0 by
    // bitmap, which VLC follows for PCM (front heard overhead).
    auto bytes = ReadFileBytes(converted);
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    ASSERT_TRUE(stsd);
    const auto chan =
        testing::FindSoundEntryChild(bytes, *testing::FindSampleEntry(bytes, *stsd), "chan");
    ASSERT_TRUE(chan && chan->size == 24);
    WriteBE32(&bytes[chan->offset + 12], 0x00010000);
    WriteBE32(&bytes[chan->offset + 16], 0x107);
    WriteFileBytes(dir.Path("speakers.mov"), bytes);

    const std::string warning =
        "the chan box names speakers (left, right, centre, back centre) for channels that the "
        "SA3D box says are ambisonics: players that follow the chan box hear channels 3 and 4 as "
        "centre and back centre, not as the ambisonic Z (up) and X (front)";
    const ProgramRun run = RunProgram({"--check", dir.Path("speakers.mov")});
    EXPECT_EQ(run.status, 1);
    for (const std::string& line : std::vector<std::string>{
             "  chan: layout tag 0x00010000 (by bitmap), bitmap 0x107: left, right, centre, back "
             "centre\n",
             "ready for 360 players with first-order ambisonics: no\n    - " + warning + "\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }

    const auto json = JsonLines(RunProgram({"--check", "--json", dir.Path("speakers.mov")}).out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["ready"], false);
    EXPECT_EQ(json[0]["reasons"], std::vector<std::string>{warning});
    EXPECT_EQ(json[0]["chan"]["bitmap"], 0x107);
    EXPECT_EQ(json[0]["chan"]["speakers"],
              (std::vector<std::string>{"left", "right", "centre", "back centre"}));
}

TEST(ChannelLayoutText, SpeakersByTagBitmapOrDescriptionsConflictWithSa3d) {
    struct Case {
        ChannelLayoutFacts chan;
        std::string text;
        std::string heard;  // what the warning says players hear; empty: no warning
    };
    const Case cases[] = {
        {{0x00BE0004, 0, {}},
         "layout tag 0x00BE0004 (ambisonics, ACN order, SN3D, 4 channels)",
         ""},
        {{0x00010000, 0, {}}, "layout tag 0x00010000 (by bitmap), bitmap 0x0, no speakers", ""},
        {{0, 0, {0x20000, 0x20001, 0x20002, 0x20003}},
         "layout tag 0x00000000 (by channel descriptions): ACN 0, ACN 1, ACN 2, ACN 3",
         ""},
        {{0x006C0004, 0, {}},
         "layout tag 0x006C0004 (quadraphonic)",
         "hear channels 3 and 4 as left surround and right surround, not as"},
        {{0, 0, {1, 2, 3, 4}},
         "layout tag 0x00000000 (by channel descriptions): left, right, centre, LFE",
         "hear channels 3 and 4 as centre and LFE, not as"},
        {{0x00650002, 0, {}},
         "layout tag 0x00650002 (stereo)",
         "hear the channels as left, right, not as the ambisonic W, Y, Z and X"},
        {{0x006D0005, 0, {}},
         "layout tag 0x006D0005 (speakers, 5 channels)",
         "names speakers (layout tag 0x006D0005) for channels"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChannelLayoutText(c.chan), c.text);
        const std::string warning = SpeakerConflict(c.chan);
        if (c.heard.empty()) {
            EXPECT_EQ(warning, "") << c.text;
            EXPECT_FALSE(ChannelSpeakers(c.chan)) << c.text;
        } else {
            EXPECT_NE(warning.find(c.heard), std::string::npos) << warning;
        }
    }
}

TEST_F(MovieCheck, DamagedCameraMoviesNameTheStepThatFailed) {
    TempDir own;
    // The audio tables' box renamed: the walk finds no ZATR.
    auto noZatr = options;
    const auto zatrMovie = testing::MakeMovie(own, "nozatr.MP4", noZatr);
    auto bytes = ReadFileBytes(zatrMovie.path);
    ASSERT_EQ(std::string(bytes.begin() + zatrMovie.layout.zatrOffset + 4,
                          bytes.begin() + zatrMovie.layout.zatrOffset + 8),
              "ZATR");
    bytes[zatrMovie.layout.zatrOffset + 4] = 'X';
    WriteFileBytes(zatrMovie.path, bytes);

    // moov first, then cut inside mdat: the walk succeeds but the media is
    // not all there.
    auto front = options;
    front.moovBeforeMdat = true;
    const auto cut = testing::MakeMovie(own, "cut.MP4", front);
    std::filesystem::resize_file(cut.path, cut.layout.fileSize - 1000);

    // moov at the end, cut off: nothing of a movie is left to see.
    const auto tail = testing::MakeMovie(own, "tail.MP4", options);
    std::filesystem::resize_file(tail.path, tail.layout.moovOffset + 20);

    { std::ofstream(own.Path("notes.txt")) << "not a movie"; }

    const ProgramRun run = RunProgram(
        {"--check", "--json", zatrMovie.path, cut.path, tail.path, own.Path("notes.txt"), camera});
    EXPECT_EQ(run.status, 1) << "one failing file fails the run";
    const auto json = JsonLines(run.out);
    ASSERT_EQ(json.size(), 5u) << run.out;

    EXPECT_EQ(json[0]["kind"], "camera movie");
    EXPECT_EQ(json[0]["convertible"], false);
    const std::string reason = json[0]["reason"];
    EXPECT_EQ(reason.rfind("no ZATR audio tables at offset ", 0), 0u) << reason;

    EXPECT_EQ(json[1]["kind"], "camera movie");
    EXPECT_EQ(json[1]["convertible"], false);
    EXPECT_NE(json[1]["reason"].get<std::string>().find("cut short"), std::string::npos) << json[1];
    EXPECT_GT(json[1].value("cutShortAt", 0u), cut.layout.fileSize - 1000) << json[1];

    for (const auto& damaged : {json[2], json[3]}) {
        EXPECT_EQ(damaged["kind"], "not a movie") << damaged;
        EXPECT_EQ(damaged["ready"], false);
        EXPECT_FALSE(damaged["reasons"].empty());
        EXPECT_EQ(damaged["convertible"], false) << damaged;
        EXPECT_FALSE(damaged.value("reason", "").empty()) << damaged;
    }
    // The movie cut inside its moov is named incomplete; the text file is
    // no movie at all.
    EXPECT_GT(json[2].value("cutShortAt", 0u), tail.layout.moovOffset + 20) << json[2];
    EXPECT_NE(json[2].value("damaged", "").find("cut off"), std::string::npos) << json[2];
    EXPECT_FALSE(json[3].contains("damaged")) << json[3];
    EXPECT_FALSE(json[3].contains("cutShortAt")) << json[3];
    EXPECT_EQ(json[4]["convertible"], true);

    EXPECT_EQ(RunProgram({"--check", own.Path("missing.MP4")}).status, 1);
}

TEST_F(MovieCheck, ReadsOnly) {
    WritePlainMovie(camera, dir.Path("plain.mp4"));
    std::filesystem::copy_file(camera, dir.Path("camera.MP4"));
    std::filesystem::copy_file(converted, dir.Path("converted.mov"));
    std::map<std::string, std::pair<std::vector<uint8_t>, std::filesystem::file_time_type>> before;
    for (const std::string& name : dir.Entries()) {
        // An old time stamp, so that any write would show.
        std::filesystem::last_write_time(
            dir.Path(name), std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
        before[name] = {ReadFileBytes(dir.Path(name)),
                        std::filesystem::last_write_time(dir.Path(name))};
    }
    for (const bool json : {false, true}) {
        std::vector<std::string> arguments = {"--check"};
        if (json) arguments.push_back("--json");
        for (const auto& [name, facts] : before) arguments.push_back(name);
        const ProgramRun run =
            RunProgram(arguments, "cd " + testing::ShellQuote(dir.Root().string()) + ";");
        EXPECT_EQ(run.status, 1) << "the plain movie is not ready";
    }
    std::vector<std::string> names;
    for (const auto& [name, facts] : before) names.push_back(name);
    auto entries = dir.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, names) << "no file may appear, not even a temporary one";
    for (const auto& [name, facts] : before) {
        EXPECT_TRUE(ReadFileBytes(dir.Path(name)) == facts.first) << name;
        EXPECT_EQ(std::filesystem::last_write_time(dir.Path(name)), facts.second) << name;
    }
}

}  // namespace
}  // namespace spatialmux
