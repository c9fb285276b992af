// Outputs with encoded audio: AAC and Opus in MP4, AAC in QuickTime. Each is
// made by the program as a user would, then checked from its bytes (the
// SA3D box inside the audio sample entry), from what FFmpeg reads of it
// (codec, channels, the video packets) and from its audio decoded back to
// PCM (level, channel order, length and alignment against the input).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "movie/GainChoice.h"
#include "output/OutputVerification.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/DecodedAudio.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";

// Two seconds and a part frame: the encoder's last frame is a short one.
constexpr int32_t kInstants = 2 * 48000 + 333;
// Lossy audio at the default 512 kb/s must bring the tones back at least
// this clean, per channel.
constexpr double kMinSnrDb = 30.0;

fixture::CameraMovieOptions ToneMovie() {
    fixture::CameraMovieOptions options = testing::SmallMovie(kInstants);
    options.tonesOnly = true;
    return options;
}

// The tones a conversion must carry, interleaved: channels 1 x gain, 3, 4, 2.
std::vector<int16_t> ExpectedTones(const fixture::CameraMovieOptions& options) {
    const float gain = ChooseGain(options.softwareText, options.makerNoteFlag != 0);
    std::vector<int16_t> tones;
    tones.reserve(static_cast<std::size_t>(options.totalSamples) * 4);
    for (int64_t i = 0; i < options.totalSamples; ++i) {
        tones.push_back(testing::WithGain(fixture::ExpectedTone(options.seed, 0, i), gain));
        tones.push_back(fixture::ExpectedTone(options.seed, 2, i));
        tones.push_back(fixture::ExpectedTone(options.seed, 3, i));
        tones.push_back(fixture::ExpectedTone(options.seed, 1, i));
    }
    return tones;
}

struct EncodedCase {
    const char* name;    // for the test's name
    const char* audio;   // --audio, or "" for the container's default
    const char* output;  // the output's file name
    AVCodecID codec;     // what FFmpeg must read
    const char* entry;   // the audio sample entry's type
    const char* config;  // the decoder configuration in front of SA3D (mp4 only)
    int frame;           // the codec's frame, in instants
};

void PrintTo(const EncodedCase& c, std::ostream* os) {
    *os << c.name;
}

class EncodedConversion : public ::testing::TestWithParam<EncodedCase> {};

