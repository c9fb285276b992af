#pragma once
// The FFmpeg floor: small owning wrappers for the objects every FFmpeg user
// of the program makes (a demuxer context, a codec context, a frame, a
// packet, a scaler, an option dictionary, a filter graph). Each frees its
// object with the call FFmpeg names for it.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace spatialmux::ffmpeg {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// A demuxer context opened with avformat_open_input.
using InputContext = std::unique_ptr<AVFormatContext, InputCloser>;

struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
// A decoder or encoder context made with avcodec_alloc_context3.
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

struct DictionaryFreer {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};
// Options handed to an open call; what the call did not take stays in it.
using Dictionary = std::unique_ptr<AVDictionary, DictionaryFreer>;

struct FilterGraphFreer {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
// A filter graph made with avfilter_graph_alloc, with every filter in it.
using FilterGraph = std::unique_ptr<AVFilterGraph, FilterGraphFreer>;

}  // namespace spatialmux::ffmpeg
