// The remux with FFmpeg: the movie's 360 video stream, the temporary WAV's
// audio and the tracks the caller keeps are copied packet by packet, without
// decoding, into the output movie, in timestamp order; or the WAV's audio is
// encoded on the way.
// Without a movie the output holds the WAV's audio alone.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include "audio/WavWriter.h"
#include "ffmpeg/ChannelLayouts.h"
#include "ffmpeg/Inputs.h"
#include "output/Remux.h"
#include "output/ffmpeg/AudioEncoder.h"
#include "output/ffmpeg/DescriptorOutput.h"
#include "output/ffmpeg/RemuxContexts.h"

namespace spatialmux::output {

namespace {

constexpr int kWavStreamIndex = 0;
constexpr int kVideoTimescale = 90000;

// Bytes per sampling instant of the WAV's 16-bit samples.
int WavBytesPerInstant(const AVStream* stream) {
    return 2 * std::max(stream->codecpar->ch_layout.nb_channels, 1);
}

// The WAV stream's duration in its own time base. FFmpeg may not know it;
// then it follows from the file's size and the fixed layout of the
// temporary WAV. 0 when neither tells.
int64_t WavDuration(AVFormatContext* wav, const AVStream* stream) {
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) return stream->duration;
    const int64_t fileBytes = wav->pb != nullptr ? avio_size(wav->pb) : -1;
    const int sampleRate = stream->codecpar->sample_rate;
    if (fileBytes <= WavWriter::kHeaderSize || sampleRate <= 0) return 0;
    const int64_t instants = (fileBytes - WavWriter::kHeaderSize) / WavBytesPerInstant(stream);
    return av_rescale_q(instants, AVRational{1, sampleRate}, stream->time_base);
}

// Makes an output stream carrying the same codec parameters as `input`.
// 0 or a negative code, the diagnostic already given.
int AddCopiedStream(AVFormatContext* output, const AVStream* input, AVStream** created,
                    RemuxJob& job) {
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (stream == nullptr) {
        job.Diagnostic("Failed allocating output stream\n");
        return AVERROR_UNKNOWN;
    }
    const int ret = avcodec_parameters_copy(stream->codecpar, input->codecpar);
    if (ret < 0) {
        job.Diagnostic("Failed to copy context from input to output stream codec context\n");
        return ret;
    }
    // Let the muxer choose the tag that fits its container. The global-header
    // flag belongs to an encoder's context; a stream copy carries its
    // extradata in the codec parameters and needs nothing more here.
    stream->codecpar->codec_tag = 0;
    *created = stream;
    return 0;
}

// Reads the next packet from `input` of a stream that `wanted` takes (by
// its index), releasing packets of other streams: 0 with a packet,
// AVERROR_EOF at the end of the input, or another negative code when the
// input could not be read (a packet that the demuxer could only read in
// part counts as such).
template <typename Wanted>
int ReadPacketOf(AVFormatContext* input, AVPacket* packet, const Wanted& wanted) {
    for (;;) {
        const int ret = av_read_frame(input, packet);
        if (ret < 0) return ret;
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
            av_packet_unref(packet);
            return AVERROR_INVALIDDATA;
        }
        if (wanted(packet->stream_index)) return 0;
        av_packet_unref(packet);
    }
}

// The next packet of stream `wanted`, as ReadPacketOf.
int ReadStreamPacket(AVFormatContext* input, int wanted, AVPacket* packet) {
    return ReadPacketOf(input, packet, [wanted](int index) { return index == wanted; });
}

// The audio side of the remux: the WAV's packets as they are (PCM), or the
// encoder's packets made from them. Packets come in TimeBase().
class AudioSource {
public:
    AudioSource(AVFormatContext* wavContext, AVStream* wavStream, int64_t wavLength,
                std::unique_ptr<AudioEncoder> audioEncoder, RemuxJob& remuxJob)
        : wav(wavContext),
          stream(wavStream),
          index(wavStream->index),
          duration(wavLength),
          encoder(std::move(audioEncoder)),
          job(remuxJob) {}

