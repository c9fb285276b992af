#pragma once
// The channel layouts the program hands to FFmpeg and reads back from it.

#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace spatialmux::ffmpeg {

// What av_channel_layout_describe says of `layout`: "ambisonic 1", "4.0",
// "4 channels", ...
std::string LayoutName(const AVChannelLayout& layout);

// Replaces `layout` with the plain four-channel layout (front left, front
// right, front centre, back centre).
void SetQuadLayout(AVChannelLayout* layout);

// Replaces `layout` with the ambisonic layout of `channels` channels in ACN
// order ("ambisonic 1" for four).
void SetAmbisonicLayout(AVChannelLayout* layout, int channels);

}  // namespace spatialmux::ffmpeg
