// The new moov of the metadata transplant, built from the old one.
#include "output/MoovTransplant.h"

#include <utility>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWriting.h"
#include "output/MoovLayout.h"

namespace spatialmux::output {

namespace {

// The chan box among the children of the audio sample entry: its offset in
// `moov` and its size, or size 0 when the entry has none (or its children
// cannot be walked).
struct ChildSpan {
    uint32_t offset = 0;
    uint32_t size = 0;
};
ChildSpan FindChannelLayout(const std::vector<uint8_t>& moov, const TrackBoxes& audio) {
    constexpr uint32_t kVersionAt = 16;  // header, reserved, data reference index
    if (audio.entrySize < kVersionAt + 2) return {};
    const uint32_t fields = SoundEntryFieldBytes(ReadBE16(moov.data() + audio.entry + kVersionAt));
    if (fields == 0 || audio.entrySize < 8 + fields) return {};
    uint32_t chan = 0;
    if (!FindChild(moov.data(), audio.entry + 8 + fields, audio.entry + audio.entrySize, "chan", 0,
                   &chan)) {
        return {};
    }
    return {chan, ReadBE32(moov.data() + chan)};
}

}  // namespace

bool IsWholeBox(const std::vector<uint8_t>& box, const char* type) {
    if (box.size() < 8 || ReadBE32(box.data()) != box.size()) return false;
    return type == nullptr || HasBoxType(box.data(), type);
}

bool RemapSa3dChannels(std::vector<uint8_t>& sa3d) {
    if (sa3d.size() != kSa3dBoxSize || !IsWholeBox(sa3d, "SA3D")) return false;
    // Whole 32-bit entries: setting only their low bytes would keep the high
    // bytes of a damaged map (an entry of 0xFFFFFFFF stayed 0xFFFFFF01).
    for (uint32_t channel = 0; channel < 4; ++channel) {
        WriteBE32(sa3d.data() + 20 + 4 * channel, channel);
    }
    return true;
}

bool BuildTransplantedMoov(const std::vector<uint8_t>& oldMoov,
                           const std::vector<uint8_t>& videoSampleEntry,
                           const std::vector<uint8_t>& uuidBox, const std::vector<uint8_t>& sa3dBox,
                           std::vector<uint8_t>* newMoov) {
    if (!IsWholeBox(videoSampleEntry)) return false;
    if (!uuidBox.empty() && !IsWholeBox(uuidBox, "uuid")) return false;
    if (!sa3dBox.empty() && (sa3dBox.size() != kSa3dBoxSize || !IsWholeBox(sa3dBox, "SA3D"))) {
        return false;
    }

    MoovLayout layout;
    if (!FindMoovLayout(oldMoov.data(), oldMoov.size(), &layout)) return false;
    const TrackBoxes& video = layout.video;
    const TrackBoxes& audio = layout.audio;

    // Insertion points, in the old moov's offsets, from front to back.
    const uint32_t videoEntryEnd = video.entry + video.entrySize;
    const uint32_t videoTrakEnd = video.trak + ReadBE32(oldMoov.data() + video.trak);
    const uint32_t audioEntryEnd = audio.entry + audio.entrySize;
    // A chan box that names speakers (FFmpeg's muxer writes 4.0 for PCM)
    // would make players that follow it reorder the ambisonic channels: it
    // becomes the ambisonic layout that SA3D describes. Audio that goes out
    // without SA3D (a stereo render) keeps the chan box it has.
    const ChildSpan chan = sa3dBox.empty() ? ChildSpan{} : FindChannelLayout(oldMoov, audio);
    const std::vector<uint8_t> newChan =
        chan.size != 0 ? AmbisonicChannelLayoutBox(4) : std::vector<uint8_t>();
    const uint32_t chanEnd = chan.size != 0 ? chan.offset + chan.size : audioEntryEnd;
    const uint32_t chanStart = chan.size != 0 ? chan.offset : audioEntryEnd;

    const int64_t l1 = static_cast<int64_t>(videoSampleEntry.size());
    const int64_t f = video.entrySize;
    const int64_t l2 = static_cast<int64_t>(uuidBox.size());
    const int64_t l3 = static_cast<int64_t>(sa3dBox.size());
    const int64_t videoChange = l1 - f;
    const int64_t audioChange = l3 + static_cast<int64_t>(newChan.size()) - chan.size;

    std::vector<uint8_t> adjusted = oldMoov;
    bool sizesFit = AddToBoxSize(adjusted, 0, videoChange + l2 + audioChange) &&
                    AddToBoxSize(adjusted, video.trak, videoChange + l2);
    for (uint32_t offset : {video.mdia, video.minf, video.stbl, video.stsd}) {
        sizesFit = sizesFit && AddToBoxSize(adjusted, offset, videoChange);
    }
    for (uint32_t offset :
         {audio.trak, audio.mdia, audio.minf, audio.stbl, audio.stsd, audio.entry}) {
        sizesFit = sizesFit && AddToBoxSize(adjusted, offset, audioChange);
    }
    if (!sizesFit) return false;

    const auto at = [&adjusted](uint32_t offset) {
        return adjusted.begin() + static_cast<std::ptrdiff_t>(offset);
    };
    std::vector<uint8_t> result;
    result.reserve(static_cast<std::size_t>(static_cast<int64_t>(adjusted.size()) + videoChange +
                                            l2 + audioChange));
    result.insert(result.end(), at(0), at(video.entry));
    result.insert(result.end(), videoSampleEntry.begin(), videoSampleEntry.end());
    result.insert(result.end(), at(videoEntryEnd), at(videoTrakEnd));
    result.insert(result.end(), uuidBox.begin(), uuidBox.end());
    result.insert(result.end(), at(videoTrakEnd), at(chanStart));
    result.insert(result.end(), newChan.begin(), newChan.end());
    result.insert(result.end(), at(chanEnd), at(audioEntryEnd));
    result.insert(result.end(), sa3dBox.begin(), sa3dBox.end());
    result.insert(result.end(), at(audioEntryEnd), adjusted.end());
    *newMoov = std::move(result);
    return true;
}

}  // namespace spatialmux::output
