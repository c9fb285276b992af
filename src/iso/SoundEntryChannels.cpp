// The channel count of a sound sample entry, from the entry itself.
#include "iso/SoundEntryChannels.h"

#include <bit>
#include <cstring>
#include <span>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxWalk.h"

namespace spatialmux {

namespace {

// Offsets in a sound sample entry, its header included.
constexpr std::size_t kEntryVersionAt = 16;
constexpr std::size_t kEntryChannelCountAt = 24;
constexpr std::size_t kEntryVersion2ChannelsAt = 48;  // numAudioChannels, 32 bits

// An MPEG-4 descriptor's tag and the span of its body, from `at` within
// [at, end); nothing when its size field or its body does not fit.
struct Descriptor {
    uint8_t tag = 0;
    std::size_t body = 0;
    std::size_t end = 0;
};

std::optional<Descriptor> ReadDescriptor(std::span<const uint8_t> bytes, std::size_t at,
                                         std::size_t end) {
    if (at >= end) return std::nullopt;
    Descriptor d;
    d.tag = bytes[at++];
    uint32_t size = 0;
    // The size in up to four bytes of seven bits, the top bit saying more follow.
    for (int k = 0; k < 4; ++k) {
        if (at >= end) return std::nullopt;
        const uint8_t byte = bytes[at++];
        size = (size << 7) | (byte & 0x7f);
        if ((byte & 0x80) == 0) break;
        if (k == 3) return std::nullopt;
    }
    if (size > end - at) return std::nullopt;
    d.body = at;
    d.end = at + size;
    return d;
}

// The first descriptor tagged `tag` among those in [at, end).
std::optional<Descriptor> FindDescriptor(std::span<const uint8_t> bytes, std::size_t at,
                                         std::size_t end, uint8_t tag) {
    while (const auto d = ReadDescriptor(bytes, at, end)) {
        if (d->tag == tag) return d;
        at = d->end;
    }
    return std::nullopt;
}

// Bits from the front of a byte span, most significant first.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    std::optional<uint32_t> Read(int bits) {
        uint32_t value = 0;
        for (int k = 0; k < bits; ++k) {
            if (at_ / 8 >= bytes_.size()) return std::nullopt;
            value = (value << 1) | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
            ++at_;
        }
        return value;
    }

private:
    std::span<const uint8_t> bytes_;
    std::size_t at_ = 0;
};

// The channels an AudioSpecificConfig's channel configuration names; 0 for
// a program config element (0) and the values no standard names.
uint32_t AacChannels(std::span<const uint8_t> config) {
    BitReader bits(config);
    const auto type = bits.Read(5);
    if (!type) return 0;
    if (*type == 31 && !bits.Read(6)) return 0;
    const auto frequency = bits.Read(4);
    if (!frequency) return 0;
    if (*frequency == 15 && !bits.Read(24)) return 0;
    const auto configuration = bits.Read(4);
    if (!configuration) return 0;
    static constexpr uint32_t kChannels[16] = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 7, 8, 24, 8, 0};
    return kChannels[*configuration];
}

// esds: version and flags, then the ES descriptor (3) holding the decoder
// configuration (4) holding the decoder's own (5), the AudioSpecificConfig.
uint32_t EsdsChannels(std::span<const uint8_t> bytes, const BoxSpan& esds) {
    const std::size_t end = esds.End();
    const auto es = FindDescriptor(bytes, esds.PayloadOffset() + 4, end, 3);
    if (!es) return 0;
    // ES_ID, then flags saying which optional fields follow.
    std::size_t at = es->body + 2;
    if (at >= es->end) return 0;
    const uint8_t flags = bytes[at++];
    if (flags & 0x80) at += 2;  // depends on another stream
    if (flags & 0x40) {         // a URL, its length first
        if (at >= es->end) return 0;
        at += 1 + bytes[at];
    }
    if (flags & 0x20) at += 2;  // OCR stream
    if (at > es->end) return 0;
    const auto config = FindDescriptor(bytes, at, es->end, 4);
    // The decoder configuration's fixed fields: 13 bytes.
    if (!config || config->end - config->body < 13) return 0;
    const auto specific = FindDescriptor(bytes, config->body + 13, config->end, 5);
    if (!specific) return 0;
    return AacChannels(bytes.subspan(specific->body, specific->end - specific->body));
}

