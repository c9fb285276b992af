// The video packets of a movie as libavformat's index holds them.
#include "output/PlayersIndex.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

#include "ffmpeg/ErrorText.h"
#include "ffmpeg/Inputs.h"

namespace spatialmux::output {

std::optional<std::string> DisagreesWithPlayersIndex(const std::string& path,
                                                     const std::vector<ByteRange>& videoSamples) {
    ffmpeg::InputContext input;
    if (const int opened = ffmpeg::OpenInput(path, &input); opened < 0) {
        return "libavformat cannot open the movie: " + ffmpeg::ErrorText(opened);
    }
    // The edit keeps the first track as the video track; libavformat makes
    // one stream of each track, in order.
    if (input->nb_streams == 0 || input->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        return std::string("libavformat's first stream is not the video track");
    }
    AVStream* video = input->streams[0];
    const int count = avformat_index_get_entries_count(video);
    if (count <= 0) return std::string("libavformat's index holds no video packet");
    // An edit list may leave samples out of the index; every packet it
    // holds must be one of the samples, at its offset and of its size.
    std::vector<ByteRange> samples = videoSamples;
    const auto before = [](const ByteRange& a, const ByteRange& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.size < b.size;
    };
    std::sort(samples.begin(), samples.end(), before);
    for (int k = 0; k < count; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(video, k);
        if (entry == nullptr || entry->pos < 0 || entry->size <= 0) {
            return "libavformat's index has video packet " + std::to_string(k + 1) +
                   " without a place";
        }
        const ByteRange packet{static_cast<uint64_t>(entry->pos),
                               static_cast<uint64_t>(entry->size)};
        if (!std::binary_search(samples.begin(), samples.end(), packet, before)) {
            return "libavformat places video packet " + std::to_string(k + 1) + " at byte " +
                   std::to_string(packet.offset) + " (" + std::to_string(packet.size) +
                   " bytes), where the tables have no sample";
        }
    }
    return std::nullopt;
}

std::optional<std::vector<ByteRange>> PlayersAudioPackets(const std::string& path,
                                                          std::string* error) {
    auto fail = [error](std::string cause) {
        if (error != nullptr) *error = std::move(cause);
        return std::nullopt;
    };
    ffmpeg::InputContext input;
    if (const int opened = ffmpeg::OpenInput(path, &input); opened < 0) {
        return fail("libavformat cannot open the movie: " + ffmpeg::ErrorText(opened));
    }
    AVStream* audio = ffmpeg::FirstStream(input.get(), AVMEDIA_TYPE_AUDIO);
    if (audio == nullptr) return fail("libavformat finds no audio stream");
    const int count = avformat_index_get_entries_count(audio);
    if (count <= 0) return fail("libavformat's index holds no audio packet");
    std::vector<ByteRange> packets;
    packets.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(audio, k);
        if (entry == nullptr || entry->pos < 0 || entry->size <= 0) {
            return fail("libavformat's index has audio packet " + std::to_string(k + 1) +
                        " without a place");
        }
        packets.push_back({static_cast<uint64_t>(entry->pos), static_cast<uint64_t>(entry->size)});
    }
    return packets;
}

}  // namespace spatialmux::output