TEST_P(EncodedConversion, CarriesTheAmbisonicsCleanlyInOrderAndInSync) {
    const EncodedCase& c = GetParam();
    TempDir dir;
    const fixture::CameraMovieOptions options = ToneMovie();
    const testing::TestMovie movie = testing::MakeMovie(dir, "in.mp4", options);
    const std::string output = dir.Path(c.output);
    std::vector<std::string> arguments;
    if (*c.audio != '\0') arguments = {"--audio", c.audio};
    arguments.insert(arguments.end(), {movie.path, output});
    const ProgramRun run = RunProgram(arguments, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(dir.Entries().size(), 2u) << "the temporary WAV must be gone";

    // What FFmpeg reads: the codec, four channels, the video as it was.
    const auto in = testing::ReadMediaPackets(movie.path);
    const auto out = testing::ReadMediaPackets(output);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].type, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(out[1].type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(out[1].codec, c.codec);
    EXPECT_EQ(out[1].channels, 4);
    EXPECT_EQ(out[1].sampleRate, 48000);
    if (c.codec == AV_CODEC_ID_OPUS) {
        // Channel mapping family 2: FFmpeg's "ambisonic 1".
        EXPECT_EQ(out[1].channelOrder, AV_CHANNEL_ORDER_AMBISONIC);
    }
    ASSERT_FALSE(in.empty());
    ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
    for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
        EXPECT_EQ(out[0].packets[i].data, in[0].packets[i].data) << i;
    }

    // The boxes: the camera's spherical uuid closes the video trak; SA3D
    // with the identity map is the audio sample entry's last child, behind
    // the codec's own configuration.
    const auto bytes = ReadFileBytes(output);
    const auto videoTrak = testing::FindBoxPath(bytes, "moov/trak#1");
    ASSERT_TRUE(videoTrak);
    const auto trakChildren =
        testing::Children(bytes, videoTrak->offset + 8, videoTrak->offset + videoTrak->size);
    ASSERT_FALSE(trakChildren.empty());
    EXPECT_EQ(testing::BoxBytes(bytes, trakChildren.back()), movie.layout.uuidBox);
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    ASSERT_TRUE(stsd);
    const auto entry = testing::FindSampleEntry(bytes, *stsd);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->type, c.entry);
    const uint32_t version = ReadBE16(&bytes[entry->offset + 16]);
    ASSERT_LE(version, 2u);
    const uint64_t fields[] = {36, 52, 72};
    const auto children =
        testing::Children(bytes, entry->offset + fields[version], entry->offset + entry->size);
    ASSERT_GE(children.size(), 2u);
    EXPECT_EQ(children.back().type, "SA3D");
    if (*c.config != '\0') {
        // FFmpeg's MP4 muxer writes the decoder configuration, then btrt.
        EXPECT_EQ(children.front().type, c.config);
    }
    // Version 0, ambisonic type 0, order 1, ACN, SN3D, four channels, map 0 1 2 3.
    std::vector<uint8_t> identity = {0, 0, 0, 36, 'S', 'A', '3', 'D', 0, 0, 0, 0, 0, 1, 0, 0};
    AppendBE32(identity, 4);
    for (uint32_t channel = 0; channel < 4; ++channel) AppendBE32(identity, channel);
    EXPECT_EQ(testing::BoxBytes(bytes, children.back()), identity);

    // The audio decoded back: as long as the input's (the encoder's priming
    // and padding signalled), aligned with it, clean, and in ACN order.
    const testing::DecodedAudio decoded = testing::DecodeAudio(output);
    ASSERT_EQ(decoded.channels, 4);
    EXPECT_GE(decoded.Instants(), kInstants);
    EXPECT_LE(decoded.Instants() - kInstants, c.frame)
        << "decoded " << decoded.Instants() << " instants of " << kInstants;
    const std::vector<int16_t> expected = ExpectedTones(options);
    for (int channel = 0; channel < 4; ++channel) {
        const double snr = testing::ChannelSnr(expected, channel, decoded, channel);
        RecordProperty("snr_db_channel_" + std::to_string(channel), std::to_string(snr));
        EXPECT_GE(snr, kMinSnrDb) << "channel " << channel;
        // In sync: a few instants early or late, or the encoder's priming
        // (AAC 1024, Opus 312 instants) left in or cut twice, is clearly
        // worse.
        for (int lag : {-8, 8, -312, 312, -1024, 1024}) {
            EXPECT_LT(testing::ChannelSnr(expected, channel, decoded, channel, lag), snr - 10.0)
                << "channel " << channel << " lag " << lag;
        }
        // Each channel carries its own tone: a swapped pair would fail the
        // check above by far.
        const int other = (channel + 1) % 4;
        EXPECT_LT(testing::ChannelSnr(expected, channel, decoded, other), kMinSnrDb - 20.0)
            << "channels " << channel << " and " << other << " are not told apart";
    }

    // The program's own report sees a movie ready for 360 players.
    const ProgramRun check = RunProgram({"--check", output}, kEnglish);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("channel map 0, 1, 2, 3"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("ready for 360 players with first-order ambisonics: yes"),
              std::string::npos)
        << check.out;
    // Samples as the edit list presents them, not codec packets.
    EXPECT_NE(check.out.find(std::to_string(kInstants) + " samples"), std::string::npos)
        << check.out;

    // The verification the conversion ran is codec-aware: it takes this
    // output for what it is and no other codec, and judges its length.
    const output::AudioCodec written =
        c.codec == AV_CODEC_ID_OPUS ? output::AudioCodec::Opus : output::AudioCodec::Aac;
    EXPECT_TRUE(output::VerifyOutput(output, {movie.path, kInstants, true, written}).ok);
    const auto asPcm = output::VerifyOutput(output, {movie.path, kInstants, true});
    EXPECT_FALSE(asPcm.ok);
    EXPECT_NE(asPcm.reason.find("not pcm_s16le"), std::string::npos) << asPcm.reason;
    const auto longer =
        output::VerifyOutput(output, {movie.path, kInstants + 2 * c.frame, true, written});
    EXPECT_FALSE(longer.ok);
    EXPECT_NE(longer.reason.find("sampling instants"), std::string::npos) << longer.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, EncodedConversion,
    ::testing::Values(
        EncodedCase{"AacInMp4ByDefault", "", "out.mp4", AV_CODEC_ID_AAC, "mp4a", "esds", 1024},
        EncodedCase{"OpusInMp4", "opus", "out.mp4", AV_CODEC_ID_OPUS, "Opus", "dOps", 960},
        EncodedCase{"AacInMov", "aac", "out.mov", AV_CODEC_ID_AAC, "mp4a", "", 1024}),
    [](const ::testing::TestParamInfo<EncodedCase>& param) { return param.param.name; });

