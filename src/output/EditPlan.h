#pragma once
// What an in-place edit of a copy of the input must do to its top-level
// boxes: how much of the input the copy needs (up to the end of the media
// data; the old moov and the camera's private boxes behind it are left out),
// which boxes in front of that end must become `free` (an old moov or a
// private box the camera wrote before the media data), and where the ftyp
// and the old moov lie. Also the check that every audio chunk lies inside
// the media data without overlapping another, so that rewriting each chunk
// where it stands touches nothing else.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux::output {

struct ByteRange {
    uint64_t offset = 0;
    uint64_t size = 0;

    uint64_t End() const { return offset + size; }
};

struct EditPlan {
    ByteRange ftyp;
    ByteRange moov;                 // the old one, whole, 32-bit size
    uint64_t copyLength = 0;        // bytes of the input the output starts from
    std::vector<ByteRange> blanks;  // boxes in [0, copyLength) that become `free`
    std::vector<ByteRange> media;   // mdat payloads
};

// The largest old moov the edit reads into memory.
inline constexpr uint64_t kMaxEditedMoovBytes = 256ull << 20;

// Walks the top-level boxes of `file` (`fileSize` bytes). Nothing, with the
// cause in `error`, when a box is damaged or cut short, the first box is not
// an ftyp, there is not exactly one moov or no mdat, or the moov is too
// large.
std::optional<EditPlan> PlanEdit(std::istream& file, uint64_t fileSize, std::string* error);

// True when every chunk [offsets[i], offsets[i] + bytes[i]) lies inside one
// media payload of `plan` and no two chunks overlap; else false with the
// cause in `error`.
bool ChunksFitMedia(const EditPlan& plan, const std::vector<uint64_t>& offsets,
                    const std::vector<uint64_t>& bytes, std::string* error);

// True when [offset, offset + size) lies inside one media payload of `plan`.
bool InsideMedia(const EditPlan& plan, uint64_t offset, uint64_t size);

// The header that turns the box `range` into a `free` box of the same size
// (8 bytes; a box of 16 or more bytes with a 64-bit size keeps that form).
std::vector<uint8_t> FreeBoxHeader(const ByteRange& range);

}  // namespace spatialmux::output
