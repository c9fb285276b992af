// Writing Spherical Video V2 into the video sample entry of a new moov.
#include "output/SphericalVideoBoxes.h"

#include <algorithm>
#include <cstring>

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
        {
            OpenBox svhd(box, "svhd", true);
            box.insert(box.end(), kMetadataSource, kMetadataSource + sizeof(kMetadataSource));
        }
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

SphericalV2Result AddSphericalV2(std::vector<uint8_t>& moov, const SphericalVideo& video) {
    MoovLayout layout;
    if (!FindMoovLayout(moov.data(), moov.size(), &layout)) return SphericalV2Result::Refused;
    const TrackBoxes& track = layout.video;
    if (track.entrySize < kVisualEntryFields) return SphericalV2Result::Refused;
    const uint32_t entryEnd = track.entry + track.entrySize;
    const uint32_t childrenAt = track.entry + kVisualEntryFields;
    // The children must tile the rest of the entry for the new ones to be
    // found behind them.
    bool complete = false;
    const auto children = ChildBoxes(moov, childrenAt, entryEnd, &complete, SizeForms::Plain32);
    if (!complete) return SphericalV2Result::Refused;
    if (std::any_of(children.begin(), children.end(),
                    [](const BoxSpan& child) { return child.Is("sv3d"); })) {
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
    result.insert(result.begin() + entryEnd, boxes.begin(), boxes.end());
    moov = std::move(result);
    return SphericalV2Result::Added;
}

}  // namespace spatialmux::output
