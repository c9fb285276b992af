// Checking a finished output against its input, from indexes and headers.
#include "output/OutputVerification.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "audio/ByteOrder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "ffmpeg/ChannelLayouts.h"
#include "ffmpeg/Inputs.h"
#include "iso/BoxWalk.h"
#include "iso/SoundEntryChannels.h"
#include "output/MoovLayout.h"
#include "output/TrackTables.h"
#include "output/ffmpeg/CopiedAudioCheck.h"

namespace spatialmux::output {

namespace {

// A moov larger than this is not ours.
constexpr uint64_t kMaxMoovBytes = 256u * 1024u * 1024u;

struct IndexTotals {
    int64_t packets = 0;
    uint64_t bytes = 0;
};

// One video packet as the index holds it.
struct IndexEntry {
    int64_t pos = 0;
    int64_t timestamp = 0;  // decode time, in the stream's time base
    int size = 0;
};

using ffmpeg::FirstStream;
using ffmpeg::InputContext;
using ffmpeg::LayoutName;

InputContext OpenHeaders(const std::string& path) {
    InputContext context;
    ffmpeg::OpenInput(path, &context);
    return context;
}

std::vector<IndexEntry> IndexOf(AVStream* stream) {
    std::vector<IndexEntry> index;
    const int count = avformat_index_get_entries_count(stream);
    for (int k = 0; k < count; ++k) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, k);
        if (entry == nullptr) break;
        index.push_back({entry->pos, entry->timestamp, entry->size});
    }
    return index;
}

IndexTotals Totals(const std::vector<IndexEntry>& index) {
    IndexTotals totals;
    for (const IndexEntry& entry : index) {
        ++totals.packets;
        totals.bytes += static_cast<uint64_t>(entry.size);
    }
    return totals;
}

// The output's first moov, read whole: its top-level boxes are stepped over
// by their headers on the box floor's walk (mdat is never read).
std::optional<std::vector<uint8_t>> ReadMoov(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const auto length = static_cast<uint64_t>(std::max<std::streamoff>(file.tellg(), 0));
    for (const BoxSpan& box : TopLevelBoxes(file, length)) {
        if (!box.Is("moov")) continue;
        if (box.size > kMaxMoovBytes) return std::nullopt;
        std::vector<uint8_t> moov(box.size);
        file.clear();
        if (!file.seekg(static_cast<std::streamoff>(box.offset)) ||
            !file.read(reinterpret_cast<char*>(moov.data()),
                       static_cast<std::streamsize>(box.size))) {
            return std::nullopt;
        }
        return moov;
    }
    return std::nullopt;
}

// The transplanted boxes: the spherical uuid among the video trak's
// children, SA3D among the audio sample entry's children. Empty when found.
// The output's audio as its own sample entry says it (the PCM count, AAC's
// decoder configuration, the Opus header), against the four channels of
// first-order ambisonics and against what its SA3D and chan boxes say: a
// decoder reads the track's count whatever a box declares, and libavformat
// takes SA3D's count in its place. Empty when they agree.
std::string CheckTrackChannels(const uint8_t* entry, uint32_t entrySize, const uint8_t* sa3d,
                               uint32_t room) {
    const SoundEntryChannels own = ReadSoundEntryChannels(entry, entrySize);
    if (!own.problem.empty()) return "the output's audio: " + own.problem;
    if (own.channels != 4) {
        return "the output's audio track has " + std::to_string(own.channels) + " channels (" +
               own.from + "), not 4";
    }
    // SA3D: header, version, type, order, ordering, normalization, count.
    const uint32_t sa3dSize = ReadBE32(sa3d);
    if (sa3dSize < 20 || sa3dSize > room) return "the output's SA3D box is cut short";
    if (const uint32_t said = ReadBE32(sa3d + 16); said != own.channels) {
        return "the output's SA3D box says " + std::to_string(said) + " channels, its track has " +
               std::to_string(own.channels);
    }
    return "";
}

