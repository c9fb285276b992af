#include "ffmpeg/ChannelLayouts.h"

namespace spatialmux::ffmpeg {

std::string LayoutName(const AVChannelLayout& layout) {
    char name[64] = {};
    if (av_channel_layout_describe(&layout, name, sizeof name) < 0) return "";
    return name;
}

void SetQuadLayout(AVChannelLayout* layout) {
    av_channel_layout_uninit(layout);
    av_channel_layout_from_mask(layout, AV_CH_LAYOUT_4POINT0);
}

void SetAmbisonicLayout(AVChannelLayout* layout, int channels) {
    av_channel_layout_uninit(layout);
    layout->order = AV_CHANNEL_ORDER_AMBISONIC;
    layout->nb_channels = channels;
}

}  // namespace spatialmux::ffmpeg
