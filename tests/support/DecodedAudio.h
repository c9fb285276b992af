#pragma once
// Decodes a movie's first audio stream back to 16-bit PCM, as a player
// would (the demuxer's edit list and the decoder's priming skip applied),
// and compares it with the signal it should carry.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace spatialmux::testing {

struct DecodedAudio {
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
    int64_t Instants() const { return channels > 0 ? samples.size() / channels : 0; }
};

inline int16_t ToPcm16(float value) {
    const float scaled = std::round(value * 32768.0f);
    return static_cast<int16_t>(std::fmax(-32768.0f, std::fmin(32767.0f, scaled)));
}

// Empty (channels 0) when the file or its audio cannot be decoded.
inline DecodedAudio DecodeAudio(const std::string& path) {
    DecodedAudio audio;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return audio;
    const int index = avformat_find_stream_info(format, nullptr) >= 0
                          ? av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)
                          : -1;
    const AVCodec* codec =
        index >= 0 ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = context != nullptr &&
              avcodec_parameters_to_context(context, format->streams[index]->codecpar) >= 0 &&
              avcodec_open2(context, codec, nullptr) >= 0;
    auto drain = [&]() {
        while (avcodec_receive_frame(context, frame) >= 0) {
            const int channels = frame->ch_layout.nb_channels;
            audio.channels = channels;
            const auto fmt = static_cast<AVSampleFormat>(frame->format);
            for (int i = 0; i < frame->nb_samples; ++i) {
                for (int c = 0; c < channels; ++c) {
                    int16_t s = 0;
                    if (fmt == AV_SAMPLE_FMT_S16) {
                        s = reinterpret_cast<const int16_t*>(frame->data[0])[i * channels + c];
                    } else if (fmt == AV_SAMPLE_FMT_FLTP) {
                        s = ToPcm16(reinterpret_cast<const float*>(frame->extended_data[c])[i]);
                    } else if (fmt == AV_SAMPLE_FMT_FLT) {
                        s = ToPcm16(
                            reinterpret_cast<const float*>(frame->data[0])[i * channels + c]);
                    } else if (fmt == AV_SAMPLE_FMT_S16P) {
                        s = reinterpret_cast<const int16_t*>(frame->extended_data[c])[i];
                    }
                    audio.samples.push_back(s);
                }
            }
            av_frame_unref(frame);
        }
    };
    while (ok && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            ok = avcodec_send_packet(context, packet) >= 0;
            drain();
        }
        av_packet_unref(packet);
    }
    if (ok) {
        avcodec_send_packet(context, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    if (!ok) audio = DecodedAudio{};
    return audio;
}

// The signal-to-noise ratio in dB of `decoded` channel `decodedChannel`
// against `expected` channel `expectedChannel` (both interleaved, four
// channels), over the expected instants, the decoded audio shifted by `lag`
// instants (a positive lag: the decoded audio is late).
inline double ChannelSnr(const std::vector<int16_t>& expected, int expectedChannel,
                         const DecodedAudio& decoded, int decodedChannel, int64_t lag = 0) {
    const int64_t instants = static_cast<int64_t>(expected.size()) / 4;
    double signal = 0.0;
    double noise = 0.0;
    for (int64_t i = 0; i < instants; ++i) {
        const double want = expected[static_cast<std::size_t>(i * 4 + expectedChannel)];
        const int64_t at = i + lag;
        const double got =
            at >= 0 && at < decoded.Instants()
                ? decoded.samples[static_cast<std::size_t>(at * decoded.channels + decodedChannel)]
                : 0.0;
        signal += want * want;
        noise += (want - got) * (want - got);
    }
    if (noise == 0.0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}

}  // namespace spatialmux::testing