// dOps: version, output channel count, pre-skip, rate, gain, the channel
// mapping family and, for a family other than 0, the stream counts and one
// mapping byte per channel.
SoundEntryChannels DopsChannels(std::span<const uint8_t> bytes, const BoxSpan& dops) {
    SoundEntryChannels result;
    result.from = "the Opus header";
    const std::size_t at = dops.PayloadOffset();
    if (dops.End() - at < 11) {
        result.problem = "the Opus header is cut short";
        return result;
    }
    result.channels = bytes[at + 1];
    const uint8_t family = bytes[at + 10];
    if (result.channels == 0) {
        result.problem = "the Opus header says 0 channels";
    } else if (family == 0) {
        if (result.channels > 2) {
            result.problem = "the Opus header says " + std::to_string(result.channels) +
                             " channels with channel mapping family 0, which holds at most 2";
        }
    } else if (dops.End() - at < 13u + result.channels) {
        result.problem = "the Opus header's channel mapping is cut short: it says " +
                         std::to_string(result.channels) + " channels";
    } else {
        const uint32_t streams = bytes[at + 11];
        const uint32_t coupled = bytes[at + 12];
        if (streams == 0 || coupled > streams || streams + coupled > 255) {
            result.problem = "the Opus header's stream counts are impossible";
        }
        for (uint32_t k = 0; k < result.channels && result.problem.empty(); ++k) {
            const uint8_t mapped = bytes[at + 13 + k];
            if (mapped != 255 && mapped >= streams + coupled) {
                result.problem = "the Opus header maps channel " + std::to_string(k) +
                                 " to a stream it does not have";
            }
        }
    }
    return result;
}

}  // namespace

SoundEntryChannels ReadSoundEntryChannels(const uint8_t* entry, std::size_t size) {
    SoundEntryChannels result;
    if (entry == nullptr || size < kEntryChannelCountAt + 2) return result;
    const std::span<const uint8_t> bytes(entry, size);
    const uint16_t version = ReadBE16(entry + kEntryVersionAt);
    const uint32_t fields = SoundEntryFieldBytes(version);
    if (fields == 0 || 8u + fields > size) return result;
    result.from = "the sample entry";
    result.channels = version == 2 ? ReadBE32(entry + kEntryVersion2ChannelsAt)
                                   : ReadBE16(entry + kEntryChannelCountAt);

    // AAC and Opus say their channels in a box of their own; the entry's
    // count is a placeholder there (an MP4 writer puts 2).
    const std::string format(reinterpret_cast<const char*>(entry + 4), 4);
    if (format != "mp4a" && format != "Opus") return result;
    auto children = ChildBoxes(bytes, 8 + fields, size, nullptr, SizeForms::Plain32);
    if (format == "mp4a") {
        // QuickTime keeps esds inside a wave box.
        if (const auto wave =
                FindChildBox(bytes, 8 + fields, size, "wave", 0, SizeForms::Plain32)) {
            children =
                ChildBoxes(bytes, wave->PayloadOffset(), wave->End(), nullptr, SizeForms::Plain32);
        }
        for (const BoxSpan& child : children) {
            if (!child.Is("esds")) continue;
            result.from = "AAC's decoder configuration";
            result.channels = EsdsChannels(bytes, child);
            return result;
        }
    } else {
        for (const BoxSpan& child : children) {
            if (child.Is("dOps")) return DopsChannels(bytes, child);
        }
    }
    result.channels = 0;
    return result;
}

std::optional<uint32_t> ChannelLayoutCount(uint32_t tag, uint32_t bitmap,
                                           std::size_t descriptions) {
    uint32_t count = 0;
    if (tag == kLayoutTagUseDescriptions) {
        count = static_cast<uint32_t>(descriptions);
    } else if (tag == kLayoutTagUseBitmap) {
        count = static_cast<uint32_t>(std::popcount(bitmap));
    } else {
        count = tag & 0xffffu;
    }
    if (count == 0) return std::nullopt;
    return count;
}

}  // namespace spatialmux
