#pragma once
// The spherical-video and spatial-audio metadata of any movie, read from its
// moov box: Spherical Video V1 (a uuid box of XML in the video trak), V2
// (st3d and sv3d in the video sample entry) and the SA3D box of the audio
// sample entry. Read only; every size is checked against the bytes read.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "iso/BoxHeader.h"
#include "iso/SoundEntryChannels.h"

namespace spatialmux {

struct Sa3dFacts {
    uint8_t version = 0;
    // Two channels of head-locked stereo follow the ambisonic ones (the top
    // bit of the byte whose other seven bits are the ambisonic type).
    bool headLockedStereo = false;
    uint8_t ambisonicType = 0;
    uint32_t order = 0;
    uint8_t channelOrdering = 0;  // 0: ACN
    uint8_t normalization = 0;    // 0: SN3D
    uint32_t channelCount = 0;
    std::vector<uint32_t> channelMap;
    // Every channel k maps to k: players read the channels as they lie.
    bool IdentityMap() const;
};

// Parses a whole SA3D box (header included). Nothing when it is too short
// for its fields or its channel map.
std::optional<Sa3dFacts> ParseSa3d(const uint8_t* box, std::size_t size);

// A chan box: the channel layout of a sound sample entry
// (audio/ChannelLayoutBox.h).
struct ChannelLayoutFacts {
    uint32_t tag = 0;
    uint32_t bitmap = 0;
    std::vector<uint32_t> labels;  // the channel descriptions' labels, in order
};

// Parses a whole chan box (header included). Nothing when it is too short
// for its fields or for the channel descriptions it counts.
std::optional<ChannelLayoutFacts> ParseChannelLayout(const uint8_t* box, std::size_t size);

// The GSpherical:* elements of a V1 XML document, in document order, as
// (name without prefix, text) pairs.
std::vector<std::pair<std::string, std::string>> ParseSphericalXml(const std::string& xml);

struct TrackMetadata {
    std::string handler;      // "vide", "soun", ... from hdlr
    uint32_t trackId = 0;     // tkhd's track ID (libavformat's stream id); 0 without one
    std::string sampleEntry;  // the first sample entry's format, e.g. "avc1", "sowt"
    bool sphericalUuid = false;
    std::vector<std::pair<std::string, std::string>> sphericalV1;
    bool st3d = false;
    std::optional<uint8_t> stereoMode;  // st3d's stereo_mode
    bool sv3d = false;
    std::string projection;       // the type of sv3d's projection box, e.g. "equi"
    std::string sphericalSource;  // svhd's metadata source, e.g. "spatialmux"
    // equi's bounds as 0.32 fixed-point fractions: top, bottom, left, right.
    std::optional<std::array<uint32_t, 4>> equiBounds;
    std::optional<Sa3dFacts> sa3d;
    std::optional<ChannelLayoutFacts> chan;
    // A sound track's channels as its own sample entry says them.
    SoundEntryChannels ownChannels;
    // A box that describes the spherical video or the spatial audio but
    // cannot be read (an SA3D box cut short, an sv3d box without its
    // projection), in words; empty when every such box reads.
    std::string unreadableDeclaration;
    // A sound sample entry's btrt box: the rate the encoder was set to (its
    // maximum) and the average the track has.
    std::optional<uint32_t> maxBitRate;
    std::optional<uint32_t> averageBitRate;
    // A video track's first sample entry (which holds any st3d and sv3d) and
    // its V1 uuid box, byte for byte, to carry them into another movie; each
    // empty when absent or not a plain box with a 32-bit size.
    std::vector<uint8_t> sampleEntryBox;
    std::vector<uint8_t> sphericalUuidBox;
};

struct MovieMetadata {
    std::vector<TrackMetadata> tracks;  // in moov order
    std::string writer;  // moov/udta's QuickTime ©swr text: the program that wrote the file
    // The moov holds mvex: the samples lie in movie fragments (moof boxes),
    // which the tracks' own tables do not place.
    bool fragmented = false;

    // The first track whose handler is `handler` ("vide", "soun"), if any.
    const TrackMetadata* FirstTrack(std::string_view handler) const {
        for (const TrackMetadata& track : tracks) {
            if (track.handler == handler) return &track;
        }
        return nullptr;
    }
};

// The same of a movie whose metadata may not have been read.
inline const TrackMetadata* FirstTrack(const std::optional<MovieMetadata>& metadata,
                                       std::string_view handler) {
    return metadata ? metadata->FirstTrack(handler) : nullptr;
}

// Spherical video (V1 or V2) or spatial audio (SA3D) metadata in any track.
bool CarriesSpatialMetadata(const MovieMetadata& metadata);

// Whether spatialmux wrote the movie: its writer tag names spatialmux (the
// edit engine's outputs), or its V2 names spatialmux as its source (every
// output whose V2 the conversion wrote).
bool WrittenBySpatialmux(const MovieMetadata& metadata);

// Walks a moov box held in memory (`moov` starts with its header). Nothing
// when its header is not a moov header that fits the bytes.
std::optional<MovieMetadata> ParseMoovMetadata(const std::vector<uint8_t>& moov);

// Reads the moov of the movie at `path`. Nothing, with `problem` saying why,
// when the file cannot be read or holds no moov that can be walked.
// The first top-level moov of the file at `path`, whole (its header
// included). Nothing, with the cause in `problem`, when the file cannot be
// read, has no moov, or its moov is implausibly large or cut short.
std::optional<std::vector<uint8_t>> ReadFirstMoov(const std::string& path, std::string* problem);

std::optional<MovieMetadata> ReadMovieMetadata(const std::string& path, std::string* problem);

}  // namespace spatialmux