std::string CheckTransplantedBoxes(const std::string& path, bool wantUuid) {
    const auto moov = ReadMoov(path);
    if (!moov) return "the output's moov cannot be read";
    MoovLayout layout;
    if (!FindMoovLayout(moov->data(), moov->size(), &layout)) {
        return "the output's moov lacks its tracks";
    }
    const uint8_t* bytes = moov->data();
    if (wantUuid) {
        const uint32_t trakEnd = layout.video.trak + ReadBE32(bytes + layout.video.trak);
        bool found = false;
        uint32_t uuid = 0;
        for (int skip = 0;
             !found && FindChild(bytes, layout.video.trak + 8, trakEnd, "uuid", skip, &uuid);
             ++skip) {
            found = ReadBE32(bytes + uuid) >= 24 &&
                    std::memcmp(bytes + uuid + 8, kSphericalUuid, sizeof kSphericalUuid) == 0;
        }
        if (!found) return "the video track has no spherical uuid box";
    }
    // The sound description's fields in front of its children: version 0,
    // 1 or 2 of the QuickTime sound sample entry.
    const uint32_t entry = layout.audio.entry;
    const uint32_t entryEnd = entry + layout.audio.entrySize;
    if (layout.audio.entrySize < 18) return "the audio sample entry is too short";
    const uint32_t version = (static_cast<uint32_t>(bytes[entry + 16]) << 8) | bytes[entry + 17];
    const uint32_t fields[] = {36, 52, 72};
    uint32_t sa3d = 0;
    if (version > 2 || !FindChild(bytes, entry + fields[version], entryEnd, "SA3D", 0, &sa3d)) {
        return "the audio sample entry has no SA3D box";
    }
    return CheckTrackChannels(bytes + entry, layout.audio.entrySize, bytes + sa3d, entryEnd - sa3d);
}

// The video track of the movie at `path` as its own tables describe it: a
// whole track, or for an input (`whole` false) one whose sample tables are
// whole, as the index is held to them packet for packet.
std::optional<TrackTables> VideoTables(const std::string& path, bool whole, int trackId,
                                       std::string* why) {
    const auto moov = ReadMoov(path);
    if (!moov) {
        *why = "its moov cannot be read";
        return std::nullopt;
    }
    const auto trak = VideoTrakOfTrack(*moov, trackId);
    if (!trak) {
        *why = "it has no video track";
        return std::nullopt;
    }
    return whole ? ReadTrackTables(*moov, *trak, why) : ReadSampleTables(*moov, *trak, why);
}

// A sample where its track's tables place it, with its composition offset
// (the time from its decoding to its showing).
struct PlacedSample {
    uint64_t offset = 0;
    uint32_t size = 0;
    int64_t delay = 0;
};

// Each sample's composition offset by its byte offset, all shifted alike so
// that none is negative: what a demuxer adds to a packet's decode time to
// show it.
std::vector<PlacedSample> ShowingDelays(const TrackTables& tables) {
    int64_t least = 0;
    for (const TrackSample& sample : tables.samples) {
        least = std::min<int64_t>(least, sample.compositionOffset);
    }
    std::vector<PlacedSample> delays;
    delays.reserve(tables.samples.size());
    for (const TrackSample& sample : tables.samples) {
        delays.push_back({sample.offset, sample.size, int64_t{sample.compositionOffset} - least});
    }
    std::sort(delays.begin(), delays.end(),
              [](const PlacedSample& a, const PlacedSample& b) { return a.offset < b.offset; });
    return delays;
}

// The showing delay of the sample the tables place exactly where the index
// places `packet` (the same offset and size); nothing when the two readings
// disagree about it.
std::optional<int64_t> DelayAt(const std::vector<PlacedSample>& delays, const IndexEntry& packet) {
    if (packet.pos < 0) return std::nullopt;
    const auto pos = static_cast<uint64_t>(packet.pos);
    const auto at = std::lower_bound(
        delays.begin(), delays.end(), pos,
        [](const PlacedSample& sample, uint64_t value) { return sample.offset < value; });
    if (at == delays.end() || at->offset != pos || packet.size < 0 ||
        at->size != static_cast<uint32_t>(packet.size)) {
        return std::nullopt;
    }
    return at->delay;
}

