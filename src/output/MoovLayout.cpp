// Finding the transplant's boxes inside moov by type, with bounds checks.
#include "output/MoovLayout.h"

#include "audio/BoxHeader.h"
#include "audio/ByteOrder.h"

namespace spatialmux::output {

namespace {

constexpr uint32_t kHeaderSize = 8;
// stsd: header, version and flags, entry count; then the first entry.
constexpr uint32_t kStsdEntriesOffset = 16;

// The box at `offset` of a parent whose content ends at `end`: its size, or
// 0 when its header or its body would pass `end` or its size is not an
// ordinary 32-bit size (0 means "to the end of the file", 1 a 64-bit size).
uint32_t CheckedBoxSize(const uint8_t* bytes, uint32_t offset, uint32_t end) {
    if (offset > end || end - offset < kHeaderSize) return 0;
    const uint32_t size = ReadBE32(bytes + offset);
    if (size < kHeaderSize || size > end - offset) return 0;
    return size;
}

bool FindTrackBoxes(const uint8_t* moov, uint32_t trak, TrackBoxes* boxes) {
    boxes->trak = trak;
    const uint32_t trakEnd = trak + ReadBE32(moov + trak);
    if (!FindChild(moov, trak + kHeaderSize, trakEnd, "mdia", 0, &boxes->mdia)) return false;
    const uint32_t mdiaEnd = boxes->mdia + ReadBE32(moov + boxes->mdia);
    if (!FindChild(moov, boxes->mdia + kHeaderSize, mdiaEnd, "minf", 0, &boxes->minf)) {
        return false;
    }
    const uint32_t minfEnd = boxes->minf + ReadBE32(moov + boxes->minf);
    if (!FindChild(moov, boxes->minf + kHeaderSize, minfEnd, "stbl", 0, &boxes->stbl)) {
        return false;
    }
    const uint32_t stblEnd = boxes->stbl + ReadBE32(moov + boxes->stbl);
    if (!FindChild(moov, boxes->stbl + kHeaderSize, stblEnd, "stsd", 0, &boxes->stsd)) {
        return false;
    }
    const uint32_t stsdEnd = boxes->stsd + ReadBE32(moov + boxes->stsd);
    if (stsdEnd - boxes->stsd < kStsdEntriesOffset) return false;
    boxes->entry = boxes->stsd + kStsdEntriesOffset;
    boxes->entrySize = CheckedBoxSize(moov, boxes->entry, stsdEnd);
    return boxes->entrySize != 0;
}

}  // namespace

bool FindChild(const uint8_t* bytes, uint32_t begin, uint32_t end, const char* type, int skip,
               uint32_t* found) {
    uint32_t offset = begin;
    while (offset < end) {
        const uint32_t size = CheckedBoxSize(bytes, offset, end);
        if (size == 0) return false;
        if (HasBoxType(bytes + offset, type)) {
            if (skip == 0) {
                *found = offset;
                return true;
            }
            --skip;
        }
        offset += size;
    }
    return false;
}

std::optional<uint32_t> ChildBox(const std::vector<uint8_t>& bytes, uint32_t parent,
                                 const char* type) {
    uint32_t found = 0;
    if (!FindChild(bytes.data(), parent + kBoxHeaderSize, parent + ReadBE32(bytes.data() + parent),
                   type, 0, &found)) {
        return std::nullopt;
    }
    return found;
}

bool FindMoovLayout(const uint8_t* moov, std::size_t size, MoovLayout* layout) {
    if (size < kHeaderSize || size > UINT32_MAX) return false;
    const auto moovSize = static_cast<uint32_t>(size);
    if (ReadBE32(moov) != moovSize || !HasBoxType(moov, "moov")) return false;
    layout->moovSize = moovSize;
    uint32_t videoTrak = 0;
    uint32_t audioTrak = 0;
    if (!FindChild(moov, kHeaderSize, moovSize, "trak", 0, &videoTrak)) return false;
    if (!FindChild(moov, kHeaderSize, moovSize, "trak", 1, &audioTrak)) return false;
    return FindTrackBoxes(moov, videoTrak, &layout->video) &&
           FindTrackBoxes(moov, audioTrak, &layout->audio);
}

}  // namespace spatialmux::output
