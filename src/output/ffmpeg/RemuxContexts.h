#pragma once
// The FFmpeg objects of one remux: each input's demuxer context, and the
// output's muxer context with its file.

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "ffmpeg/Handles.h"
#include "output/ffmpeg/DescriptorOutput.h"

namespace spatialmux::output {

using ffmpeg::InputContext;
using ffmpeg::Packet;

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

// The contexts of one remux, released by the shared exit or by the
// finishing sequence, or by their destructors when neither ran.
struct RemuxContexts {
    InputContext movie;
    InputContext wav;
    InputContext others;  // the movie once more, for the kept tracks
    OutputContext output;
};

}  // namespace spatialmux::output
