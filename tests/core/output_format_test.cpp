// The one decision of container and audio codec: every combination the
// containers can hold, the defaults, and a clear refusal for the rest.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "control/job/OutputFormat.h"

namespace spatialmux {
namespace {

using output::AudioCodec;
using Container = OutputContainer;

struct Accepted {
    const char* output;
    const char* audio;
    const char* bitRate;
    Container container;
    AudioCodec codec;
    int64_t bitRateWanted;
};

TEST(OutputFormat, ChoosesTheCodecFromTheNameAndTheOptions) {
    const Accepted cases[] = {
        {"out.mov", "", "", Container::Mov, AudioCodec::Pcm, 0},
        {"/a/B.MOV", "pcm", "", Container::Mov, AudioCodec::Pcm, 0},
        {"out.mov", "aac", "", Container::Mov, AudioCodec::Aac, 512000},
        {"out.mp4", "", "", Container::Mp4, AudioCodec::Aac, 512000},
        {"OUT.Mp4", "AAC", "256k", Container::Mp4, AudioCodec::Aac, 256000},
        {"out.mp4", "opus", "", Container::Mp4, AudioCodec::Opus, 512000},
        {"out.mp4", "opus", "1.5M", Container::Mp4, AudioCodec::Opus, 1500000},
        {"out.mp4", "aac", "320000", Container::Mp4, AudioCodec::Aac, 320000},
        // Other names keep what they always had: PCM, left to FFmpeg.
        {"out", "", "", Container::Unsupported, AudioCodec::Pcm, 0},
        {"dir.mp4/out", "", "", Container::Unsupported, AudioCodec::Pcm, 0},
        {".mp4", "", "", Container::Unsupported, AudioCodec::Pcm, 0},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " " + c.audio + " " + c.bitRate);
        const auto chosen = ChooseOutputFormat(c.output, c.audio, c.bitRate);
        ASSERT_TRUE(std::holds_alternative<OutputFormat>(chosen)) << std::get<std::string>(chosen);
        const OutputFormat& format = std::get<OutputFormat>(chosen);
        EXPECT_EQ(format.container, c.container);
        EXPECT_EQ(format.audio.codec, c.codec);
        EXPECT_EQ(format.audio.bitRate, c.bitRateWanted);
    }
}

TEST(OutputFormat, RefusesWhatTheContainerCannotHoldSayingWhy) {
    const struct {
        const char* output;
        const char* audio;
        const char* bitRate;
        const char* says;
    } cases[] = {
        {"out.mp4", "pcm", "", "out.mp4: an MP4 cannot hold PCM audio"},
        {"out.mov", "opus", "", "out.mov: a QuickTime movie cannot hold Opus audio"},
        {"out.mkv", "aac", "", "out.mkv: name the output .mp4"},
        {"out.mov", "", "256k", "--audio-bitrate goes with --audio aac or opus"},
        {"out.mp4", "aac", "fast", "--audio-bitrate takes a rate from 32k to 2M"},
        {"out.mp4", "aac", "16k", "--audio-bitrate takes a rate from 32k to 2M"},
        {"out.mp4", "aac", "512kb", "--audio-bitrate takes a rate from 32k to 2M"},
        {"out.mp4", "mp3", "", "--audio takes pcm, aac or opus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " " + c.audio + " " + c.bitRate);
        const auto chosen = ChooseOutputFormat(c.output, c.audio, c.bitRate);
        ASSERT_TRUE(std::holds_alternative<std::string>(chosen));
        EXPECT_EQ(std::get<std::string>(chosen).rfind(c.says, 0), 0u)
            << std::get<std::string>(chosen);
    }
}

}  // namespace
}  // namespace spatialmux
