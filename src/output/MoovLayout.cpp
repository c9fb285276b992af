// Finding the transplant's boxes inside moov by type, on the box floor's
// walk with plain 32-bit sizes only (the transplant rewrites them in place).
#include "output/MoovLayout.h"

#include <span>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWalk.h"

namespace spatialmux::output {

namespace {

constexpr SizeForms kPlain = SizeForms::Plain32;
// stsd: header, version and flags, entry count; then the first entry.
constexpr uint32_t kStsdEntriesOffset = 16;

// The first child of type `type` inside `parent`.
std::optional<BoxSpan> Inside(std::span<const uint8_t> moov, const BoxSpan& parent,
                              const char* type) {
    return FindChildBox(moov, parent.PayloadOffset(), parent.End(), type, 0, kPlain);
}

bool FindTrackBoxes(std::span<const uint8_t> moov, const BoxSpan& trak, TrackBoxes* boxes) {
    const auto mdia = Inside(moov, trak, "mdia");
    const auto minf = mdia ? Inside(moov, *mdia, "minf") : std::nullopt;
    const auto stbl = minf ? Inside(moov, *minf, "stbl") : std::nullopt;
    const auto stsd = stbl ? Inside(moov, *stbl, "stsd") : std::nullopt;
    if (!stsd || stsd->size < kStsdEntriesOffset) return false;
    const auto entry = BoxAt(moov, stsd->offset + kStsdEntriesOffset, stsd->End(), kPlain);
    if (!entry) return false;
    boxes->trak = static_cast<uint32_t>(trak.offset);
    boxes->mdia = static_cast<uint32_t>(mdia->offset);
    boxes->minf = static_cast<uint32_t>(minf->offset);
    boxes->stbl = static_cast<uint32_t>(stbl->offset);
    boxes->stsd = static_cast<uint32_t>(stsd->offset);
    boxes->entry = static_cast<uint32_t>(entry->offset);
    boxes->entrySize = static_cast<uint32_t>(entry->size);
    return true;
}

}  // namespace

bool FindChild(const uint8_t* bytes, uint32_t begin, uint32_t end, const char* type, int skip,
               uint32_t* found) {
    const auto box =
        FindChildBox(std::span<const uint8_t>(bytes, end), begin, end, type, skip, kPlain);
    if (!box) return false;
    *found = static_cast<uint32_t>(box->offset);
    return true;
}

std::optional<uint32_t> ChildBox(const std::vector<uint8_t>& bytes, uint32_t parent,
                                 const char* type) {
    const auto box = BoxAt(bytes, parent, bytes.size(), kPlain);
    if (!box) return std::nullopt;
    const auto child = FindChildBox(bytes, box->PayloadOffset(), box->End(), type, 0, kPlain);
    if (!child) return std::nullopt;
    return static_cast<uint32_t>(child->offset);
}

bool FindMoovLayout(const uint8_t* moov, std::size_t size, MoovLayout* layout) {
    if (size < kBoxHeaderSize || size > UINT32_MAX) return false;
    const auto moovSize = static_cast<uint32_t>(size);
    if (ReadBE32(moov) != moovSize || !HasBoxType(moov, "moov")) return false;
    layout->moovSize = moovSize;
    const std::span<const uint8_t> bytes(moov, moovSize);
    const BoxSpan box{{'m', 'o', 'o', 'v'}, 0, moovSize, kBoxHeaderSize, false};
    const auto videoTrak = FindChildBox(bytes, box.PayloadOffset(), box.End(), "trak", 0, kPlain);
    const auto audioTrak = FindChildBox(bytes, box.PayloadOffset(), box.End(), "trak", 1, kPlain);
    return videoTrak && audioTrak && FindTrackBoxes(bytes, *videoTrak, &layout->video) &&
           FindTrackBoxes(bytes, *audioTrak, &layout->audio);
}

}  // namespace spatialmux::output
