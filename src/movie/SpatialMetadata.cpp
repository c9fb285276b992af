// Reading the spherical and spatial-audio metadata of any movie's moov.
#include "movie/SpatialMetadata.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxWalk.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// A moov this large is no camera's or player's movie; it is not read.
constexpr uint64_t kMaxMoovBytes = 256u * 1024u * 1024u;
// Bytes of a visual sample entry in front of its child boxes.
constexpr uint64_t kVisualEntryFields = 8 + 78;

std::string TypeText(const char* type) {
    return std::string(type, 4);
}

// The bytes of `box` when it is a plain box whose 32-bit size field says
// its length; empty otherwise.
std::vector<uint8_t> WholeBox(const std::vector<uint8_t>& moov, const BoxSpan& box) {
    if (box.headerSize != 8 || ReadBE32(moov.data() + box.offset) != box.size) return {};
    return std::vector<uint8_t>(moov.begin() + static_cast<std::ptrdiff_t>(box.offset),
                                moov.begin() + static_cast<std::ptrdiff_t>(box.End()));
}

void ReadSampleEntry(const std::vector<uint8_t>& moov, const BoxSpan& stsd, TrackMetadata& track) {
    // stsd: version and flags, entry count, then the entries.
    const auto entries = ChildBoxes(moov, stsd.PayloadOffset() + 8, stsd.End());
    if (entries.empty()) return;
    const BoxSpan& entry = entries.front();
    track.sampleEntry = TypeText(entry.type);

    uint64_t childrenAt = 0;
    if (track.handler == "vide") {
        track.sampleEntryBox = WholeBox(moov, entry);
        childrenAt = entry.offset + kVisualEntryFields;
    } else if (track.handler == "soun") {
        if (entry.offset + 18 > entry.End()) return;
        const uint32_t fields = SoundEntryFieldBytes(ReadBE16(moov.data() + entry.offset + 16));
        track.ownChannels = ReadSoundEntryChannels(moov.data() + entry.offset, entry.size);
        if (fields == 0) return;
        childrenAt = entry.offset + 8 + fields;
    } else {
        return;
    }
    for (const BoxSpan& child : ChildBoxes(moov, childrenAt, entry.End())) {
        if (child.Is("st3d")) {
            track.st3d = true;
            // Full box: version and flags, then stereo_mode.
            if (child.size >= child.headerSize + 5) {
                track.stereoMode = moov[child.PayloadOffset() + 4];
            }
        } else if (child.Is("sv3d")) {
            track.sv3d = true;
            // Full box: version and flags, then the source's name.
            if (const auto svhd = FindChildBox(moov, child.PayloadOffset(), child.End(), "svhd");
                svhd && svhd->PayloadOffset() + 4 <= svhd->End()) {
                const auto* text =
                    reinterpret_cast<const char*>(moov.data()) + svhd->PayloadOffset() + 4;
                const std::string source(text, svhd->End() - svhd->PayloadOffset() - 4);
                track.sphericalSource = source.substr(0, source.find('\0'));
            }
            if (const auto proj = FindChildBox(moov, child.PayloadOffset(), child.End(), "proj")) {
                for (const BoxSpan& p : ChildBoxes(moov, proj->PayloadOffset(), proj->End())) {
                    if (p.Is("prhd")) continue;
                    track.projection = TypeText(p.type);
                    // Full box: version and flags, then the four bounds.
                    if (p.Is("equi") && p.PayloadOffset() + 4 + 16 <= p.End()) {
                        std::array<uint32_t, 4> bounds{};
                        for (std::size_t k = 0; k < 4; ++k) {
                            bounds[k] = ReadBE32(moov.data() + p.PayloadOffset() + 4 + 4 * k);
                        }
                        track.equiBounds = bounds;
                    }
                }
            }
            if (track.projection.empty() && track.unreadableDeclaration.empty()) {
                track.unreadableDeclaration =
                    "its sv3d box (spherical video V2) says no projection (no proj box with one)";
            }
        } else if (child.Is("SA3D")) {
            track.sa3d = ParseSa3d(moov.data() + child.offset, child.size);
            if (!track.sa3d && track.unreadableDeclaration.empty()) {
                track.unreadableDeclaration = "its SA3D box (" + std::to_string(child.size) +
                                              " bytes) is cut short: its fields or channel map "
                                              "do not fit";
            }
        } else if (child.Is("chan")) {
            track.chan = ParseChannelLayout(moov.data() + child.offset, child.size);
        } else if (child.Is("btrt") && child.size >= child.headerSize + 12) {
            // bufferSizeDB, maxBitrate, avgBitrate
            track.maxBitRate = ReadBE32(moov.data() + child.PayloadOffset() + 4);
            track.averageBitRate = ReadBE32(moov.data() + child.PayloadOffset() + 8);
        }
    }
}

