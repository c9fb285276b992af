#pragma once
// Movies that are not the camera's, made from a converted one in place: its
// boxes renamed away (no SA3D, no chan, no spherical metadata) and its PCM
// samples rewritten in another ambisonic convention (FuMa, or an order that
// only an SA3D map explains).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "audio/ByteOrder.h"
#include "support/BoxTree.h"

namespace spatialmux::testing {

// Renames every box of one of `types` inside the file's moov to `free`
// (a size field in front of the type, the box inside moov).
inline void RenameAway(std::vector<uint8_t>& file, const std::vector<std::string>& types) {
    const auto moov = FindBoxPath(file, "moov");
    ASSERT_TRUE(moov);
    const uint64_t end = moov->offset + moov->size;
    for (uint64_t at = moov->offset + 8; at + 4 <= end; ++at) {
        for (const std::string& type : types) {
            if (std::memcmp(&file[at], type.data(), 4) != 0) continue;
            const uint32_t size = ReadBE32(&file[at - 4]);
            if (size >= 8 && at - 4 + size <= end) std::memcpy(&file[at], "free", 4);
        }
    }
}

// The byte ranges of the audio packets of a PCM movie.
inline std::vector<std::pair<int64_t, int>> AudioPacketRanges(const std::string& path) {
    std::vector<std::pair<int64_t, int>> ranges;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return ranges;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        if (context->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            ranges.emplace_back(packet->pos, packet->size);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return ranges;
}

// Rewrites each instant (W, Y, Z, X as 16-bit samples) of a PCM movie as
// `change` says, in place.
inline void RewriteInstants(const std::string& path, std::vector<uint8_t>& file,
                            const std::function<void(const float acn[4], float out[4])>& change) {
    const auto ranges = AudioPacketRanges(path);
    ASSERT_FALSE(ranges.empty());
    for (const auto& [pos, size] : ranges) {
        ASSERT_GE(pos, 0);
        for (int k = 0; k + 8 <= size; k += 8) {
            uint8_t* instant = &file[static_cast<std::size_t>(pos + k)];
            float acn[4], out[4];
            for (int c = 0; c < 4; ++c) acn[c] = static_cast<int16_t>(ReadLE16(instant + 2 * c));
            change(acn, out);
            for (int c = 0; c < 4; ++c) {
                WriteLE16(instant + 2 * c, static_cast<uint16_t>(static_cast<int16_t>(std::lround(
                                               std::clamp(out[c], -32768.f, 32767.f)))));
            }
        }
    }
}

// FuMa: W X Y Z, W 3 dB down.
inline void ToFuma(const float acn[4], float out[4]) {
    out[0] = acn[0] / std::sqrt(2.0f);
    out[1] = acn[3];
    out[2] = acn[1];
    out[3] = acn[2];
}

// W X Y Z at SN3D levels: what an SA3D map of 0, 3, 1, 2 describes.
inline void ToMappedOrder(const float acn[4], float out[4]) {
    out[0] = acn[0];
    out[1] = acn[3];
    out[2] = acn[1];
    out[3] = acn[2];
}

}  // namespace spatialmux::testing
