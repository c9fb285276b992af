#include "movie/ffmpeg/AmbisonicAudio.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include "ffmpeg/ErrorText.h"
#include "ffmpeg/Inputs.h"

namespace spatialmux {

using ffmpeg::ErrorText;

namespace {

// Sample `index` of channel `channel` of a decoded frame, at full scale 1.0;
// false for a sample format that is not read here.
bool SampleOf(const AVFrame* frame, int channel, int index, float* value) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame->ch_layout.nb_channels;
    const uint8_t* plane = frame->extended_data[planar ? channel : 0];
    const int at = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_S16:
            *value = static_cast<float>(reinterpret_cast<const int16_t*>(plane)[at]) / 32767.0f;
            return true;
        case AV_SAMPLE_FMT_S32:
            *value = static_cast<float>(
                static_cast<double>(reinterpret_cast<const int32_t*>(plane)[at]) / 2147483647.0);
            return true;
        case AV_SAMPLE_FMT_FLT:
            *value = reinterpret_cast<const float*>(plane)[at];
            return true;
        case AV_SAMPLE_FMT_DBL:
            *value = static_cast<float>(reinterpret_cast<const double*>(plane)[at]);
            return true;
        case AV_SAMPLE_FMT_U8:
            *value = (static_cast<float>(plane[at]) - 128.0f) / 127.0f;
            return true;
        default:
            return false;
    }
}

}  // namespace

bool AmbisonicAudioDecoder::Open(const std::string& path, const AcnChannels& channels,
                                 std::string* problem) {
    if (!ffmpeg::OpenBestStream(path, AVMEDIA_TYPE_AUDIO, &input, &decoder, &streamIndex,
                                problem)) {
        return false;
    }
    const int count = decoder->ch_layout.nb_channels;
    if (count != 4) {
        *problem = "its audio has " + std::to_string(count) + " channels, not 4";
        return false;
    }
    if (decoder->sample_rate <= 0) {
        *problem = "its audio has no sample rate";
        return false;
    }
    acn = channels;
    return true;
}

int AmbisonicAudioDecoder::SampleRate() const {
    return decoder ? decoder->sample_rate : 0;
}

bool AmbisonicAudioDecoder::DecodesAmbisonics() const {
    return decoder && decoder->ch_layout.order == AV_CHANNEL_ORDER_AMBISONIC;
}

int64_t AmbisonicAudioDecoder::TotalSamples() const {
    if (!input || streamIndex < 0) return 0;
    const AVStream* stream = input->streams[streamIndex];
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return 0;
    return av_rescale_q(stream->duration, stream->time_base, AVRational{1, SampleRate()});
}