void ReadSphericalUuid(const std::vector<uint8_t>& moov, const BoxSpan& uuid,
                       TrackMetadata& track) {
    const uint64_t userType = uuid.PayloadOffset();
    if (userType + 16 > uuid.End()) return;
    if (std::memcmp(moov.data() + userType, kSphericalUuid, 16) != 0) return;
    track.sphericalUuid = true;
    track.sphericalUuidBox = WholeBox(moov, uuid);
    const auto* xml = reinterpret_cast<const char*>(moov.data() + userType + 16);
    track.sphericalV1 = ParseSphericalXml(std::string(xml, uuid.End() - userType - 16));
}

TrackMetadata ReadTrack(const std::vector<uint8_t>& moov, const BoxSpan& trak) {
    TrackMetadata track;
    if (const auto hdlr = FindBoxPath(moov, trak, "mdia/hdlr")) {
        if (hdlr->PayloadOffset() + 12 <= hdlr->End()) {
            track.handler =
                TypeText(reinterpret_cast<const char*>(moov.data()) + hdlr->PayloadOffset() + 8);
        }
    }
    if (const auto tkhd = FindBoxPath(moov, trak, "tkhd")) {
        // Version and flags, the creation and modification times (32 or 64
        // bits each by the version), then the track ID.
        const uint64_t at = tkhd->PayloadOffset() + (moov[tkhd->PayloadOffset()] == 1 ? 20 : 12);
        if (at + 4 <= tkhd->End()) track.trackId = ReadBE32(moov.data() + at);
    }
    if (const auto stsd = FindBoxPath(moov, trak, "mdia/minf/stbl/stsd")) {
        ReadSampleEntry(moov, *stsd, track);
    }
    for (const BoxSpan& child : ChildBoxes(moov, trak.PayloadOffset(), trak.End())) {
        if (child.Is("uuid")) ReadSphericalUuid(moov, child, track);
    }
    return track;
}

}  // namespace

bool CarriesSpatialMetadata(const MovieMetadata& metadata) {
    for (const TrackMetadata& track : metadata.tracks) {
        if (track.sphericalUuid || track.st3d || track.sv3d || track.sa3d) return true;
    }
    return false;
}

bool WrittenBySpatialmux(const MovieMetadata& metadata) {
    if (metadata.writer.rfind("spatialmux", 0) == 0) return true;
    for (const TrackMetadata& track : metadata.tracks) {
        if (track.sphericalSource == "spatialmux") return true;
    }
    return false;
}

bool Sa3dFacts::IdentityMap() const {
    for (std::size_t k = 0; k < channelMap.size(); ++k) {
        if (channelMap[k] != k) return false;
    }
    return true;
}

std::optional<Sa3dFacts> ParseSa3d(const uint8_t* box, std::size_t size) {
    constexpr std::size_t kFixed = 8 + 12;
    if (size < kFixed || std::memcmp(box + 4, "SA3D", 4) != 0) return std::nullopt;
    Sa3dFacts facts;
    const uint8_t* p = box + 8;
    facts.version = p[0];
    facts.headLockedStereo = (p[1] & 0x80) != 0;
    facts.ambisonicType = p[1] & 0x7f;
    facts.order = ReadBE32(p + 2);
    facts.channelOrdering = p[6];
    facts.normalization = p[7];
    facts.channelCount = ReadBE32(p + 8);
    if (facts.channelCount > (size - kFixed) / 4) return std::nullopt;
    for (uint32_t k = 0; k < facts.channelCount; ++k) {
        facts.channelMap.push_back(ReadBE32(box + kFixed + 4 * k));
    }
    return facts;
}

