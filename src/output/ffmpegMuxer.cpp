// The remux: the movie's first video stream and the temporary WAV's audio are
// copied packet by packet, without decoding, into the output movie, in
// timestamp order.
#include <cstdio>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "control/wrap_ffmpeg.h"
#include "output/FfmpegHandles.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

constexpr int kWavStreamIndex = 0;
constexpr int64_t kWavHeaderBytes = 44;
constexpr int64_t kWavBytesPerInstant = 8;

void ShowFailureAlert(wrap_ffmpeg& controller) {
    std::fflush(stdout);
    controller.myAlert(platform::LocalizedString("alert5"));
}

// The WAV stream's duration in its own time base. FFmpeg may not know it;
// then it follows from the file's size and the fixed layout of the
// temporary WAV. 0 when neither tells.
int64_t WavDuration(AVFormatContext* wav, const AVStream* stream) {
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) return stream->duration;
    const int64_t fileBytes = wav->pb != nullptr ? avio_size(wav->pb) : -1;
    const int sampleRate = stream->codecpar->sample_rate;
    if (fileBytes <= kWavHeaderBytes || sampleRate <= 0) return 0;
    const int64_t instants = (fileBytes - kWavHeaderBytes) / kWavBytesPerInstant;
    return av_rescale_q(instants, AVRational{1, sampleRate}, stream->time_base);
}

float ProgressPercent(int64_t done, int64_t total) {
    if (total <= 0) return 50.0f;
    double percent = 50.0 + 0.5 * (100.0 * static_cast<double>(done) / static_cast<double>(total));
    if (percent < 50.0) percent = 50.0;
    if (percent > 100.0) percent = 100.0;
    return static_cast<float>(percent);
}

// Makes an output stream carrying the same codec parameters as `input`.
// 0 or a negative code, the message already printed.
int AddCopiedStream(AVFormatContext* output, const AVStream* input, AVStream** created) {
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (stream == nullptr) {
        std::printf("Failed allocating output stream\n");
        return AVERROR_UNKNOWN;
    }
    const int ret = avcodec_parameters_copy(stream->codecpar, input->codecpar);
    if (ret < 0) {
        std::printf("Failed to copy context from input to output stream codec context\n");
        return ret;
    }
    // Let the muxer choose the tag that fits its container. The global-header
    // flag belongs to an encoder's context; a stream copy carries its
    // extradata in the codec parameters and needs nothing more here.
    stream->codecpar->codec_tag = 0;
    *created = stream;
    return 0;
}

// Reads the next packet of stream `wanted` from `input`, releasing packets
// of other streams: 0 with a packet, AVERROR_EOF at the end of the input, or
// another negative code when the input could not be read (a packet that the
// demuxer could only read in part counts as such).
int ReadStreamPacket(AVFormatContext* input, int wanted, AVPacket* packet) {
    for (;;) {
        const int ret = av_read_frame(input, packet);
        if (ret < 0) return ret;
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
            av_packet_unref(packet);
            return AVERROR_INVALIDDATA;
        }
        if (packet->stream_index == wanted) return 0;
        av_packet_unref(packet);
    }
}

}  // namespace

int32_t wrap_ffmpeg::goto_end(output::RemuxContexts& contexts, int32_t code) {
    contexts.movie.reset();
    contexts.wav.reset();
    contexts.output.reset();
    if (code < 0 && code != AVERROR_EOF) {
        std::printf("Error occurred.");
        ShowFailureAlert(*this);
        return -1;
    }
    return 0;
}

