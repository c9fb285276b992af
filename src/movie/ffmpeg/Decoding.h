#pragma once
// Small owning wrappers for the FFmpeg objects that decode pictures and
// sound from any movie: the demuxer context, a decoder context, a frame, a
// packet and a scaler.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace spatialmux::decoding {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputContext = std::unique_ptr<AVFormatContext, InputCloser>;

struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecCloser>;

struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFreer>;

struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using Scaler = std::unique_ptr<SwsContext, ScalerFreer>;

inline std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Opens `path` and a decoder for its best stream of `type`; false with
// `problem` set when either cannot be done.
bool OpenBestStream(const std::string& path, AVMediaType type, InputContext* input,
                    CodecContext* decoder, int* streamIndex, std::string* problem);

// Sends the next packet of `streamIndex` to `decoder`, passing over those of
// other streams. At the end of the file (or a read error) the decoder is
// told to give what it holds and `*draining` is set. 0, or the decoder's
// error for the packet (AVERROR(EAGAIN), a decoder that wants its frames
// taken first, is none: every caller takes them all after each packet).
int SendNextPacket(AVFormatContext* input, AVCodecContext* decoder, AVPacket* packet,
                   int streamIndex, bool* draining);

}  // namespace spatialmux::decoding
