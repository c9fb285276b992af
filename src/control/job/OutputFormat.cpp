// The one decision of container and audio codec for an output.
#include "control/job/OutputFormat.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace spatialmux {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "512k", "512000", "1M", "1.5M": bits per second, between 32 kb/s and
// 2 Mb/s (the encoders' own limits for four channels lie inside that).
std::optional<int64_t> ParseBitRate(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (...) {
        return std::nullopt;
    }
    const std::string unit = Lower(text.substr(used));
    if (unit == "k") {
        value *= 1000.0;
    } else if (unit == "m") {
        value *= 1000000.0;
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    if (!(value >= 32000.0 && value <= 2000000.0)) return std::nullopt;
    return static_cast<int64_t>(value);
}

}  // namespace

const char* AudioCodecName(output::AudioCodec codec) {
    switch (codec) {
        case output::AudioCodec::Pcm:
            return "pcm";
        case output::AudioCodec::Aac:
            return "aac";
        case output::AudioCodec::Opus:
            return "opus";
    }
    return "pcm";
}

std::variant<OutputFormat, std::string> ChooseOutputFormat(const std::string& outputPath,
                                                           const std::string& audio,
                                                           const std::string& bitRate) {
    OutputFormat format;
    format.container = ContainerFor(outputPath);
    const bool mp4 = format.container == OutputContainer::Mp4;
    const std::string codec = Lower(audio);
    if (codec.empty()) {
        format.audio.codec = mp4 ? output::AudioCodec::Aac : output::AudioCodec::Pcm;
    } else if (codec == "pcm") {
        format.audio.codec = output::AudioCodec::Pcm;
    } else if (codec == "aac") {
        format.audio.codec = output::AudioCodec::Aac;
    } else if (codec == "opus") {
        format.audio.codec = output::AudioCodec::Opus;
    } else {
        return "--audio takes pcm, aac or opus, not \"" + audio + "\"";
    }

    if (mp4 && format.audio.codec == output::AudioCodec::Pcm) {
        return outputPath +
               ": an MP4 cannot hold PCM audio (use --audio aac or opus, or name the "
               "output .mov)";
    }
    if (format.container == OutputContainer::Unsupported &&
        format.audio.codec != output::AudioCodec::Pcm) {
        return outputPath + ": name the output .mp4 (or .mov) for --audio " + codec;
    }
    if (!mp4 && format.audio.codec == output::AudioCodec::Opus) {
        return outputPath +
               ": a QuickTime movie cannot hold Opus audio here (name the output "
               ".mp4, or use --audio pcm or aac)";
    }
    if (format.audio.codec == output::AudioCodec::Pcm) {
        if (!bitRate.empty()) return "--audio-bitrate goes with --audio aac or opus, not pcm";
        return format;
    }
    format.audio.bitRate = kDefaultEncodedBitRate;
    if (!bitRate.empty()) {
        const std::optional<int64_t> rate = ParseBitRate(bitRate);
        if (!rate) {
            return "--audio-bitrate takes a rate from 32k to 2M (such as 512k), not \"" + bitRate +
                   "\"";
        }
        format.audio.bitRate = *rate;
        format.audio.bitRateChosen = true;
    }
    return format;
}

}  // namespace spatialmux