// The edit list must hide the priming and the padding to the instant: a
// player that follows it (as FFmpeg's demuxer does for the packets' times)
// presents exactly the input's audio, however short or odd its length.
TEST(EncodedOutput, OddLengthsPlayExactlyTheInputsInstants) {
    TempDir dir;
    for (const int32_t instants : {1025, 48000 + 1, 3 * 960 + 7}) {
        const std::string name = "in" + std::to_string(instants) + ".mp4";
        const testing::TestMovie movie =
            testing::MakeMovie(dir, name, testing::SmallMovie(instants));
        for (const char* codec : {"aac", "opus"}) {
            SCOPED_TRACE(std::to_string(instants) + " " + codec);
            const std::string output = dir.Path(std::to_string(instants) + codec + ".mp4");
            const ProgramRun run = RunProgram({"--audio", codec, movie.path, output}, kEnglish);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
            const auto streams = testing::ReadMediaPackets(output);
            ASSERT_EQ(streams.size(), 2u);
            // The presentation starts at 0 (the priming is before it) and
            // ends where the last packet does.
            int64_t end = 0;
            for (const auto& packet : streams[1].packets) {
                end = std::max(end, packet.pts + packet.duration);
            }
            EXPECT_EQ(av_rescale_q(end, streams[1].timeBase, AVRational{1, 48000}), instants);
            // FFmpeg's decoders hand out the padded last frame whole: the
            // decoded audio is the input's and at most one frame more.
            const int64_t decoded = testing::DecodeAudio(output).Instants();
            EXPECT_GE(decoded, instants);
            EXPECT_LE(decoded, instants + 1024);
        }
    }
}

TEST(EncodedOutput, PcmStaysTheDefaultForMovAndWritesTheSameBytes) {
    TempDir dir;
    const testing::TestMovie movie = testing::MakeMovie(dir, "in.mp4", testing::SmallMovie(5000));
    ASSERT_EQ(RunProgram({movie.path, dir.Path("default.mov")}, kEnglish).status, 0);
    ASSERT_EQ(RunProgram({"--audio", "pcm", movie.path, dir.Path("pcm.mov")}, kEnglish).status, 0);
    const auto fromDefault = ReadFileBytes(dir.Path("default.mov"));
    EXPECT_FALSE(fromDefault.empty());
    EXPECT_TRUE(fromDefault == ReadFileBytes(dir.Path("pcm.mov")));
    const auto out = testing::ReadMediaPackets(dir.Path("default.mov"));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].codec, AV_CODEC_ID_PCM_S16LE);
}

