#pragma once
// The boxes inside an output movie's moov that the metadata transplant
// changes, found by type among their parent's children, each checked to lie
// inside its parent and inside the moov bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace spatialmux::output {

// Offsets from the first byte of moov.
struct TrackBoxes {
    uint32_t trak = 0;
    uint32_t mdia = 0;
    uint32_t minf = 0;
    uint32_t stbl = 0;
    uint32_t stsd = 0;
    uint32_t entry = 0;      // first sample entry, at stsd + 16
    uint32_t entrySize = 0;  // its size field
};

struct MoovLayout {
    uint32_t moovSize = 0;
    TrackBoxes video;  // the first trak of moov
    TrackBoxes audio;  // the second trak of moov
};

// Finds the child of type `type` among the boxes in [begin, end) of
// `bytes`, skipping `skip` matches first. Every box met on the way must have
// a 32-bit size of at least 8 that ends inside [begin, end); false when one
// does not or no such child exists.
bool FindChild(const uint8_t* bytes, uint32_t begin, uint32_t end, const char* type, int skip,
               uint32_t* found);

// The child of type `type` of the box at `parent` (whole inside `bytes`,
// as FindChild checks its children), if any.
std::optional<uint32_t> ChildBox(const std::vector<uint8_t>& bytes, uint32_t parent,
                                 const char* type);

// Walks `moov` (its whole `size` bytes). False when moov's own header does
// not say moov and `size`, when it has fewer than two traks, or when a trak
// lacks mdia, minf, stbl, stsd or a sample entry inside its bounds.
bool FindMoovLayout(const uint8_t* moov, std::size_t size, MoovLayout* layout);

}  // namespace spatialmux::output