// The video packets of the output against the input's, one by one: the same
// size, decoded at the same time and shown as long after it (from each
// file's own tables, which must place every packet where its index does),
// and for an edited output at the same place, outside every byte the edit
// wrote as its tables and its index place them. Empty when they match; a
// comparison that cannot be made is a mismatch, never a match.
std::string CheckVideoPackets(const AVStream* in, const std::vector<IndexEntry>& inIndex,
                              const AVStream* out, const std::vector<IndexEntry>& outIndex,
                              const OutputExpectations& expected, const std::string& outputPath) {
    for (std::size_t k = 0; k < inIndex.size(); ++k) {
        const IndexEntry& a = inIndex[k];
        const IndexEntry& b = outIndex[k];
        const std::string packet = "video packet " + std::to_string(k + 1);
        if (a.size != b.size) {
            return packet + " holds " + std::to_string(b.size) + " bytes, the input's " +
                   std::to_string(a.size);
        }
        if (av_rescale_q(b.timestamp, out->time_base, in->time_base) != a.timestamp) {
            return packet + " is decoded at another time than the input's";
        }
        if (expected.editWrites && a.pos != b.pos) {
            return packet + " lies at byte " + std::to_string(b.pos) + ", the input's at " +
                   std::to_string(a.pos);
        }
    }

    std::string why;
    const auto outTables = VideoTables(outputPath, true, 0, &why);
    if (!outTables) return "the output's video track cannot be read: " + why;
    if (expected.editWrites) {
        // Where the output's own tables place its samples, and where
        // players (its index) do.
        std::vector<ByteRange> samples;
        for (const TrackSample& sample : outTables->samples) {
            samples.push_back({sample.offset, sample.size});
        }
        for (const IndexEntry& entry : outIndex) {
            if (entry.pos < 0 || entry.size <= 0) {
                return "the output's video index has a packet without a place";
            }
            samples.push_back(
                {static_cast<uint64_t>(entry.pos), static_cast<uint64_t>(entry.size)});
        }
        if (const auto shared =
                FirstSharedByte(CoveredBytes(std::move(samples)), *expected.editWrites)) {
            return "a video sample of the output lies in bytes the edit wrote (byte " +
                   std::to_string(*shared) + ")";
        }
    }
    // The showing times come from each file's own tables, read where its
    // index places each packet: a check that cannot be made is a failure.
    const auto inTables =
        VideoTables(expected.inputPath, false, expected.tracks.videoTrackId, &why);
    if (!inTables) return "the input's video track cannot be read to compare: " + why;
    const auto inDelays = ShowingDelays(*inTables);
    const auto outDelays = ShowingDelays(*outTables);
    const AVRational inUnit{1,
                            static_cast<int>(std::min<uint32_t>(inTables->timescale, INT32_MAX))};
    const AVRational outUnit{1,
                             static_cast<int>(std::min<uint32_t>(outTables->timescale, INT32_MAX))};
    for (std::size_t k = 0; k < inIndex.size(); ++k) {
        const auto a = DelayAt(inDelays, inIndex[k]);
        const auto b = DelayAt(outDelays, outIndex[k]);
        if (!a) {
            return "the input's video index and tables disagree (video packet " +
                   std::to_string(k + 1) + ")";
        }
        if (!b) {
            return "the output's video index and tables disagree (video packet " +
                   std::to_string(k + 1) + ")";
        }
        if (av_rescale_q(*b, outUnit, inUnit) != *a) {
            return "video packet " + std::to_string(k + 1) +
                   " is shown at another time than the input's";
        }
    }
    return "";
}

