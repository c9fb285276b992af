// The probe of a movie from its boxes, as libavformat's mov demuxer reads
// them: a stream for every trak, its codec named by its first sample entry,
// the video's picture size and frame rate, the audio's channels, layout and
// rate, and each track's index from its sample tables.
#include "control/movieinfo/BoxProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <span>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxWalk.h"
#include "movie/SpatialMetadata.h"
#include "output/TrackTables.h"

namespace spatialmux {

namespace {

// libavformat's words for a file it cannot open as a movie.
constexpr const char* kCannotOpen =
    "libavformat cannot open it: Invalid data found when processing input";

using Bytes = std::vector<uint8_t>;

std::optional<BoxSpan> FindIn(const Bytes& moov, const BoxSpan& from, std::string_view path) {
    return FindBoxPath(moov, from, path);
}

// libavcodec's name of a sample entry's format.
std::string VideoCodec(const std::string& format) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"avc1", "h264"},   {"avc3", "h264"},   {"hvc1", "hevc"},   {"hev1", "hevc"},
        {"mp4v", "mpeg4"},  {"av01", "av1"},    {"vp09", "vp9"},    {"jpeg", "mjpeg"},
        {"apch", "prores"}, {"apcn", "prores"}, {"apcs", "prores"}, {"apco", "prores"},
        {"ap4h", "prores"},
    };
    for (const auto& [code, name] : kNames) {
        if (format == code) return name;
    }
    return "none";
}

// An audio sample entry's PCM: the demuxer names 'sowt' and 'twos' by their
// bits per sample, and 'lpcm' (version 2) by its flags.
std::string PcmCodec(const std::string& format, int bits, uint32_t lpcmFlags, bool lpcm) {
    if (lpcm) {
        const bool isFloat = (lpcmFlags & 1) != 0;
        const std::string order = (lpcmFlags & 2) != 0 ? "be" : "le";
        if (isFloat) return bits == 64 ? "pcm_f64" + order : "pcm_f32" + order;
        if (bits == 8) return (lpcmFlags & 4) != 0 ? "pcm_s8" : "pcm_u8";
        return "pcm_s" + std::to_string(bits == 24 || bits == 32 ? bits : 16) + order;
    }
    if (format == "sowt" || format == "twos") {
        const std::string order = format == "sowt" ? "le" : "be";
        if (bits == 8) return "pcm_s8";
        if (bits == 24 || bits == 32) return "pcm_s" + std::to_string(bits) + order;
        return "pcm_s16" + order;
    }
    static const std::pair<const char*, const char*> kNames[] = {
        {"in24", "pcm_s24be"}, {"in32", "pcm_s32be"}, {"fl32", "pcm_f32be"}, {"fl64", "pcm_f64be"},
        {"raw ", "pcm_u8"},    {"ulaw", "pcm_mulaw"}, {"alaw", "pcm_alaw"},  {"mp4a", "aac"},
        {"Opus", "opus"},      {"ac-3", "ac3"},       {"ec-3", "eac3"},      {"fLaC", "flac"},
        {"alac", "alac"},      {".mp3", "mp3"},
    };
    for (const auto& [code, name] : kNames) {
        if (format == code) return name;
    }
    return "none";
}

// The layout a chan box gives a track of `channels`, in
// av_channel_layout_describe's words; nothing for a layout it leaves
// unspecified.
std::optional<std::string> ChanLayout(int channels, const Bytes& moov, const BoxSpan& chan,
                                      bool* ambisonic) {
    if (chan.PayloadSize() < 12) return std::nullopt;
    const uint32_t tag = ReadBE32(moov.data() + chan.PayloadOffset() + 4);
    const int order = static_cast<int>(std::lround(std::sqrt(channels))) - 1;
    if ((tag >> 16) == (kLayoutTagHoaAcnSn3d >> 16) && static_cast<int>(tag & 0xFFFF) == channels &&
        (order + 1) * (order + 1) == channels) {
        *ambisonic = true;
        return "ambisonic " + std::to_string(order);
    }
    static const std::pair<uint32_t, const char*> kTags[] = {
        {0x00640001, "mono"}, {0x00650002, "stereo"}, {0x006C0004, "quad"}};
    for (const auto& [known, name] : kTags) {
        if (tag == known && static_cast<int>(known & 0xFFFF) == channels) return name;
    }
    return std::nullopt;
}