TEST(EncodedOutput, CombinationsTheContainerCannotHoldAreRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const testing::TestMovie movie = testing::MakeMovie(dir, "in.mp4", testing::SmallMovie(2000));
    const std::vector<std::vector<std::string>> wrong = {
        {"--audio", "opus", movie.path, dir.Path("out.mov")},
        {"--audio", "pcm", movie.path, dir.Path("out.mp4")},
        {"--audio", "aac", movie.path, dir.Path("out.mkv")},
        {"--audio-bitrate", "256k", movie.path, dir.Path("out.mov")},
        {"--audio-bitrate", "lots", movie.path, dir.Path("out.mp4")},
        {"--audio-bitrate", "9M", movie.path, dir.Path("out.mp4")},
        {"--audio", "flac", movie.path, dir.Path("out.mp4")},
    };
    for (const auto& arguments : wrong) {
        const ProgramRun run = RunProgram(arguments, kEnglish);
        EXPECT_EQ(run.status, 2) << arguments[1] << " " << arguments[3];
        EXPECT_NE(run.err.find("spatialmux: "), std::string::npos) << run.err;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"}) << arguments[3];
    }
    const ProgramRun opusMov =
        RunProgram({"--audio", "opus", movie.path, dir.Path("out.mov")}, kEnglish);
    EXPECT_NE(opusMov.err.find("out.mov: a QuickTime movie cannot hold Opus audio"),
              std::string::npos)
        << opusMov.err;
}

TEST(EncodedOutput, TheBitRateIsTheOneAskedFor) {
    TempDir dir;
    fixture::CameraMovieOptions options = testing::SmallMovie(4 * 48000);
    options.tonesOnly = true;
    const testing::TestMovie movie = testing::MakeMovie(dir, "in.mp4", options);
    auto audioBytes = [&dir, &movie](const std::vector<std::string>& audio,
                                     const std::string& name) {
        std::vector<std::string> arguments = audio;
        arguments.insert(arguments.end(), {movie.path, dir.Path(name)});
        EXPECT_EQ(RunProgram(arguments, kEnglish).status, 0) << name;
        const auto streams = testing::ReadMediaPackets(dir.Path(name));
        uint64_t total = 0;
        if (streams.size() == 2) {
            for (const auto& packet : streams[1].packets) total += packet.data.size();
        }
        return static_cast<double>(total);
    };
    // AAC keeps to its rate: four seconds at 512 kb/s (the default) are
    // about 256 kB, at 256 kb/s about 128 kB.
    const double aac512 = audioBytes({}, "aac512.mp4");
    const double aac256 = audioBytes({"--audio-bitrate", "256k"}, "aac256.mp4");
    EXPECT_NEAR(aac512, 256000.0, 256000.0 * 0.15);
    EXPECT_NEAR(aac256, 128000.0, 128000.0 * 0.15);
    // libopus spends what it needs around its target (variable rate), but
    // a quarter of the rate must show.
    const double opus512 = audioBytes({"--audio", "opus"}, "opus512.mp4");
    const double opus128 =
        audioBytes({"--audio", "opus", "--audio-bitrate", "128k"}, "opus128.mp4");
    EXPECT_LT(opus128, opus512 * 0.6);
}

TEST(EncodedOutput, ABatchNamesItsOutputsForTheCodecOrTheFormat) {
    TempDir dir;
    const testing::TestMovie movie = testing::MakeMovie(dir, "A.MP4", testing::SmallMovie(3000));
    const ProgramRun opus =
        RunProgram({"-o", dir.Path("opus"), "--audio", "opus", movie.path}, kEnglish);
    ASSERT_EQ(opus.status, 0) << opus.out << opus.err;
    const auto opusOut = testing::ReadMediaPackets(dir.Path("opus/A.mp4"));
    ASSERT_EQ(opusOut.size(), 2u);
    EXPECT_EQ(opusOut[1].codec, AV_CODEC_ID_OPUS);

    const ProgramRun mp4 =
        RunProgram({"-o", dir.Path("mp4"), "--format", "mp4", movie.path}, kEnglish);
    ASSERT_EQ(mp4.status, 0) << mp4.out << mp4.err;
    const auto mp4Out = testing::ReadMediaPackets(dir.Path("mp4/A.mp4"));
    ASSERT_EQ(mp4Out.size(), 2u);
    EXPECT_EQ(mp4Out[1].codec, AV_CODEC_ID_AAC);

    const ProgramRun pcm = RunProgram(
        {"-o", dir.Path("pcm"), "--format", "mp4", "--audio", "pcm", movie.path}, kEnglish);
    EXPECT_EQ(pcm.status, 2);
    EXPECT_NE(pcm.err.find("cannot hold PCM"), std::string::npos) << pcm.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("pcm")));
}

}  // namespace
}  // namespace spatialmux
