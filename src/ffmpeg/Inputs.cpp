#include "ffmpeg/Inputs.h"

#include "ffmpeg/ErrorText.h"

namespace spatialmux::ffmpeg {

int OpenInput(const std::string& path, InputContext* context) {
    AVFormatContext* opened = nullptr;
    const int result = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        context->reset();
        return result;
    }
    context->reset(opened);
    return 0;
}

AVStream* FirstStream(const AVFormatContext* context, AVMediaType type) {
    for (unsigned k = 0; k < context->nb_streams; ++k) {
        if (context->streams[k]->codecpar->codec_type == type) return context->streams[k];
    }
    return nullptr;
}

AVStream* StreamOfTrack(const AVFormatContext* context, AVMediaType type, int trackId) {
    if (trackId == 0) return FirstStream(context, type);
    for (unsigned k = 0; k < context->nb_streams; ++k) {
        AVStream* stream = context->streams[k];
        if (stream->codecpar->codec_type == type && stream->id == trackId) return stream;
    }
    return nullptr;
}

bool OpenBestStream(const std::string& path, AVMediaType type, InputContext* input,
                    CodecContext* decoder, int* streamIndex, std::string* problem) {
    int result = OpenInput(path, input);
    if (result < 0) {
        *problem = "libavformat cannot open it: " + ErrorText(result);
        return false;
    }
    AVFormatContext* opened = input->get();
    // The mov demuxer knows every stream from moov; no packets are read to
    // guess more.
    const int index = av_find_best_stream(opened, type, -1, -1, nullptr, 0);
    if (index < 0) {
        *problem = type == AVMEDIA_TYPE_VIDEO ? "it has no video stream" : "it has no audio stream";
        return false;
    }
    const AVCodecParameters* parameters = opened->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) {
        *problem = std::string("no decoder for its ") + avcodec_get_name(parameters->codec_id) +
                   (type == AVMEDIA_TYPE_VIDEO ? " video" : " audio");
        return false;
    }
    decoder->reset(avcodec_alloc_context3(codec));
    if (!*decoder || avcodec_parameters_to_context(decoder->get(), parameters) < 0) {
        *problem = "cannot set up its decoder";
        return false;
    }
    (*decoder)->pkt_timebase = opened->streams[index]->time_base;
    (*decoder)->thread_count = type == AVMEDIA_TYPE_VIDEO ? 0 : 1;  // 0: as many as cores
    result = avcodec_open2(decoder->get(), codec, nullptr);
    if (result < 0) {
        *problem = std::string("cannot open its ") + codec->name + " decoder: " + ErrorText(result);
        return false;
    }
    *streamIndex = index;
    return true;
}

int SendNextPacket(AVFormatContext* input, AVCodecContext* decoder, AVPacket* packet,
                   int streamIndex, bool* draining) {
    for (;;) {
        if (av_read_frame(input, packet) < 0) {
            avcodec_send_packet(decoder, nullptr);
            *draining = true;
            return 0;
        }
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        const int result = avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        return result == AVERROR(EAGAIN) ? 0 : result;
    }
}

}  // namespace spatialmux::ffmpeg