// The layout an SA3D box gives: ambisonics of its order where it is
// periphonic ACN/SN3D with the identity map (the only kind libavformat
// takes); nothing otherwise.
std::optional<std::string> Sa3dLayout(const Bytes& moov, const BoxSpan& box, int* channels,
                                      bool* ambisonic) {
    const auto sa3d = ParseSa3d(moov.data() + box.offset, static_cast<std::size_t>(box.size));
    if (!sa3d || sa3d->version != 0 || sa3d->ambisonicType != 0 || sa3d->channelOrdering != 0 ||
        sa3d->normalization != 0 || sa3d->order > 14 ||
        uint64_t{sa3d->channelCount} != uint64_t{sa3d->order + 1} * (sa3d->order + 1) ||
        !sa3d->IdentityMap()) {
        return std::nullopt;
    }
    *channels = static_cast<int>(sa3d->channelCount);
    *ambisonic = true;
    return "ambisonic " + std::to_string(sa3d->order);
}

// The layout libavformat gives the audio sample entry `entry` (its children
// from `children`), in their order: each chan or SA3D box it takes replaces
// what came before.
void ReadLayout(const Bytes& moov, uint64_t children, const BoxSpan& entry, StreamProbe& probe) {
    probe.layout = std::to_string(probe.channels) + " channels";
    probe.ambisonicLayout = false;
    if (children > entry.End()) return;
    for (const BoxSpan& child : ChildBoxes(moov, children, entry.End())) {
        bool ambisonic = false;
        std::optional<std::string> layout;
        if (child.Is("chan")) layout = ChanLayout(probe.channels, moov, child, &ambisonic);
        if (child.Is("SA3D")) layout = Sa3dLayout(moov, child, &probe.channels, &ambisonic);
        if (layout) {
            probe.layout = *layout;
            probe.ambisonicLayout = ambisonic;
        }
    }
}

// a + b, or INT64_MAX where the sum would pass it (a is never negative).
int64_t SaturatedSum(int64_t a, uint64_t b) {
    const auto room = static_cast<uint64_t>(INT64_MAX - a);
    return b > room ? INT64_MAX : a + static_cast<int64_t>(b);
}

// The media's duration as the demuxer keeps it: the media header's, no
// longer than the decoding times reach.
int64_t MediaDuration(const Bytes& moov, const BoxSpan& mdhd, const std::optional<BoxSpan>& stts,
                      uint32_t* timescale, int64_t* sttsSamples, int64_t* sttsDuration) {
    const uint8_t* p = moov.data() + mdhd.PayloadOffset();
    const bool wide = mdhd.PayloadSize() >= 32 && p[0] == 1;
    if (mdhd.PayloadSize() < (wide ? 32u : 20u)) return 0;
    *timescale = ReadBE32(p + (wide ? 20 : 12));
    int64_t duration = wide ? static_cast<int64_t>(ReadBE64(p + 24)) : ReadBE32(p + 16);
    *sttsSamples = 0;
    *sttsDuration = 0;
    if (stts && stts->PayloadSize() >= 8) {
        const uint8_t* s = moov.data() + stts->PayloadOffset();
        const uint64_t entries = std::min<uint64_t>(ReadBE32(s + 4), (stts->PayloadSize() - 8) / 8);
        for (uint64_t k = 0; k < entries; ++k) {
            const uint32_t count = ReadBE32(s + 8 + 8 * k);
            const uint32_t delta = ReadBE32(s + 12 + 8 * k);
            // Saturated: a table of any counts adds up without overflow.
            *sttsSamples = SaturatedSum(*sttsSamples, count);
            *sttsDuration = SaturatedSum(*sttsDuration, uint64_t{count} * delta);
        }
        if (*sttsDuration > 0) duration = std::min(duration, *sttsDuration);
    }
    return std::max<int64_t>(duration, 0);
}

