#pragma once
// The sample tables of a movie's track, read from its moov in memory: where
// each sample lies, how large it is, and how long after its decoding it is
// shown. Only a whole track is read: every box inside it fits its parent,
// the children of each container fill it exactly (no size 0 below the top
// level), every table is exactly as long as its count says, and the tables
// agree on the number of samples. A track that is not whole is refused with
// the cause: an edit copies the video track as it is, so it copies only a
// track it can vouch for, and the verification reads the output's the same
// way.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux::output {

struct TrackSample {
    uint64_t offset = 0;  // in the file
    uint32_t size = 0;
    // From its decoding to its showing (ctts; 0 without one), in the
    // media's time scale.
    int32_t compositionOffset = 0;
};

struct TrackTables {
    uint32_t timescale = 0;            // mdhd
    std::vector<TrackSample> samples;  // in decode order, at least one
};

// Samples one track may have: a day of video at 120 frames per second.
inline constexpr std::size_t kMaxTrackSamples = std::size_t{1} << 24;

// The offset in `moov` (a whole moov box) of its first trak whose media
// handler is `vide`. Nothing when moov's children do not fill it exactly or
// no trak is video.
std::optional<std::size_t> FirstVideoTrak(const std::vector<uint8_t>& moov);

// The offset in `moov` of the video trak whose tkhd says the track ID
// `trackId` (libavformat's stream id); for a `trackId` of 0, FirstVideoTrak.
std::optional<std::size_t> VideoTrakOfTrack(const std::vector<uint8_t>& moov, int trackId);

// The offset in `moov` of its first trak, whatever it holds; nothing when
// moov's children do not fill it exactly or it has no trak.
std::optional<std::size_t> FirstTrak(const std::vector<uint8_t>& moov);

// The samples of the trak at `trak` in `moov`. Nothing, with the cause in
// `error`, when the track is not whole (see above), lacks a table it needs
// (mdhd, stsd, stts, stsc, stsz, and one of stco and co64) or has one of
// them, or its media header or handler, twice, has compact sample sizes
// (stz2), holds no sample,
// a sample of 0 bytes or more than kMaxTrackSamples, or a sample that
// reaches past 2^64.
std::optional<TrackTables> ReadTrackTables(const std::vector<uint8_t>& moov, std::size_t trak,
                                           std::string* error);

// The same tables, where only the boxes on the way to stbl (trak, mdia,
// minf) and stbl itself are whole; what else the track holds is not looked
// at, and chunks whose runs would hold more samples than the track has hold
// no more (as libavformat reads them). For a movie another program reads,
// whose tables are held against that program's reading, never for one the
// edit copies.
std::optional<TrackTables> ReadSampleTables(const std::vector<uint8_t>& moov, std::size_t trak,
                                            std::string* error);

}  // namespace spatialmux::output
