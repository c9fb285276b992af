#include "movie/MetadataChecks.h"

#include <cstring>
#include <span>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"

namespace spatialmux {

namespace {

std::string NotFirstOrder(const std::string& detail) {
    return "the SA3D box is not first-order ambisonics (" + detail + ")";
}

}  // namespace

std::optional<std::string> Sa3dProblem(const uint8_t* box, std::size_t size) {
    if (size < 8 || std::memcmp(box + 4, "SA3D", 4) != 0) return "the audio has no SA3D box";
    const uint32_t declared = ReadBE32(box);
    if (size < kSa3dBoxBytes || declared != kSa3dBoxBytes) {
        return NotFirstOrder("box size " + std::to_string(declared) + ", not 36");
    }
    // Offsets: version 8, type 9, order 10, ordering 14, normalization 15,
    // channel count 16, channel map 20.
    if (box[8] != 0) return NotFirstOrder("version " + std::to_string(box[8]));
    if (box[9] != 0) return NotFirstOrder("ambisonic type " + std::to_string(box[9]));
    if (ReadBE32(box + 10) != 1)
        return NotFirstOrder("order " + std::to_string(ReadBE32(box + 10)));
    if (box[14] != 0) {
        return NotFirstOrder("channel ordering " + std::to_string(box[14]) + ", not ACN");
    }
    if (box[15] != 0) {
        return NotFirstOrder("normalization " + std::to_string(box[15]) + ", not SN3D");
    }
    if (ReadBE32(box + 16) != 4) {
        return NotFirstOrder(std::to_string(ReadBE32(box + 16)) + " channels, not 4");
    }
    // The channel map names each of the four channels once; anything else
    // (an entry of 4, 0xFFFFFFFF, a channel twice) leaves a channel unplaced.
    bool seen[4] = {};
    for (int i = 0; i < 4; ++i) {
        const uint32_t channel = ReadBE32(box + 20 + 4 * i);
        if (channel > 3 || seen[channel]) {
            return NotFirstOrder("channel map entry " + std::to_string(i) + " is " +
                                 std::to_string(channel));
        }
        seen[channel] = true;
    }
    return std::nullopt;
}

std::optional<std::string> VideoSampleEntryProblem(const uint8_t* entry, std::size_t size) {
    if (size < kVisualSampleEntryBytes || ReadBE32(entry) != size) {
        return "the video sample entry is damaged (shorter than its fields)";
    }
    // 0 (to the end) and 1 (64-bit size) do not occur inside a sample entry:
    // its children are walked with plain 32-bit sizes and must tile it.
    bool complete = false;
    const auto children = ChildBoxes(std::span<const uint8_t>(entry, size), kVisualSampleEntryBytes,
                                     size, &complete, SizeForms::Plain32);
    if (!complete) {
        const std::size_t at = children.empty() ? kVisualSampleEntryBytes : children.back().End();
        if (size - at < 8) {
            return "the video sample entry is damaged (" + std::to_string(size - at) +
                   " bytes left over after its boxes)";
        }
        // Where the walk stopped: a size below a header or beyond the entry.
        const uint32_t child = ReadBE32(entry + at);
        std::string type(reinterpret_cast<const char*>(entry + at + 4), 4);
        for (char& c : type) {
            if (c < 0x20 || c > 0x7E) c = '?';
        }
        return "the video sample entry is damaged (its box '" + type + "' has size " +
               std::to_string(child) + ")";
    }
    return std::nullopt;
}

}  // namespace spatialmux
