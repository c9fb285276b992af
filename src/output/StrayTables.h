#pragma once
// Whether a player could place a track's samples otherwise than its own
// sample table box says. libavformat, and so every player built on it, takes
// the first chunk offset table (stco or co64) and the first sample-to-chunk
// table it meets anywhere in a track (in edts, a udta, dinf, mdia, minf,
// even among a sample entry's children) and the last table of sample sizes;
// a trak nested in a track starts another stream and leaves the rest of the
// outer track's tables unread. ReadTrackTables reads only the tables
// directly inside stbl. Where a track holds such a box anywhere else, the
// two readings may differ, and an edit proven with ours could write over
// video as players place it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux::output {

// The cause, when the trak at `trak` in `moov` (a track ReadTrackTables
// read whole) holds the type of a sample table (stco, co64, stsc, stsz,
// stz2) or of a box that starts a track or a movie (trak, moov, moof, traf)
// anywhere but as the header of one of stbl's own tables. The bytes are
// searched, not walked: a box where no walk of ours looks (inside a udta or
// a sample entry) is found too. Nothing when there is none.
std::optional<std::string> StrayTablesIn(const std::vector<uint8_t>& moov, std::size_t trak);

}  // namespace spatialmux::output