    AVRational TimeBase() const { return encoder ? encoder->TimeBase() : stream->time_base; }

    // 0 with a packet, AVERROR_EOF at the end of the audio, another negative
    // code when the WAV could not be read (kEncodeFailed: the encoder
    // refused, its diagnostic given).
    int Next(AVPacket* packet) {
        if (!encoder) {
            const int ret = ReadStreamPacket(wav, index, packet);
            if (ret == 0) Report(packet);
            return ret;
        }
        for (;;) {
            const int received = encoder->Receive(packet);
            if (received != AVERROR(EAGAIN)) return received;
            const int read = ReadStreamPacket(wav, index, packet);
            if (read < 0 && read != AVERROR_EOF) return read;
            int fed = 0;
            if (read == AVERROR_EOF) {
                fed = encoder->Finish();
            } else {
                Report(packet);
                fed = encoder->Write(packet->data, packet->size / WavBytesPerInstant(stream));
                av_packet_unref(packet);
            }
            if (fed < 0) {
                job.Diagnostic("Error encoding audio\n");
                return kEncodeFailed;
            }
        }
    }

    static constexpr int kEncodeFailed = FFERRTAG('E', 'N', 'C', 'F');

private:
    // Done and total both in the WAV stream's time base: the share of the
    // WAV read so far, whether it is copied or encoded.
    void Report(const AVPacket* packet) {
        const int64_t done = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (done != AV_NOPTS_VALUE) job.Progress(done, duration);
    }

    AVFormatContext* wav;
    AVStream* stream;
    int index;
    int64_t duration;
    std::unique_ptr<AudioEncoder> encoder;
    RemuxJob& job;
};

