#include "control/ambisonics/ConvertedAudioStretch.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "audio/ByteUtil.h"
#include "movie/AudioFrame.h"

namespace spatialmux {

int32_t ReadConvertedFrame(MovieReader& reader, float gain, AcnFrame* acn, bool* ended) {
    AudioFrame frame;
    std::array<uint8_t, static_cast<std::size_t>(kFrameSize) * kBytesPerInstant> pcm{};
    const ByteUtil util;
    *ended =
        reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3), frame.Channel(4));
    const int32_t instants = *ended ? reader.GetLastFrameSamples() : kFrameSize;
    // The conversion's chain: gain on channel 1, channels 1, 3, 4, 2,
    // 16-bit samples; then read back as a player decodes them.
    util.ApplyGain(frame.Channel(1), instants, gain);
    util.InterleaveFloatToPcm16(pcm.data(), frame.Channel(1), frame.Channel(3), frame.Channel(4),
                                frame.Channel(2), instants);
    util.DeinterleavePcm16ToFloat(pcm.data(), (*acn)[0].data(), (*acn)[1].data(), (*acn)[2].data(),
                                  (*acn)[3].data(), instants * kBytesPerInstant);
    return instants;
}

bool ReadConvertedStretch(MovieReader& reader, float gain, int64_t first, int64_t count,
                          AcnAudio* audio, std::string* problem) {
    const int64_t total = reader.GetTotalSamples();
    const int32_t rate = reader.Track().timescale;
    if (first < 0 || count <= 0 || first + count > total || rate <= 0) {
        *problem = "the stretch lies outside the audio";
        return false;
    }
    // The reader seeks by milliseconds, in single precision: start a little
    // early and skip forward to the exact instant.
    int64_t milliseconds = first * 1000 / rate;
    reader.SeekToTime(static_cast<uint32_t>(std::min<int64_t>(milliseconds, UINT32_MAX)));
    while (reader.GetCurrentSample() > first && milliseconds > 0) {
        milliseconds = std::max<int64_t>(milliseconds - 10, 0);
        reader.SeekToTime(static_cast<uint32_t>(milliseconds));
    }
    if (reader.GetCurrentSample() > first) {
        *problem = "cannot seek in the audio";
        return false;
    }

    for (auto& channel : *audio) channel.assign(static_cast<std::size_t>(count), 0.0f);
    AcnFrame acn{};
    int64_t position = reader.GetCurrentSample();  // the instant at the start of the next frame
    while (position < first + count) {
        bool ended = false;
        const int32_t instants = ReadConvertedFrame(reader, gain, &acn, &ended);
        if (reader.HadShortRead()) {
            char at[32];
            std::snprintf(at, sizeof at, "%.2f", static_cast<double>(position) / rate);
            *problem =
                std::string("the movie is cut short: its audio cannot be read at ") + at + " s";
            return false;
        }
        for (int32_t i = 0; i < instants; ++i) {
            const int64_t at = position + i - first;
            if (at < 0 || at >= count) continue;
            for (std::size_t c = 0; c < 4; ++c) {
                (*audio)[c][static_cast<std::size_t>(at)] = acn[c][static_cast<std::size_t>(i)];
            }
        }
        position += instants;
        if (ended) break;
    }
    if (position < first + count) {
        *problem = "the audio ends early";
        return false;
    }
    return true;
}

}  // namespace spatialmux
