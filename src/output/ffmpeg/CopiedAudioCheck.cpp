// The copied audio of a finished output against the input's.
#include "output/ffmpeg/CopiedAudioCheck.h"

#include <algorithm>
#include <fstream>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "ffmpeg/ChannelLayouts.h"

namespace spatialmux::output {

namespace {

// The largest audio packet whose bytes are compared (a packet of encoded
// audio is a few kilobytes).
constexpr int kMaxComparedPacket = 1 << 20;

std::vector<AVIndexEntry> IndexOf(const AVStream* stream) {
    std::vector<AVIndexEntry> index;
    auto* mutableStream = const_cast<AVStream*>(stream);
    const int count = avformat_index_get_entries_count(mutableStream);
    for (int k = 0; k < count; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(mutableStream, k);
        if (entry == nullptr) break;
        index.push_back(*entry);
    }
    return index;
}

uint64_t TotalBytes(const std::vector<AVIndexEntry>& index) {
    uint64_t total = 0;
    for (const AVIndexEntry& entry : index) total += static_cast<uint64_t>(std::max(entry.size, 0));
    return total;
}

// The bytes [pos, pos + size) of `file`; empty when they cannot be read.
std::vector<char> ReadAt(std::ifstream& file, int64_t pos, int size) {
    if (pos < 0 || size <= 0 || size > kMaxComparedPacket) return {};
    std::vector<char> bytes(static_cast<std::size_t>(size));
    file.clear();
    if (!file.seekg(static_cast<std::streamoff>(pos)) || !file.read(bytes.data(), size)) return {};
    return bytes;
}

// The presented length of `stream` in sampling instants; -1 when unknown.
int64_t Instants(const AVStream* stream) {
    const int rate = stream->codecpar->sample_rate;
    if (rate <= 0 || stream->duration == AV_NOPTS_VALUE) return -1;
    return av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
}

// Whether the audio bytes the two indexes place, read one after the other,
// are the same (PCM that a muxer may have cut into other packets). False
// when a packet cannot be read.
bool SameAudioBytes(std::ifstream& inFile, const std::vector<AVIndexEntry>& inIndex,
                    std::ifstream& outFile, const std::vector<AVIndexEntry>& outIndex) {
    constexpr int64_t kPiece = 1 << 16;
    std::size_t i = 0, o = 0;
    int64_t inAt = 0, outAt = 0;  // bytes taken of packet i and packet o
    while (i < inIndex.size() && o < outIndex.size()) {
        const AVIndexEntry& x = inIndex[i];
        const AVIndexEntry& y = outIndex[o];
        const int64_t length = std::min({kPiece, int64_t{x.size} - inAt, int64_t{y.size} - outAt});
        if (length > 0) {
            const std::vector<char> a = ReadAt(inFile, x.pos + inAt, static_cast<int>(length));
            if (a.empty() || a != ReadAt(outFile, y.pos + outAt, static_cast<int>(length))) {
                return false;
            }
            inAt += length;
            outAt += length;
        }
        if (inAt >= x.size) ++i, inAt = 0;
        if (outAt >= y.size) ++o, outAt = 0;
    }
    return true;
}

}  // namespace

std::string CheckCopiedAudio(const AVStream* in, const AVStream* out, const std::string& outputPath,
                             const OutputExpectations& expected) {
    if (in == nullptr) return "the input's audio stream cannot be found to compare";
    const AVCodecParameters* a = in->codecpar;
    const AVCodecParameters* b = out->codecpar;
    if (a->codec_id != b->codec_id) {
        return std::string("the output's audio is ") + avcodec_get_name(b->codec_id) +
               ", the input's " + avcodec_get_name(a->codec_id);
    }
    if (b->ch_layout.nb_channels != 4) {
        return "the output's audio has " + std::to_string(b->ch_layout.nb_channels) +
               " channels, not 4";
    }
    if (a->sample_rate != b->sample_rate) return "the output's audio has another sample rate";
    // AAC has no ambisonic channel configuration (SA3D, checked with the
    // moov, tells players); PCM says it by its chan box, Opus by its channel
    // mapping family 2.
    const std::string layout = ffmpeg::LayoutName(b->ch_layout);
    if (expected.codec != AudioCodec::Aac && layout != "ambisonic 1") {
        return "the output's audio layout is \"" + layout + "\", not \"ambisonic 1\"";
    }

    const std::vector<AVIndexEntry> inIndex = IndexOf(in);
    const std::vector<AVIndexEntry> outIndex = IndexOf(out);
    if (outIndex.empty()) return "the output's audio has no packets";
    const bool samePackets = expected.editWrites || expected.codec != AudioCodec::Pcm;
    if (samePackets && inIndex.size() != outIndex.size()) {
        return "the output has " + std::to_string(outIndex.size()) + " audio packets, the input " +
               std::to_string(inIndex.size());
    }
    if (TotalBytes(inIndex) != TotalBytes(outIndex)) {
        return "the output's audio packets hold " + std::to_string(TotalBytes(outIndex)) +
               " bytes, the input's " + std::to_string(TotalBytes(inIndex));
    }
    if (expected.codec == AudioCodec::Pcm) {
        // One sample per sampling instant; the muxer may cut the PCM into
        // other packets than the input's, never into other instants.
        if (out->nb_frames <= 0 || out->nb_frames != in->nb_frames) {
            return "the output's audio holds " + std::to_string(out->nb_frames) +
                   " sampling instants, the input " + std::to_string(in->nb_frames);
        }
    } else {
        const int64_t frame = b->frame_size > 0 ? b->frame_size : 1024;
        const int64_t inLength = Instants(in);
        const int64_t outLength = Instants(out);
        if (outLength < 0 || inLength < 0 ||
            std::max(inLength, outLength) - std::min(inLength, outLength) > frame) {
            return "the output's audio lasts " + std::to_string(outLength) +
                   " sampling instants, the input's " + std::to_string(inLength);
        }
    }

    std::ifstream inFile(expected.inputPath, std::ios::binary);
    std::ifstream outFile(outputPath, std::ios::binary);
    if (!samePackets && !SameAudioBytes(inFile, inIndex, outFile, outIndex)) {
        return "the output's audio does not hold the input's samples";
    }
    std::vector<ByteRange> placed;
    for (std::size_t k = 0; samePackets && k < inIndex.size(); ++k) {
        const AVIndexEntry& x = inIndex[k];
        const AVIndexEntry& y = outIndex[k];
        const std::string packet = "audio packet " + std::to_string(k + 1);
        if (x.size != y.size) {
            return packet + " holds " + std::to_string(y.size) + " bytes, the input's " +
                   std::to_string(x.size);
        }
        if (av_rescale_q(y.timestamp, out->time_base, in->time_base) != x.timestamp) {
            return packet + " is decoded at another time than the input's";
        }
        if (expected.editWrites) {
            // The copy holds the input's bytes wherever the edit wrote none.
            if (x.pos != y.pos || y.pos < 0) {
                return packet + " lies at byte " + std::to_string(y.pos) + ", the input's at " +
                       std::to_string(x.pos);
            }
            placed.push_back({static_cast<uint64_t>(y.pos), static_cast<uint64_t>(y.size)});
            continue;
        }
        // Encoded packets are small: their bytes are compared.
        const std::vector<char> inBytes = ReadAt(inFile, x.pos, x.size);
        if (inBytes.empty() || inBytes != ReadAt(outFile, y.pos, y.size)) {
            return packet + " does not hold the input's bytes";
        }
    }
    if (expected.editWrites) {
        if (const auto shared =
                FirstSharedByte(CoveredBytes(std::move(placed)), *expected.editWrites)) {
            return "an audio packet of the output lies in bytes the edit wrote (byte " +
                   std::to_string(*shared) + ")";
        }
    }
    return "";
}

}  // namespace spatialmux::output
