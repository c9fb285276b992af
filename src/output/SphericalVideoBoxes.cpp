// Writing Spherical Video V2 into the video sample entry of a new moov.
#include "output/SphericalVideoBoxes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"
#include "iso/BoxWriting.h"
#include "output/MoovLayout.h"

namespace spatialmux::output {

namespace {

// Bytes of a visual sample entry in front of its child boxes.
constexpr uint32_t kVisualEntryFields = 8 + 78;
// The writer named in svhd.
constexpr char kMetadataSource[] = "spatialmux";

std::vector<uint8_t> SvhdBox() {
    std::vector<uint8_t> box;
    {
        OpenBox svhd(box, "svhd", true);
        box.insert(box.end(), kMetadataSource, kMetadataSource + sizeof(kMetadataSource));
    }
    return box;
}

// The kept sv3d at `sv3d` names spatialmux as its metadata source, the mark
// of a movie spatialmux wrote (what it says of the sphere is the input's).
// False, `moov` unchanged, when its svhd cannot be found or rewritten.
bool MarkKeptSource(std::vector<uint8_t>& moov, const TrackBoxes& track, const BoxSpan& sv3d) {
    bool complete = false;
    const auto children =
        ChildBoxes(moov, sv3d.PayloadOffset(), sv3d.End(), &complete, SizeForms::Plain32);
    const auto svhd = std::find_if(children.begin(), children.end(),
                                   [](const BoxSpan& child) { return child.Is("svhd"); });
    if (!complete || svhd == children.end()) return false;
    const std::vector<uint8_t> mark = SvhdBox();
    if (std::equal(mark.begin(), mark.end(),
                   moov.begin() + static_cast<std::ptrdiff_t>(svhd->offset),
                   moov.begin() + static_cast<std::ptrdiff_t>(svhd->End()))) {
        return true;
    }
    const int64_t change = static_cast<int64_t>(mark.size()) - static_cast<int64_t>(svhd->size);
    std::vector<uint8_t> result = moov;
    for (const uint64_t at :
         {uint64_t{0}, uint64_t{track.trak}, uint64_t{track.mdia}, uint64_t{track.minf},
          uint64_t{track.stbl}, uint64_t{track.stsd}, uint64_t{track.entry}, sv3d.offset}) {
        if (!AddToBoxSize(result, at, change)) return false;
    }
    result.erase(result.begin() + static_cast<std::ptrdiff_t>(svhd->offset),
                 result.begin() + static_cast<std::ptrdiff_t>(svhd->End()));
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(svhd->offset), mark.begin(),
                  mark.end());
    moov = std::move(result);
    return true;
}

}  // namespace

std::vector<uint8_t> St3dBox(uint8_t stereoMode) {
    std::vector<uint8_t> box;
    {
        OpenBox st3d(box, "st3d", true);
        box.push_back(stereoMode);
    }
    return box;
}

std::vector<uint8_t> Sv3dBox(const SphericalVideo& video) {
    std::vector<uint8_t> box;
    {
        OpenBox sv3d(box, "sv3d", false);
        const std::vector<uint8_t> svhd = SvhdBox();
        box.insert(box.end(), svhd.begin(), svhd.end());
        OpenBox proj(box, "proj", false);
        {
            OpenBox prhd(box, "prhd", true);
            AppendBE32(box, static_cast<uint32_t>(video.yaw));
            AppendBE32(box, static_cast<uint32_t>(video.pitch));
            AppendBE32(box, static_cast<uint32_t>(video.roll));
        }
        OpenBox equi(box, "equi", true);
        AppendBE32(box, video.boundsTop);
        AppendBE32(box, video.boundsBottom);
        AppendBE32(box, video.boundsLeft);
        AppendBE32(box, video.boundsRight);
    }
    return box;
}

namespace {

// The video sample entry's children (of the first trak of `moov`), which
// must tile the rest of the entry; nothing when they do not or the boxes
// cannot be found.
std::optional<std::pair<TrackBoxes, std::vector<BoxSpan>>> EntryChildren(
    const std::vector<uint8_t>& moov) {
    MoovLayout layout;
    if (!FindMoovLayout(moov.data(), moov.size(), &layout)) return std::nullopt;
    const TrackBoxes& track = layout.video;
    if (track.entrySize < kVisualEntryFields) return std::nullopt;
    bool complete = false;
    auto children = ChildBoxes(moov, track.entry + kVisualEntryFields,
                               track.entry + track.entrySize, &complete, SizeForms::Plain32);
    if (!complete) return std::nullopt;
    return std::make_pair(track, std::move(children));
}

std::optional<BoxSpan> Sv3dAmong(const std::vector<BoxSpan>& children) {
    const auto sv3d = std::find_if(children.begin(), children.end(),
                                   [](const BoxSpan& child) { return child.Is("sv3d"); });
    if (sv3d == children.end()) return std::nullopt;
    return *sv3d;
}

}  // namespace

bool MarkSphericalSource(std::vector<uint8_t>& moov) {
    const auto entry = EntryChildren(moov);
    const auto sv3d = entry ? Sv3dAmong(entry->second) : std::nullopt;
    return sv3d && MarkKeptSource(moov, entry->first, *sv3d);
}

SphericalV2Result AddSphericalV2(std::vector<uint8_t>& moov, const SphericalVideo& video) {
    // The children must tile the rest of the entry for the new ones to be
    // found behind them.
    const auto entry = EntryChildren(moov);
    if (!entry) return SphericalV2Result::Refused;
    const TrackBoxes& track = entry->first;
    if (const auto kept = Sv3dAmong(entry->second)) {
        MarkKeptSource(moov, track, *kept);
        return SphericalV2Result::Kept;
    }

    std::vector<uint8_t> boxes = St3dBox(video.stereoMode);
    const std::vector<uint8_t> sv3d = Sv3dBox(video);
    boxes.insert(boxes.end(), sv3d.begin(), sv3d.end());
    const auto change = static_cast<uint32_t>(boxes.size());

    std::vector<uint8_t> result = moov;
    for (uint32_t at :
         {0u, track.trak, track.mdia, track.minf, track.stbl, track.stsd, track.entry}) {
        if (!AddToBoxSize(result, at, change)) return SphericalV2Result::Refused;
    }
    result.insert(result.begin() + track.entry + track.entrySize, boxes.begin(), boxes.end());
    moov = std::move(result);
    return SphericalV2Result::Added;
}

}  // namespace spatialmux::output
