// The video packets of a movie as libavformat's index holds them.
#include "output/PlayersIndex.h"

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
    if (count < 0 || static_cast<std::size_t>(count) != videoSamples.size()) {
        return "libavformat reads " + std::to_string(count) + " video packets, the tables " +
               std::to_string(videoSamples.size());
    }
    for (int k = 0; k < count; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(video, k);
        const ByteRange& sample = videoSamples[static_cast<std::size_t>(k)];
        if (entry == nullptr || entry->pos < 0 ||
            static_cast<uint64_t>(entry->pos) != sample.offset || entry->size < 0 ||
            static_cast<uint64_t>(entry->size) != sample.size) {
            return "libavformat places video packet " + std::to_string(k + 1) +
                   " otherwise than the tables";
        }
    }
    return std::nullopt;
}

}  // namespace spatialmux::output