StreamProbe ProbeTrak(const Bytes& moov, const BoxSpan& trak) {
    StreamProbe probe;
    const auto hdlr = FindIn(moov, trak, "mdia/hdlr");
    const auto mdhd = FindIn(moov, trak, "mdia/mdhd");
    const auto stsd = FindIn(moov, trak, "mdia/minf/stbl/stsd");
    const auto stts = FindIn(moov, trak, "mdia/minf/stbl/stts");
    std::string handler;
    if (hdlr && hdlr->PayloadSize() >= 12) {
        handler.assign(reinterpret_cast<const char*>(moov.data() + hdlr->PayloadOffset() + 8), 4);
    }
    probe.kind = handler == "vide"   ? StreamProbe::Kind::Video
                 : handler == "soun" ? StreamProbe::Kind::Audio
                                     : StreamProbe::Kind::Other;
    uint32_t timescale = 0;
    int64_t sttsSamples = 0;
    int64_t sttsDuration = 0;
    const int64_t duration =
        mdhd ? MediaDuration(moov, *mdhd, stts, &timescale, &sttsSamples, &sttsDuration) : 0;
    if (timescale > 0) {
        probe.durationSeconds = static_cast<double>(duration) / static_cast<double>(timescale);
    }
    probe.frames = sttsSamples;

    // The index: every sample where the tables place it.
    std::string ignored;
    if (const auto tables = output::ReadSampleTables(moov, trak.offset, &ignored)) {
        for (const output::TrackSample& sample : tables->samples) {
            ++probe.indexEntries;
            probe.indexBytes += sample.size;
            probe.indexEnd = std::max(probe.indexEnd, sample.offset + sample.size);
        }
    }

    std::optional<BoxSpan> entry;
    if (stsd && stsd->PayloadSize() > 8) {
        entry = BoxAt(moov, stsd->PayloadOffset() + 8, stsd->End());
    }
    const std::string format = entry ? std::string(entry->type, 4) : std::string();
    const uint8_t* e = entry ? moov.data() + entry->offset : nullptr;
    if (probe.kind == StreamProbe::Kind::Video) {
        probe.codec = VideoCodec(format);
        if (entry && entry->size >= 36) {
            probe.width = ReadBE16(e + 32);
            probe.height = ReadBE16(e + 34);
        }
        if (timescale > 0 && sttsSamples > 0 && sttsDuration > 0) {
            probe.framesPerSecond = static_cast<double>(timescale) *
                                    static_cast<double>(sttsSamples) /
                                    static_cast<double>(sttsDuration);
        }
        // Spherical Video V2 in the sample entry: side data for players.
        if (entry) {
            const auto proj = FindBoxPath(moov, *entry, "sv3d/proj");
            if (proj) {
                for (const BoxSpan& p : ChildBoxes(moov, proj->PayloadOffset(), proj->End())) {
                    if (p.Is("equi") || p.Is("cbmp")) probe.sphericalSideData = true;
                }
            }
        }
    } else if (probe.kind == StreamProbe::Kind::Audio) {
        int bits = 0;
        uint32_t lpcmFlags = 0;
        const uint16_t version = entry && entry->size >= 36 ? ReadBE16(e + 16) : 0;
        if (entry && version == 2 && entry->size >= 72) {
            const uint64_t rateBits = ReadBE64(e + 40);
            double rate = 0.0;
            std::memcpy(&rate, &rateBits, sizeof rate);
            probe.sampleRate =
                std::isfinite(rate) && rate > 0 && rate < 1e7 ? static_cast<int>(rate) : 0;
            probe.channels = static_cast<int>(ReadBE32(e + 48));
            bits = static_cast<int>(ReadBE32(e + 56));
            lpcmFlags = ReadBE32(e + 60);
        } else if (entry && entry->size >= 36) {
            probe.channels = ReadBE16(e + 24);
            bits = ReadBE16(e + 26);
            probe.sampleRate = static_cast<int>(ReadBE32(e + 32) >> 16);
        }
        if (probe.sampleRate == 0 && timescale > 1) probe.sampleRate = static_cast<int>(timescale);
        probe.codec = PcmCodec(format, bits, lpcmFlags, format == "lpcm" && version == 2);
        if (entry)
            ReadLayout(moov, entry->offset + 8 + SoundEntryFieldBytes(version), *entry, probe);
        // Samples at the sample rate, rounded as av_rescale_q rounds.
        probe.frames = 0;
        if (probe.sampleRate > 0 && timescale > 0 && duration > 0) {
            if (duration <= (INT64_MAX - timescale) / probe.sampleRate) {
                probe.frames = (duration * probe.sampleRate + timescale / 2) / timescale;
            } else {
                probe.frames = static_cast<int64_t>(
                    std::llround(static_cast<double>(duration) * probe.sampleRate / timescale));
            }
        }
    } else {
        probe.codec = "none";
    }
    return probe;
}

}  // namespace

std::optional<MediaProbe> ProbeMediaFromBoxes(const std::string& path, std::string* problem) {
    if (!std::ifstream(path, std::ios::binary)) {
        *problem = "libavformat cannot open it: No such file or directory";
        return std::nullopt;
    }
    std::string ignored;
    const auto read = ReadFirstMoov(path, &ignored);
    if (!read) {
        *problem = kCannotOpen;
        return std::nullopt;
    }
    const Bytes& moov = *read;
    MediaProbe probe;
    probe.format = "mov,mp4,m4a,3gp,3g2,mj2";
    const auto whole = BoxAt(moov, 0, moov.size());
    if (!whole) {
        *problem = kCannotOpen;
        return std::nullopt;
    }
    for (const BoxSpan& child : ChildBoxes(moov, whole->PayloadOffset(), whole->End())) {
        if (!child.Is("trak")) continue;
        probe.streams.push_back(ProbeTrak(moov, child));
        probe.durationSeconds =
            std::max(probe.durationSeconds, probe.streams.back().durationSeconds);
    }
    return probe;
}

}  // namespace spatialmux