int32_t wrap_ffmpeg::ffmpegMuxer(const std::string& moviePath, const std::string& wavPath,
                                 const std::string& outputPath, bool* outputOpened) {
    if (outputOpened != nullptr) *outputOpened = false;
    output::RemuxContexts contexts;
    int ret = 0;

    // Inputs: the movie, then the WAV.
    {
        AVFormatContext* opened = nullptr;
        ret = avformat_open_input(&opened, moviePath.c_str(), nullptr, nullptr);
        if (ret < 0) {
            std::printf("Could not open input file:%s\n", moviePath.c_str());
            return goto_end(contexts, ret);
        }
        contexts.movie.reset(opened);
    }
    ret = avformat_find_stream_info(contexts.movie.get(), nullptr);
    if (ret < 0) {
        std::printf("Failed to retrieve input stream information\n");
        return goto_end(contexts, ret);
    }
    av_dump_format(contexts.movie.get(), 0, moviePath.c_str(), 0);

    {
        AVFormatContext* opened = nullptr;
        ret = avformat_open_input(&opened, wavPath.c_str(), nullptr, nullptr);
        if (ret < 0) {
            std::printf("Could not open input file:%s\n", wavPath.c_str());
            return goto_end(contexts, ret);
        }
        contexts.wav.reset(opened);
    }
    ret = avformat_find_stream_info(contexts.wav.get(), nullptr);
    if (ret < 0) {
        std::printf("Failed to retrieve input stream information\n");
        return goto_end(contexts, ret);
    }
    av_dump_format(contexts.wav.get(), 0, wavPath.c_str(), 0);

    // Output, in the container its name asks for.
    {
        AVFormatContext* created = nullptr;
        avformat_alloc_output_context2(&created, nullptr, nullptr, outputPath.c_str());
        if (created == nullptr) {
            std::printf("Could not create output context.\n");
            return goto_end(contexts, AVERROR_UNKNOWN);
        }
        contexts.output.reset(created);
    }
    AVFormatContext* movie = contexts.movie.get();
    AVFormatContext* wav = contexts.wav.get();
    AVFormatContext* out = contexts.output.get();
    const AVOutputFormat* outputFormat = out->oformat;

    // Stream 0 of the output: the movie's first video stream. Without one
    // there is nothing to convert; its packets must never land in the audio.
    int videoIndex = -1;
    for (unsigned i = 0; i < movie->nb_streams; ++i) {
        if (movie->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            videoIndex = static_cast<int>(i);
            break;
        }
    }
    if (videoIndex < 0) return goto_end(contexts, AVERROR_STREAM_NOT_FOUND);
    if (wav->nb_streams < 1) return goto_end(contexts, AVERROR_STREAM_NOT_FOUND);

    AVStream* videoIn = movie->streams[videoIndex];
    AVStream* audioIn = wav->streams[kWavStreamIndex];
    AVStream* videoOut = nullptr;
    AVStream* audioOut = nullptr;
    ret = AddCopiedStream(out, videoIn, &videoOut);
    if (ret < 0) return goto_end(contexts, ret);
    ret = AddCopiedStream(out, audioIn, &audioOut);
    if (ret < 0) return goto_end(contexts, ret);
    // Front left, front right, front centre, back centre.
    av_channel_layout_uninit(&audioOut->codecpar->ch_layout);
    av_channel_layout_from_mask(&audioOut->codecpar->ch_layout, AV_CH_LAYOUT_4POINT0);

    if ((outputFormat->flags & AVFMT_NOFILE) == 0) {
        ret = avio_open(&out->pb, outputPath.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            std::printf("Could not open output file '%s'", outputPath.c_str());
            return goto_end(contexts, ret);
        }
    }
    // From here on the output's file may exist (formats without a file of
    // ours create theirs while writing).
    if (outputOpened != nullptr) *outputOpened = true;

    // No options: the default layout keeps the media data in front of moov.
    ret = avformat_write_header(out, nullptr);
    if (ret < 0) {
        std::printf("Error occurred when opening output file");
        return goto_end(contexts, ret);
    }
    av_dump_format(out, 0, outputPath.c_str(), 1);

    output::Packet packet(av_packet_alloc());
    if (!packet) return goto_end(contexts, AVERROR(ENOMEM));

    const int64_t wavDuration = WavDuration(wav, audioIn);
    // The movie's sample table says how many video packets there are: an
    // input that ends before them was cut short.
    const int videoIndexed = avformat_index_get_entries_count(videoIn);
    int videoPackets = 0;
    int64_t lastVideoPts = 0;
    int64_t lastAudioPts = 0;
    bool videoLeft = true;
    bool audioLeft = true;
    bool writeFailed = false;
    bool readFailed = false;

    // Both inputs are copied to their ends: once one runs out, the rest of
    // the other still follows. Ties go to the video, so the first packet is
    // a video packet.
    while (videoLeft || audioLeft) {
        if (CancelRequested()) {
            // Nothing more is written; the caller deletes the files.
            contexts = output::RemuxContexts{};
            return -2;
        }
        bool fromVideo = videoLeft;
        if (videoLeft && audioLeft) {
            fromVideo = av_compare_ts(lastVideoPts, videoIn->time_base, lastAudioPts,
                                      audioIn->time_base) <= 0;
        }
        AVFormatContext* input = fromVideo ? movie : wav;
        AVStream* inStream = fromVideo ? videoIn : audioIn;
        AVStream* outStream = fromVideo ? videoOut : audioOut;
        const int wanted = fromVideo ? videoIndex : kWavStreamIndex;

        const int read = ReadStreamPacket(input, wanted, packet.get());
        if (read == 0 && fromVideo) ++videoPackets;
        const bool cutShort = read == AVERROR_EOF && fromVideo && videoPackets < videoIndexed;
        if ((read < 0 && read != AVERROR_EOF) || cutShort) {
            // Media lost from an input must not pass for a complete copy.
            std::printf("Error reading packet");
            ShowFailureAlert(*this);
            readFailed = true;
            break;
        }
        if (read < 0 || packet->pts == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            (fromVideo ? videoLeft : audioLeft) = false;
            continue;
        }
        (fromVideo ? lastVideoPts : lastAudioPts) = packet->pts;
        const int64_t inputDts = packet->dts;

        const auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
        packet->pts =
            av_rescale_q_rnd(packet->pts, inStream->time_base, outStream->time_base, rounding);
        packet->dts =
            av_rescale_q_rnd(packet->dts, inStream->time_base, outStream->time_base, rounding);
        packet->duration =
            av_rescale_q(packet->duration, inStream->time_base, outStream->time_base);
        packet->pos = -1;
        packet->stream_index = outStream->index;

        if (!fromVideo) {
            // Done and total both in the WAV stream's time base.
            const int64_t done = inputDts != AV_NOPTS_VALUE ? inputDts : lastAudioPts;
            myProgRate_update(ProgressPercent(done, wavDuration));
        }

        ret = av_interleaved_write_frame(out, packet.get());
        if (ret < 0) {
            std::printf("Error muxing packet");
            ShowFailureAlert(*this);
            writeFailed = true;
            break;
        }
        av_packet_unref(packet.get());
    }
    packet.reset();

    // Finish what was written, also after a failed packet.
    const int trailer = av_write_trailer(out);
    contexts.movie.reset();
    contexts.wav.reset();
    int closed = 0;
    if ((outputFormat->flags & AVFMT_NOFILE) == 0) closed = avio_closep(&out->pb);
    contexts.output.reset();

    if (writeFailed || readFailed) return -1;
    if (trailer < 0 || closed < 0) {
        // Without its trailer the output is no usable movie.
        std::printf("Error occurred.");
        ShowFailureAlert(*this);
        return -1;
    }
    myProgRate_update(100.0f);
    return 0;
}

}  // namespace spatialmux