// The audio stream against what was written: its codec, four channels, the
// layout its decoder reports, and its length. Empty when it matches.
std::string CheckAudio(const AVStream* stream, const OutputExpectations& expected) {
    const AVCodecParameters* audio = stream->codecpar;
    const AVCodecID wantedCodec = expected.codec == AudioCodec::Aac    ? AV_CODEC_ID_AAC
                                  : expected.codec == AudioCodec::Opus ? AV_CODEC_ID_OPUS
                                                                       : AV_CODEC_ID_PCM_S16LE;
    if (audio->codec_id != wantedCodec) {
        return std::string("the output's audio is ") + avcodec_get_name(audio->codec_id) +
               ", not " + avcodec_get_name(wantedCodec);
    }
    if (audio->ch_layout.nb_channels != 4) {
        return "the output's audio has " + std::to_string(audio->ch_layout.nb_channels) +
               " channels, not 4";
    }
    // AAC has no ambisonic channel configuration: its four channels read as
    // "4.0" (or, through SA3D, as ambisonic), and the SA3D box checked with
    // the moov is what tells players. PCM and Opus must say ambisonic.
    const std::string layout = LayoutName(audio->ch_layout);
    if (expected.codec != AudioCodec::Aac && layout != "ambisonic 1") {
        return "the output's audio layout is \"" + layout + "\", not \"ambisonic 1\"";
    }
    if (expected.codec == AudioCodec::Pcm) {
        // The PCM track's sample count: one sample per sampling instant.
        if (stream->nb_frames != expected.audioInstants) {
            return "the output's audio holds " + std::to_string(stream->nb_frames) +
                   " sampling instants, the input " + std::to_string(expected.audioInstants);
        }
        return "";
    }
    // Encoded audio: its presented length (the edit list leaves out the
    // encoder's priming) within one codec frame of the input's.
    const int sampleRate = audio->sample_rate;
    if (sampleRate <= 0 || stream->duration == AV_NOPTS_VALUE) {
        return "the output's audio has no length";
    }
    const int64_t instants =
        av_rescale_q(stream->duration, stream->time_base, AVRational{1, sampleRate});
    const int64_t frame = audio->frame_size > 0 ? audio->frame_size : 1024;
    const int64_t difference = instants > expected.audioInstants
                                   ? instants - expected.audioInstants
                                   : expected.audioInstants - instants;
    if (difference > frame) {
        return "the output's audio lasts " + std::to_string(instants) +
               " sampling instants, the input's " + std::to_string(expected.audioInstants);
    }
    return "";
}

// A cover picture is metadata (an MP4's covr tag), not a track.
bool IsTrack(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

// The output's streams behind its video and audio against the input's kept
// tracks, one for one: the same codec, and every packet of the same size
// decoded at the same time. Empty when they match.
std::string CheckKeptTracks(const AVFormatContext* input, const AVFormatContext* output,
                            const std::vector<int>& kept) {
    std::vector<const AVStream*> outTracks;
    for (unsigned k = 0; k < output->nb_streams; ++k) {
        if (IsTrack(output->streams[k])) outTracks.push_back(output->streams[k]);
    }
    if (outTracks.size() != 2 + kept.size()) {
        return "the output has " + std::to_string(outTracks.size()) + " tracks, not " +
               std::to_string(2 + kept.size()) + " (the video, the audio and " +
               std::to_string(kept.size()) + " kept as they are)";
    }
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::string name = "the input's track " + std::to_string(kept[k]);
        AVStream* in = nullptr;
        for (unsigned s = 0; s < input->nb_streams && in == nullptr; ++s) {
            if (input->streams[s]->id == kept[k]) in = input->streams[s];
        }
        AVStream* out = output->streams[outTracks[2 + k]->index];
        if (in == nullptr) return name + " is not there to compare";
        if (in->codecpar->codec_id != out->codecpar->codec_id) {
            return name + " is " + avcodec_get_name(out->codecpar->codec_id) +
                   " in the output, not " + avcodec_get_name(in->codecpar->codec_id);
        }
        const std::vector<IndexEntry> a = IndexOf(in);
        const std::vector<IndexEntry> b = IndexOf(out);
        if (a.size() != b.size()) {
            return name + " has " + std::to_string(b.size()) + " packets in the output, " +
                   std::to_string(a.size()) + " in the input";
        }
        for (std::size_t p = 0; p < a.size(); ++p) {
            if (a[p].size != b[p].size ||
                av_rescale_q(b[p].timestamp, out->time_base, in->time_base) != a[p].timestamp) {
                return name + ": packet " + std::to_string(p + 1) + " differs in the output";
            }
        }
    }
    return "";
}