std::optional<ChannelLayoutFacts> ParseChannelLayout(const uint8_t* box, std::size_t size) {
    if (size < kChannelLayoutBoxSize || std::memcmp(box + 4, "chan", 4) != 0) return std::nullopt;
    ChannelLayoutFacts facts;
    facts.tag = ReadBE32(box + 12);
    facts.bitmap = ReadBE32(box + 16);
    const uint32_t descriptions = ReadBE32(box + 20);
    if (descriptions > (size - kChannelLayoutBoxSize) / kChannelDescriptionSize) {
        return std::nullopt;
    }
    for (uint32_t k = 0; k < descriptions; ++k) {
        facts.labels.push_back(
            ReadBE32(box + kChannelLayoutBoxSize + std::size_t{k} * kChannelDescriptionSize));
    }
    return facts;
}

std::vector<std::pair<std::string, std::string>> ParseSphericalXml(const std::string& xml) {
    static const std::string kOpen = "<GSpherical:";
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t at = 0;
    while ((at = xml.find(kOpen, at)) != std::string::npos) {
        const std::size_t nameStart = at + kOpen.size();
        const std::size_t nameEnd = xml.find('>', nameStart);
        if (nameEnd == std::string::npos) break;
        const std::string name = xml.substr(nameStart, nameEnd - nameStart);
        const std::size_t close = xml.find("</GSpherical:" + name + ">", nameEnd);
        if (name.empty() || name.find_first_of(" /<") != std::string::npos ||
            close == std::string::npos) {
            at = nameEnd;
            continue;
        }
        fields.emplace_back(name, xml.substr(nameEnd + 1, close - nameEnd - 1));
        at = close;
    }
    return fields;
}

std::optional<std::vector<uint8_t>> ReadFirstMoov(const std::string& path, std::string* problem) {
    std::ifstream file(path, std::ios::binary);
    const std::optional<uint64_t> length = file ? StreamLength(file) : std::nullopt;
    if (!length) {
        *problem = "the file cannot be read";
        return std::nullopt;
    }
    std::optional<BoxSpan> moovBox;
    for (const BoxSpan& box : TopLevelBoxes(file, *length)) {
        if (box.Is("moov")) {
            moovBox = box;
            break;
        }
    }
    if (!moovBox) {
        *problem = "no moov box (not a movie, or cut short)";
        return std::nullopt;
    }
    if (moovBox->size > kMaxMoovBytes) {
        *problem = "the moov box is implausibly large";
        return std::nullopt;
    }
    std::vector<uint8_t> moov(moovBox->size);
    file.seekg(static_cast<std::streamoff>(moovBox->offset));
    file.read(reinterpret_cast<char*>(moov.data()), static_cast<std::streamsize>(moov.size()));
    if (static_cast<uint64_t>(file.gcount()) != moov.size()) {
        *problem = "the moov box cannot be read whole";
        return std::nullopt;
    }
    return moov;
}

std::optional<MovieMetadata> ReadMovieMetadata(const std::string& path, std::string* problem) {
    const auto moov = ReadFirstMoov(path, problem);
    if (!moov) return std::nullopt;
    auto metadata = ParseMoovMetadata(*moov);
    if (!metadata) *problem = "the moov box cannot be walked";
    return metadata;
}

std::optional<MovieMetadata> ParseMoovMetadata(const std::vector<uint8_t>& moov) {
    const auto header = ChildBoxes(moov, 0, moov.size());
    if (header.empty() || !header.front().Is("moov")) return std::nullopt;
    const BoxSpan& moovBox = header.front();
    MovieMetadata metadata;
    for (const BoxSpan& box : ChildBoxes(moov, moovBox.headerSize, moovBox.End())) {
        if (box.Is("trak")) metadata.tracks.push_back(ReadTrack(moov, box));
        if (box.Is("mvex")) metadata.fragmented = true;
        if (!box.Is("udta") || !metadata.writer.empty()) continue;
        // A QuickTime text tag: its length, its language, then the text.
        const char kWriterTag[] = {'\xA9', 's', 'w', 'r', 0};
        if (const auto tag = FindChildBox(moov, box.PayloadOffset(), box.End(), kWriterTag);
            tag && tag->PayloadOffset() + 4 <= tag->End()) {
            const uint64_t length = ReadBE16(moov.data() + tag->PayloadOffset());
            const uint64_t at = tag->PayloadOffset() + 4;
            metadata.writer.assign(reinterpret_cast<const char*>(moov.data()) + at,
                                   std::min<uint64_t>(length, tag->End() - at));
        }
    }
    return metadata;
}

}  // namespace spatialmux
