#pragma once
// Small owning wrappers for the FFmpeg objects of one remux: each input's
// demuxer context, the output's muxer context with its file, and a packet.

#include <memory>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "output/ffmpeg/DescriptorOutput.h"

namespace spatialmux::output {

struct InputContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// A demuxer context opened with avformat_open_input.
using InputContext = std::unique_ptr<AVFormatContext, InputContextCloser>;

struct OutputContextCloser {
    void operator()(AVFormatContext* context) const {
        // The file is ours only when the format writes to one; a
        // descriptor handed in stays open (its owner closes it).
        if ((context->flags & AVFMT_FLAG_CUSTOM_IO) != 0) {
            CloseDescriptorOutput(&context->pb);
        } else if (context->oformat != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
// A muxer context made with avformat_alloc_output_context2, and its file.
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextCloser>;

struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

// The three contexts of one remux, released by the shared exit or by the
// finishing sequence, or by their destructors when neither ran.
struct RemuxContexts {
    InputContext movie;
    InputContext wav;
    OutputContext output;
};

}  // namespace spatialmux::output
