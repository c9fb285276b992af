#pragma once
// QuickTime's channel layout box (`chan`, a child of a sound sample entry):
// Core Audio's AudioChannelLayout, big-endian. After the full-box header
// come the layout tag, the channel bitmap, the number of channel
// descriptions and the descriptions (label, flags, three coordinates: 20
// bytes each). The high 16 bits of a tag name the layout, the low 16 its
// channel count.

#include <cstdint>
#include <vector>

#include "audio/ByteOrder.h"

namespace spatialmux {

// Bytes of a sound sample entry between its 8-byte header and its first
// child, by the entry's version (QuickTime's sound descriptions 0, 1 and 2;
// an ISO audio sample entry reads as version 0). 0 for other versions.
constexpr uint32_t SoundEntryFieldBytes(uint16_t version) {
    constexpr uint32_t kFieldBytes[] = {28, 44, 64};
    return version < 3 ? kFieldBytes[version] : 0;
}

// Header, version and flags, tag, bitmap, description count.
inline constexpr uint32_t kChannelLayoutBoxSize = 24;
inline constexpr uint32_t kChannelDescriptionSize = 20;

// Layout tags that say where to look instead of naming a layout.
inline constexpr uint32_t kLayoutTagUseDescriptions = 0;
inline constexpr uint32_t kLayoutTagUseBitmap = 1u << 16;
// Higher-order ambisonics in ACN order with SN3D normalization, the
// layout of first-order ambisonics in W, Y, Z, X as SA3D describes it.
inline constexpr uint32_t kLayoutTagHoaAcnSn3d = 190u << 16;

// The chan box of `channels` channels of ambisonics in ACN order with SN3D
// normalization: no bitmap, no channel descriptions. A player that follows
// chan then hears the channels as SA3D says they are (for four channels
// the tag is 0x00BE0004).
inline std::vector<uint8_t> AmbisonicChannelLayoutBox(uint16_t channels) {
    std::vector<uint8_t> box;
    AppendBE32(box, kChannelLayoutBoxSize);
    box.insert(box.end(), {'c', 'h', 'a', 'n'});
    AppendBE32(box, 0);  // version and flags
    AppendBE32(box, kLayoutTagHoaAcnSn3d | channels);
    AppendBE32(box, 0);  // no bitmap
    AppendBE32(box, 0);  // no channel descriptions
    return box;
}

}  // namespace spatialmux
