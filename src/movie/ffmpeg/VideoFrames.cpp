#include "movie/ffmpeg/VideoFrames.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "ffmpeg/ErrorText.h"
#include "ffmpeg/Inputs.h"

namespace spatialmux {

using ffmpeg::ErrorText;

bool VideoFrameDecoder::Open(const std::string& path, std::string* problem) {
    return ffmpeg::OpenBestStream(path, AVMEDIA_TYPE_VIDEO, &input, &decoder, &streamIndex,
                                    problem);
}

int VideoFrameDecoder::Width() const {
    return decoder ? decoder->width : 0;
}

int VideoFrameDecoder::Height() const {
    return decoder ? decoder->height : 0;
}

double VideoFrameDecoder::DurationSeconds() const {
    if (!input || streamIndex < 0) return 0.0;
    const AVStream* stream = input->streams[streamIndex];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    }
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        return static_cast<double>(input->duration) / AV_TIME_BASE;
    }
    return 0.0;
}

bool VideoFrameDecoder::DecodePictureAt(double seconds, int width, int height,
                                        std::vector<uint8_t>* rgb, std::string* problem) {
    if (!input || !decoder || streamIndex < 0) {
        *problem = "the video is not open";
        return false;
    }
    const AVStream* stream = input->streams[streamIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t target = start + av_rescale_q(std::llround(seconds * AV_TIME_BASE),
                                                AV_TIME_BASE_Q, stream->time_base);
    const int64_t second =
        std::max<int64_t>(av_rescale_q(1, AVRational{1, 1}, stream->time_base), 1);
    ffmpeg::Frame shown(av_frame_alloc());
    if (!shown) {
        *problem = "out of memory";
        return false;
    }
    // A keyframe found by the seek may be shown after the time: an HEVC
    // CRA picture whose leading pictures need the keyframe before it. Then
    // decoding starts again further back, down to the start if need be.
    int64_t from = target;
    for (int attempt = 0;; ++attempt) {
        int64_t first = AV_NOPTS_VALUE;
        if (!DecodeFrom(from, target, shown.get(), &first, problem)) return false;
        if (first == AV_NOPTS_VALUE || first <= target || from <= start || attempt >= 8) break;
        from = std::max(start, std::min(from, first) - second * (int64_t{1} << attempt));
    }
    if (!Scale(shown.get(), width, height, rgb)) {
        *problem = "cannot convert the picture to RGB";
        return false;
    }
    return true;
}

bool VideoFrameDecoder::DecodeFrom(int64_t from, int64_t target, AVFrame* shown,
                                   int64_t* firstShown, std::string* problem) {
    const AVStream* stream = input->streams[streamIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    // The keyframe at or before `from`; decoding starts there.
    int result = av_seek_frame(input.get(), streamIndex, from, AVSEEK_FLAG_BACKWARD);
    if (result < 0) result = av_seek_frame(input.get(), streamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        *problem = "cannot seek in the video: " + ErrorText(result);
        return false;
    }
    avcodec_flush_buffers(decoder.get());
    av_frame_unref(shown);

    ffmpeg::Packet packet(av_packet_alloc());
    ffmpeg::Frame frame(av_frame_alloc());
    if (!packet || !frame) {
        *problem = "out of memory";
        return false;
    }
    bool haveShown = false;
    bool draining = false;
    int decodeError = 0;
    for (;;) {
        if (!draining) {
            const int sent = ffmpeg::SendNextPacket(input.get(), decoder.get(), packet.get(),
                                                      streamIndex, &draining);
            if (sent < 0) decodeError = sent;
        }
        bool reached = false;
        for (;;) {
            result = avcodec_receive_frame(decoder.get(), frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
            if (result < 0) {
                decodeError = result;
                break;
            }
            // Frames come out in presentation order: the first one at or
            // after the time is the one shown then.
            int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE) pts = frame->pts;
            if (!haveShown) *firstShown = pts;
            av_frame_unref(shown);
            av_frame_move_ref(shown, frame.get());
            haveShown = true;
            if (pts != AV_NOPTS_VALUE && pts >= target) {
                reached = true;
                break;
            }
        }
        if (reached || (draining && result < 0)) break;
    }
    if (!haveShown) {
        *problem = decodeError < 0 ? "cannot decode the video: " + ErrorText(decodeError)
                                   : std::string("no picture could be decoded there");
        return false;
    }
    return true;
}

bool VideoFrameDecoder::Scale(const AVFrame* frame, int width, int height,
                              std::vector<uint8_t>* rgb) {
    if (width <= 0 || height <= 0 || frame->width <= 0 || frame->height <= 0) return false;
    scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                      static_cast<AVPixelFormat>(frame->format), width, height,
                                      AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) return false;
    rgb->assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    uint8_t* planes[4] = {rgb->data(), nullptr, nullptr, nullptr};
    int strides[4] = {width * 3, 0, 0, 0};
    const int rows =
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return rows == height;
}

}  // namespace spatialmux