// Makes the output's encoded audio stream and its encoder. Nothing, the
// diagnostic given, when either fails.
std::unique_ptr<AudioEncoder> AddEncodedStream(AVFormatContext* output, const AVStream* input,
                                               const AudioEncoding& encoding, AVStream** created,
                                               RemuxJob& job) {
    std::string error;
    const bool globalHeader = (output->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    std::unique_ptr<AudioEncoder> encoder =
        AudioEncoder::Open(encoding, input->codecpar->sample_rate,
                           input->codecpar->ch_layout.nb_channels, globalHeader, &error);
    if (!encoder) {
        job.Diagnostic("Could not encode the audio: " + error + "\n");
        return nullptr;
    }
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (stream == nullptr || encoder->CopyParameters(stream->codecpar) < 0) {
        job.Diagnostic("Failed allocating output stream\n");
        return nullptr;
    }
    stream->codecpar->codec_tag = 0;
    stream->time_base = encoder->TimeBase();
    *created = stream;
    return encoder;
}

using MuxerOptions = ffmpeg::Dictionary;

// The movie time scale the muxer must use, 0 for its default (1/1000 s).
// Encoded audio: the edit list that hides the encoder's priming and padding
// counts its duration in the movie's time scale; at 1/1000 s the last part
// millisecond of the audio was cut off (1,025 instants played as 1,008), in
// the audio's own rate the edit is exact. A video that starts after its
// first decode time (B-frames without an edit list, or an input whose edit
// list delays the video) gets an empty edit for that delay, also counted in
// the movie's time scale: at 1/1000 s a delay of one frame at 30 fps became
// 33 ms and every frame was shown a third of a millisecond early. Counted in
// the video track's own units the delay is exact. PCM movies whose video
// starts at once keep the default, and their output stays what it always was.
int64_t MovieTimescale(const AudioEncoding& audio, const AVStream* audioOut,
                       const AVStream* videoIn, const AVStream* videoOut) {
    const bool videoStartsLate =
        videoIn != nullptr && videoIn->start_time != AV_NOPTS_VALUE && videoIn->start_time > 0;
    // The muxer counts the video track in its stream's time base, doubled
    // until it reaches 10000 units a second.
    int64_t videoScale =
        videoOut != nullptr && videoOut->time_base.num == 1 ? videoOut->time_base.den : 0;
    while (videoScale > 0 && videoScale < 10000) videoScale *= 2;
    const int64_t audioScale =
        audio.codec == AudioCodec::Pcm ? 0 : std::max(0, audioOut->codecpar->sample_rate);
    if (!videoStartsLate || videoScale <= 0) return audioScale;
    if (audioScale <= 0) return videoScale;
    // Both exact when the least common multiple fits the muxer's option.
    const int64_t common = audioScale / std::gcd(audioScale, videoScale) * videoScale;
    return common <= INT32_MAX ? common : audioScale;
}

MuxerOptions MovieTimescaleOption(int64_t timescale) {
    if (timescale <= 0) return nullptr;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", timescale, 0);
    return MuxerOptions(options);
}

// Opens the input at `path` with its stream information; false, the
// diagnostic given, when either fails.
bool OpenInput(const std::string& path, InputContext& context, RemuxJob& job) {
    if (ffmpeg::OpenInput(path, &context) < 0) {
        job.Diagnostic("Could not open input file:" + path + "\n");
        return false;
    }
    if (avformat_find_stream_info(context.get(), nullptr) < 0) {
        job.Diagnostic("Failed to retrieve input stream information\n");
        return false;
    }
    av_dump_format(context.get(), 0, path.c_str(), 0);
    return true;
}

// The shared exit for failures before the copying loop: releases the
// contexts made so far.
RemuxOutcome Stop(RemuxContexts& contexts, RemuxJob& job, bool outputCreated) {
    contexts = RemuxContexts{};
    job.Diagnostic("Error occurred.\n");
    return RemuxOutcome{RemuxStatus::Failed, outputCreated};
}

// The kept tracks of the movie, each copied into an output stream of its
// own behind the audio. False, the diagnostic given, when one is missing or
// cannot be added; `outIndex` maps an input stream to its output stream (-1:
// not kept).
bool AddKeptStreams(AVFormatContext* output, const AVFormatContext* movie,
                    const std::vector<int>& trackIds, std::vector<int>* outIndex, RemuxJob& job) {
    outIndex->assign(movie->nb_streams, -1);
    for (const int trackId : trackIds) {
        const AVStream* in = nullptr;
        for (unsigned k = 0; k < movie->nb_streams && in == nullptr; ++k) {
            if (movie->streams[k]->id == trackId) in = movie->streams[k];
        }
        AVStream* created = nullptr;
        if (in == nullptr || AddCopiedStream(output, in, &created, job) < 0) {
            job.Diagnostic("Could not keep track " + std::to_string(trackId) + "\n");
            return false;
        }
        created->disposition = in->disposition;
        av_dict_copy(&created->metadata, in->metadata, 0);
        (*outIndex)[static_cast<std::size_t>(in->index)] = created->index;
    }
    return true;
}

// The next packet of a kept track, as ReadPacketOf.
int ReadKeptPacket(AVFormatContext* movie, const std::vector<int>& outIndex, AVPacket* packet) {
    return ReadPacketOf(movie, packet, [&outIndex](int index) {
        return index >= 0 && static_cast<std::size_t>(index) < outIndex.size() &&
               outIndex[static_cast<std::size_t>(index)] >= 0;
    });
}

}  // namespace

bool ContainerHolds(const std::string& containerName, const std::string& codec) {
    const AVOutputFormat* format = av_guess_format(nullptr, containerName.c_str(), nullptr);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get_by_name(codec.c_str());
    if (format == nullptr || descriptor == nullptr) return false;
    return avformat_query_codec(format, descriptor->id, FF_COMPLIANCE_NORMAL) == 1;
}

void QuietenRemuxLog() {
    av_log_set_level(AV_LOG_ERROR);
}