OutputVerdict Fail(std::string reason) {
    return OutputVerdict{false, std::move(reason)};
}

}  // namespace

std::optional<std::string> InputIndexDisagreement(const std::string& inputPath) {
    const InputContext input = OpenHeaders(inputPath);
    AVStream* video = input ? FirstStream(input.get(), AVMEDIA_TYPE_VIDEO) : nullptr;
    // What cannot be opened is refused, with its cause, where it is read.
    if (video == nullptr) return std::nullopt;
    std::string why;
    const auto tables = VideoTables(inputPath, false, 0, &why);
    if (!tables) return "its video track cannot be read: " + why;
    const auto delays = ShowingDelays(*tables);
    const std::vector<IndexEntry> index = IndexOf(video);
    for (std::size_t k = 0; k < index.size(); ++k) {
        if (!DelayAt(delays, index[k])) {
            return "its video index and tables disagree (video packet " + std::to_string(k + 1) +
                   "): players would read other video than its tables place";
        }
    }
    return std::nullopt;
}

OutputVerdict VerifyOutput(const std::string& outputPath, const OutputExpectations& expected) {
    const InputContext input = OpenHeaders(expected.inputPath);
    const InputContext output = OpenHeaders(outputPath);
    if (!input) return Fail("the input cannot be opened again to compare");
    if (!output) return Fail("the output cannot be opened as a movie");

    AVStream* videoIn =
        ffmpeg::StreamOfTrack(input.get(), AVMEDIA_TYPE_VIDEO, expected.tracks.videoTrackId);
    AVStream* videoOut = FirstStream(output.get(), AVMEDIA_TYPE_VIDEO);
    const AVStream* audioOut = FirstStream(output.get(), AVMEDIA_TYPE_AUDIO);
    if (videoIn == nullptr || videoOut == nullptr) return Fail("the output has no video stream");
    if (audioOut == nullptr) return Fail("the output has no audio stream");

    const std::vector<IndexEntry> inIndex = IndexOf(videoIn);
    const std::vector<IndexEntry> outIndex = IndexOf(videoOut);
    const IndexTotals in = Totals(inIndex);
    const IndexTotals out = Totals(outIndex);
    if (in.packets != out.packets) {
        return Fail("the output has " + std::to_string(out.packets) + " video packets, the input " +
                    std::to_string(in.packets));
    }
    if (in.bytes != out.bytes) {
        return Fail("the output's video packets hold " + std::to_string(out.bytes) +
                    " bytes, the input's " + std::to_string(in.bytes));
    }
    if (out.packets == 0) return Fail("the output has no video packets");
    const std::string packets =
        CheckVideoPackets(videoIn, inIndex, videoOut, outIndex, expected, outputPath);
    if (!packets.empty()) return Fail(packets);

    const std::string audioCheck =
        expected.audioCopied ? CheckCopiedAudio(FirstStream(input.get(), AVMEDIA_TYPE_AUDIO),
                                                audioOut, outputPath, expected)
                             : CheckAudio(audioOut, expected);
    if (!audioCheck.empty()) return Fail(audioCheck);

    const std::string kept =
        CheckKeptTracks(input.get(), output.get(), expected.tracks.keptTrackIds);
    if (!kept.empty()) return Fail(kept);

    const std::string boxes = CheckTransplantedBoxes(outputPath, expected.sphericalUuid);
    if (!boxes.empty()) return Fail(boxes);
    return OutputVerdict{true, ""};
}

}  // namespace spatialmux::output