bool AmbisonicAudioDecoder::ReadStretch(int64_t first, int64_t count, AcnAudio* audio,
                                        std::string* problem) {
    if (!input || !decoder || count <= 0 || first < 0) {
        *problem = "the audio is not open";
        return false;
    }
    for (auto& channel : *audio) channel.assign(static_cast<std::size_t>(count), 0.0f);
    const AVStream* stream = input->streams[streamIndex];
    const AVRational perSample{1, SampleRate()};
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int result = av_seek_frame(input.get(), streamIndex,
                               start + av_rescale_q(first, perSample, stream->time_base),
                               AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        *problem = "cannot seek in the audio: " + ErrorText(result);
        return false;
    }
    avcodec_flush_buffers(decoder.get());

    ffmpeg::Packet packet(av_packet_alloc());
    ffmpeg::Frame frame(av_frame_alloc());
    if (!packet || !frame) {
        *problem = "out of memory";
        return false;
    }
    const int64_t end = first + count;
    // Instants of the stretch delivered so far, each counted once even if
    // two frames should overlap.
    std::vector<bool> delivered(static_cast<std::size_t>(count), false);
    int64_t filled = 0;
    int64_t next = -1;  // the instant of the next decoded sample, when known
    bool draining = false;
    while (filled < count) {
        if (!draining) {
            result = ffmpeg::SendNextPacket(input.get(), decoder.get(), packet.get(), streamIndex,
                                            &draining);
            if (result < 0) {
                *problem = "cannot decode the audio: " + ErrorText(result);
                return false;
            }
        }
        for (;;) {
            result = avcodec_receive_frame(decoder.get(), frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
            if (result < 0) {
                *problem = "cannot decode the audio: " + ErrorText(result);
                return false;
            }
            if (frame->ch_layout.nb_channels != 4) {
                *problem = "the decoded audio does not have 4 channels";
                return false;
            }
            if (frame->pts != AV_NOPTS_VALUE) {
                next = av_rescale_q(frame->pts - start, stream->time_base, perSample);
            }
            if (next < 0) next = 0;
            // The part of the frame that lies in the stretch.
            const int64_t from = std::max(first, next);
            const int64_t to = std::min(end, next + frame->nb_samples);
            if (from < to && !TakeInstants(frame.get(), static_cast<int>(from - next),
                                           static_cast<int>(to - from), audio,
                                           static_cast<std::size_t>(from - first), problem)) {
                return false;
            }
            for (int64_t instant = from; instant < to; ++instant) {
                if (!delivered[static_cast<std::size_t>(instant - first)]) {
                    delivered[static_cast<std::size_t>(instant - first)] = true;
                    ++filled;
                }
            }
            next += frame->nb_samples;
            av_frame_unref(frame.get());
        }
        if (draining && filled < count) {
            char at[32];
            std::snprintf(at, sizeof at, "%.2f s", static_cast<double>(end) / SampleRate());
            *problem = std::string("the audio ends before ") + at;
            return false;
        }
    }
    return true;
}

bool AmbisonicAudioDecoder::TakeInstants(const AVFrame* decoded, int from, int count,
                                         AcnAudio* audio, std::size_t at,
                                         std::string* problem) const {
    if (decoded->ch_layout.nb_channels != 4) {
        *problem = "the decoded audio does not have 4 channels";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        for (std::size_t component = 0; component < 4; ++component) {
            float value = 0.0f;
            if (!SampleOf(decoded, acn[component], from + i, &value)) {
                *problem = std::string("audio samples in the format ") +
                           av_get_sample_fmt_name(static_cast<AVSampleFormat>(decoded->format)) +
                           " are not read";
                return false;
            }
            (*audio)[component][at + static_cast<std::size_t>(i)] = value;
        }
    }
    return true;
}

bool AmbisonicAudioDecoder::ReadNext(AcnAudio* audio, std::string* problem) {
    problem->clear();
    if (!input || !decoder) {
        *problem = "the audio is not open";
        return false;
    }
    if (!orderPacket) orderPacket.reset(av_packet_alloc());
    if (!orderFrame) orderFrame.reset(av_frame_alloc());
    if (!orderPacket || !orderFrame) {
        *problem = "out of memory";
        return false;
    }
    for (;;) {
        const int received = avcodec_receive_frame(decoder.get(), orderFrame.get());
        if (received == 0) {
            const auto instants = static_cast<std::size_t>(std::max(orderFrame->nb_samples, 0));
            for (auto& channel : *audio) channel.assign(instants, 0.0f);
            const bool taken =
                TakeInstants(orderFrame.get(), 0, orderFrame->nb_samples, audio, 0, problem);
            av_frame_unref(orderFrame.get());
            return taken;
        }
        if (received == AVERROR_EOF) return false;
        if (received != AVERROR(EAGAIN)) {
            *problem = "cannot decode the audio: " + ErrorText(received);
            return false;
        }
        if (orderDraining) return false;
        const int sent = ffmpeg::SendNextPacket(input.get(), decoder.get(), orderPacket.get(),
                                                streamIndex, &orderDraining);
        if (sent < 0) {
            *problem = "cannot decode the audio: " + ErrorText(sent);
            return false;
        }
    }
}

}  // namespace spatialmux