RemuxOutcome Remux(const RemuxRequest& request, RemuxJob& job) {
    const std::string& moviePath = request.moviePath;
    const std::string& wavPath = request.wavPath;
    const std::string& outputPath = request.outputPath;
    const std::string& containerName =
        request.containerName.empty() ? request.outputPath : request.containerName;
    bool outputCreated = false;
    RemuxContexts contexts;
    int ret = 0;

    // Inputs: the movie (when there is one), then the WAV, or the movie
    // once more for its audio: each input is read in its own order.
    const bool withVideo = !moviePath.empty();
    const bool copiedAudio = request.audioFromMovie;
    if ((copiedAudio && !withVideo) || (withVideo && !OpenInput(moviePath, contexts.movie, job)) ||
        !OpenInput(copiedAudio ? moviePath : wavPath, contexts.wav, job)) {
        return Stop(contexts, job, outputCreated);
    }

    // Output, in the container its final name asks for.
    {
        AVFormatContext* created = nullptr;
        avformat_alloc_output_context2(&created, nullptr, nullptr, containerName.c_str());
        if (created == nullptr) {
            job.Diagnostic("Could not create output context.\n");
            return Stop(contexts, job, outputCreated);
        }
        contexts.output.reset(created);
    }
    AVFormatContext* movie = contexts.movie.get();
    AVFormatContext* wav = contexts.wav.get();
    AVFormatContext* out = contexts.output.get();
    const AVOutputFormat* outputFormat = out->oformat;

    // Stream 0 of the output: the movie's 360 video stream. Without one
    // there is nothing to convert; its packets must never land in the audio.
    AVStream* videoIn = nullptr;
    int videoIndex = -1;
    if (withVideo) {
        const AVStream* chosenVideo =
            ffmpeg::StreamOfTrack(movie, AVMEDIA_TYPE_VIDEO, request.tracks.videoTrackId);
        if (chosenVideo == nullptr) return Stop(contexts, job, outputCreated);
        videoIndex = chosenVideo->index;
        videoIn = movie->streams[videoIndex];
    }
    if (wav->nb_streams < 1) return Stop(contexts, job, outputCreated);

    AVStream* audioIn =
        copiedAudio ? ffmpeg::FirstStream(wav, AVMEDIA_TYPE_AUDIO) : wav->streams[kWavStreamIndex];
    if (audioIn == nullptr) return Stop(contexts, job, outputCreated);
    AVStream* videoOut = nullptr;
    AVStream* audioOut = nullptr;
    if (withVideo) {
        ret = AddCopiedStream(out, videoIn, &videoOut, job);
        if (ret < 0) return Stop(contexts, job, outputCreated);
        // The muxer's default for a video stream, set here so that the movie
        // time scale can be chosen to match it.
        videoOut->time_base = AVRational{1, kVideoTimescale};
    }
    std::unique_ptr<AudioEncoder> encoder;
    if (copiedAudio && request.audio.codec != AudioCodec::Pcm) {
        // Encoded audio keeps its parameters whole: Opus its channel mapping
        // family in the extradata, AAC its decoder configuration.
        ret = AddCopiedStream(out, audioIn, &audioOut, job);
        if (ret < 0) return Stop(contexts, job, outputCreated);
        // The rate the input's encoder was set to, when the caller knows it:
        // the muxer keeps the larger of it and the packets' own as the btrt
        // and esds maximum, as it does for our encoder's.
        if (request.audio.bitRate > 0) audioOut->codecpar->bit_rate = request.audio.bitRate;
    } else if (request.audio.codec == AudioCodec::Pcm) {
        ret = AddCopiedStream(out, audioIn, &audioOut, job);
        if (ret < 0) return Stop(contexts, job, outputCreated);
        // Four channels: front left, front right, front centre, back centre
        // (the muxer's chan box, which the metadata transplant makes
        // ambisonic); any other count its usual layout (two: stereo).
        AVChannelLayout& layout = audioOut->codecpar->ch_layout;
        if (layout.nb_channels == 4) {
            ffmpeg::SetQuadLayout(&layout);
        } else {
            const int channels = layout.nb_channels;
            av_channel_layout_uninit(&layout);
            av_channel_layout_default(&layout, channels);
        }
    } else {
        encoder = AddEncodedStream(out, audioIn, request.audio, &audioOut, job);
        if (!encoder) return Stop(contexts, job, outputCreated);
    }

    // Behind the audio, the tracks kept as they are, read from the movie
    // opened once more (each input is read in its own order).
    std::vector<int> keptOut;
    const bool withKept = withVideo && !request.tracks.keptTrackIds.empty();
    if (withKept &&
        (!OpenInput(moviePath, contexts.others, job) ||
         !AddKeptStreams(out, contexts.others.get(), request.tracks.keptTrackIds, &keptOut, job))) {
        return Stop(contexts, job, outputCreated);
    }

    const bool ownDescriptor = request.outputFd >= 0;
    if ((outputFormat->flags & AVFMT_NOFILE) == 0 && ownDescriptor) {
        out->pb = OpenDescriptorOutput(request.outputFd);
        if (out->pb == nullptr) {
            job.Diagnostic("Could not open output file '" + outputPath + "'\n");
            return Stop(contexts, job, outputCreated);
        }
        out->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if ((outputFormat->flags & AVFMT_NOFILE) == 0) {
        ret = avio_open(&out->pb, outputPath.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            job.Diagnostic("Could not open output file '" + outputPath + "'\n");
            return Stop(contexts, job, outputCreated);
        }
    }
    // From here on the output's file may exist (formats without a file of
    // ours create theirs while writing).
    outputCreated = true;

    // The default layout keeps the media data in front of moov.
    MuxerOptions muxerOptions =
        MovieTimescaleOption(MovieTimescale(request.audio, audioOut, videoIn, videoOut));
    AVDictionary* rawOptions = muxerOptions.release();
    ret = avformat_write_header(out, &rawOptions);
    muxerOptions.reset(rawOptions);
    if (ret < 0) {
        job.Diagnostic("Error occurred when opening output file\n");
        return Stop(contexts, job, outputCreated);
    }
    av_dump_format(out, 0, outputPath.c_str(), 1);

    Packet packet(av_packet_alloc());
    if (!packet) return Stop(contexts, job, outputCreated);

    AudioSource audio(wav, audioIn, WavDuration(wav, audioIn), std::move(encoder), job);
    const AVRational audioTimeBase = audio.TimeBase();
    // The movie's sample table says how many video packets there are: an
    // input that ends before them was cut short.
    const int videoIndexed = withVideo ? avformat_index_get_entries_count(videoIn) : 0;
    int videoPackets = 0;
    int64_t lastVideoPts = 0;
    int64_t lastAudioPts = 0;
    int64_t lastKeptTime = 0;
    AVRational keptTimeBase{1, AV_TIME_BASE};
    bool videoLeft = withVideo;
    bool audioLeft = true;
    bool keptLeft = withKept;
    bool writeFailed = false;
    bool readFailed = false;
    const auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);

    // Every input is copied to its end: once one runs out, the rest of the
    // others still follows. Ties go to the video, so the first packet is a
    // video packet.
    while (videoLeft || audioLeft || keptLeft) {
        if (job.Cancelled()) {
            // Nothing more is written; the caller deletes the files.
            contexts = RemuxContexts{};
            return RemuxOutcome{RemuxStatus::Cancelled, outputCreated};
        }
        bool fromVideo = videoLeft;
        if (videoLeft && audioLeft) {
            fromVideo =
                av_compare_ts(lastVideoPts, videoIn->time_base, lastAudioPts, audioTimeBase) <= 0;
        }
        const bool keptBehind =
            keptLeft &&
            (!(videoLeft || audioLeft) ||
             (fromVideo
                  ? av_compare_ts(lastKeptTime, keptTimeBase, lastVideoPts, videoIn->time_base) < 0
                  : av_compare_ts(lastKeptTime, keptTimeBase, lastAudioPts, audioTimeBase) < 0));
        if (keptBehind) {
            const int read = ReadKeptPacket(contexts.others.get(), keptOut, packet.get());
            if (read == AVERROR_EOF) {
                keptLeft = false;
                continue;
            }
            if (read < 0) {
                job.Diagnostic("Error reading packet\n");
                readFailed = true;
                break;
            }
            const AVRational inBase = contexts.others->streams[packet->stream_index]->time_base;
            AVStream* keptStream =
                out->streams[keptOut[static_cast<std::size_t>(packet->stream_index)]];
            const int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            if (time != AV_NOPTS_VALUE) {
                lastKeptTime = time;
                keptTimeBase = inBase;
            }
            packet->pts = av_rescale_q_rnd(packet->pts, inBase, keptStream->time_base, rounding);
            packet->dts = av_rescale_q_rnd(packet->dts, inBase, keptStream->time_base, rounding);
            packet->duration = av_rescale_q(packet->duration, inBase, keptStream->time_base);
            packet->pos = -1;
            packet->stream_index = keptStream->index;
            if (av_interleaved_write_frame(out, packet.get()) < 0) {
                job.Diagnostic("Error muxing packet\n");
                writeFailed = true;
                break;
            }
            continue;
        }
        const AVRational inTimeBase = fromVideo ? videoIn->time_base : audioTimeBase;
        AVStream* outStream = fromVideo ? videoOut : audioOut;

        const int read = fromVideo ? ReadStreamPacket(movie, videoIndex, packet.get())
                                   : audio.Next(packet.get());
        if (read == 0 && fromVideo) ++videoPackets;
        const bool cutShort = read == AVERROR_EOF && fromVideo && videoPackets < videoIndexed;
        if (read == AudioSource::kEncodeFailed) {
            writeFailed = true;
            break;
        }
        if ((read < 0 && read != AVERROR_EOF) || cutShort) {
            // Media lost from an input must not pass for a complete copy.
            job.Diagnostic("Error reading packet\n");
            readFailed = true;
            break;
        }
        if (read < 0 || packet->pts == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            (fromVideo ? videoLeft : audioLeft) = false;
            continue;
        }
        (fromVideo ? lastVideoPts : lastAudioPts) = packet->pts;

        packet->pts = av_rescale_q_rnd(packet->pts, inTimeBase, outStream->time_base, rounding);
        packet->dts = av_rescale_q_rnd(packet->dts, inTimeBase, outStream->time_base, rounding);
        packet->duration = av_rescale_q(packet->duration, inTimeBase, outStream->time_base);
        packet->pos = -1;
        packet->stream_index = outStream->index;

        ret = av_interleaved_write_frame(out, packet.get());
        if (ret < 0) {
            job.Diagnostic("Error muxing packet\n");
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
    contexts.others.reset();
    int closed = 0;
    if ((out->flags & AVFMT_FLAG_CUSTOM_IO) != 0) {
        closed = CloseDescriptorOutput(&out->pb);
    } else if ((outputFormat->flags & AVFMT_NOFILE) == 0) {
        closed = avio_closep(&out->pb);
    }
    contexts.output.reset();

    if (writeFailed || readFailed) return RemuxOutcome{RemuxStatus::Failed, outputCreated};
    if (trailer < 0 || closed < 0) {
        // Without its trailer the output is no usable movie.
        job.Diagnostic("Error occurred.\n");
        return RemuxOutcome{RemuxStatus::Failed, outputCreated};
    }
    return RemuxOutcome{RemuxStatus::Completed, outputCreated};
}

}  // namespace spatialmux::output
