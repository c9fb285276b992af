// The libavformat probe of any movie.
#include "movie/MediaProbe.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "ffmpeg/ChannelLayouts.h"
#include "ffmpeg/ErrorText.h"
#include "ffmpeg/Inputs.h"

namespace spatialmux {

namespace {

double Seconds(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE || value < 0 || timeBase.den == 0) return 0.0;
    return static_cast<double>(value) * av_q2d(timeBase);
}

StreamProbe ProbeStream(AVStream* stream) {
    StreamProbe probe;
    const AVCodecParameters* par = stream->codecpar;
    probe.codec = avcodec_get_name(par->codec_id);
    const char* kind = av_get_media_type_string(par->codec_type);
    probe.kindName = kind != nullptr ? kind : "unknown";
    probe.trackId = stream->id;
    probe.attachedPicture = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    probe.durationSeconds = Seconds(stream->duration, stream->time_base);
    probe.frames = stream->nb_frames;
    const int entries = avformat_index_get_entries_count(stream);
    for (int k = 0; k < entries; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, k);
        if (entry == nullptr) break;
        ++probe.indexEntries;
        probe.indexBytes += static_cast<uint64_t>(entry->size);
        if (entry->pos >= 0 && entry->size >= 0) {
            probe.indexEnd = std::max(probe.indexEnd, static_cast<uint64_t>(entry->pos) +
                                                          static_cast<uint64_t>(entry->size));
        }
    }
    for (int k = 0; k < stream->nb_side_data; ++k) {
        if (stream->side_data[k].type == AV_PKT_DATA_SPHERICAL) probe.sphericalSideData = true;
    }
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        probe.kind = StreamProbe::Kind::Video;
        probe.width = par->width;
        probe.height = par->height;
        const AVRational rate =
            stream->avg_frame_rate.den != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        if (rate.den != 0) probe.framesPerSecond = av_q2d(rate);
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        probe.kind = StreamProbe::Kind::Audio;
        probe.channels = par->ch_layout.nb_channels;
        probe.sampleRate = par->sample_rate;
        probe.layout = ffmpeg::LayoutName(par->ch_layout);
        // Opus says ambisonics by its channel mapping family 2 (in the
        // OpusHead that the demuxer makes of the track's dOps box, byte 18),
        // which only its decoder turns into an ambisonic layout.
        constexpr int kMappingFamilyAt = 18;
        const bool opusAmbisonics = par->codec_id == AV_CODEC_ID_OPUS &&
                                    par->extradata_size > kMappingFamilyAt &&
                                    par->extradata[kMappingFamilyAt] == 2;
        probe.ambisonicLayout =
            par->ch_layout.order == AV_CHANNEL_ORDER_AMBISONIC || opusAmbisonics;
        // Samples, not packets: an encoded track counts codec frames of
        // many samples each, and its edit list trims the encoder's priming.
        if (par->sample_rate > 0 && stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            probe.frames =
                av_rescale_q(stream->duration, stream->time_base, AVRational{1, par->sample_rate});
        }
    }
    return probe;
}

}  // namespace

void SilenceMediaLog() {
    av_log_set_level(AV_LOG_QUIET);
}

std::optional<MediaProbe> ProbeMedia(const std::string& path, std::string* problem) {
    ffmpeg::InputContext context;
    const int ret = ffmpeg::OpenInput(path, &context);
    if (ret < 0) {
        *problem = "libavformat cannot open it: " + ffmpeg::ErrorText(ret);
        return std::nullopt;
    }
    // The mov demuxer knows every stream from moov; reading packets to
    // guess more (as avformat_find_stream_info does) would read media data.
    MediaProbe probe;
    probe.format = context->iformat != nullptr ? context->iformat->name : "";
    probe.durationSeconds = Seconds(context->duration, AVRational{1, AV_TIME_BASE});
    for (unsigned k = 0; k < context->nb_streams; ++k) {
        probe.streams.push_back(ProbeStream(context->streams[k]));
    }
    return probe;
}

}  // namespace spatialmux
