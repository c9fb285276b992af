#pragma once
// Reads every packet of a movie with libavformat, as a player would see it.

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace spatialmux::testing {

struct StreamPackets {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int channels = 0;
    uint64_t channelMask = 0;
    AVChannelOrder channelOrder = AV_CHANNEL_ORDER_UNSPEC;
    int sampleRate = 0;
    int width = 0;
    int height = 0;
    AVRational timeBase{0, 1};
    struct Packet {
        int64_t pts = 0;
        int64_t dts = 0;
        int64_t duration = 0;  // as the demuxer presents it (edit lists applied)
        std::vector<uint8_t> data;
    };
    std::vector<Packet> packets;

    // For PCM streams: all packet bytes in order.
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> all;
        for (const Packet& p : packets) all.insert(all.end(), p.data.begin(), p.data.end());
        return all;
    }
};

// Empty when the file cannot be opened.
inline std::vector<StreamPackets> ReadMediaPackets(const std::string& path) {
    std::vector<StreamPackets> streams;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return streams;
    if (avformat_find_stream_info(context, nullptr) < 0) {
        avformat_close_input(&context);
        return streams;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* par = context->streams[i]->codecpar;
        StreamPackets s;
        s.type = par->codec_type;
        s.codec = par->codec_id;
        s.channels = par->ch_layout.nb_channels;
        s.channelMask = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
        s.channelOrder = par->ch_layout.order;
        s.sampleRate = par->sample_rate;
        s.width = par->width;
        s.height = par->height;
        s.timeBase = context->streams[i]->time_base;
        streams.push_back(std::move(s));
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        StreamPackets::Packet p;
        p.pts = packet->pts;
        p.dts = packet->dts;
        p.duration = packet->duration;
        p.data.assign(packet->data, packet->data + packet->size);
        streams[static_cast<std::size_t>(packet->stream_index)].packets.push_back(std::move(p));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return streams;
}

}  // namespace spatialmux::testing
