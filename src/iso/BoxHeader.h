#pragma once
// The header of an ISO base media box: a 32-bit size and a four-character
// type; a size of 1 is followed by a 64-bit size, a size of 0 means "to the
// end of what encloses the box". One piece of the box floor (BoxWalk.h builds
// its walks on it); the fixture builder and the tests' box parser read
// headers here too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "audio/ByteOrder.h"

namespace spatialmux {

inline constexpr uint32_t kBoxHeaderSize = 8;
inline constexpr uint32_t kLargeBoxHeaderSize = 16;

// Top-level boxes any walk of a file looks at, at most. A real movie has a
// handful; a long run of tiny ones is no movie worth walking further, and
// every walk (the reader's, the edit's plan, the transplant's, the
// verification's) stops at the same count.
inline constexpr std::size_t kMaxTopLevelBoxes = 100000;

// The user type of the Spherical Video V1 uuid box, which readers and
// writers on both sides of the floor look for.
inline constexpr uint8_t kSphericalUuid[16] = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                               0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};

// Whether the four characters of a box type at `type` are `wanted`: the one
// question every reader of boxes asks of a type, whether it holds a header
// (BoxHeader::Is), a walked box (BoxSpan::Is) or the header's bytes
// (HasBoxType).
inline bool IsBoxType(const char* type, const char* wanted) {
    return std::memcmp(type, wanted, 4) == 0;
}

struct BoxHeader {
    uint64_t size = 0;        // the whole box, header included
    uint32_t headerSize = 0;  // 8, or 16 for a 64-bit size
    std::array<char, 4> type{};
    bool toEnd = false;  // the size field was 0: `size` is the room there was

    bool Is(const char* wanted) const { return IsBoxType(type.data(), wanted); }
};

// The header at `bytes` as its fields stand, judged against nothing: a size
// field of 0 gives `toEnd` with a size of 0, a size below the header is
// kept as it is. Nothing when the header is not whole in `available` (16
// bytes after a size field of 1). For a walk with rules of its own for what
// a size means; every other reader wants ParseBoxHeader.
inline std::optional<BoxHeader> ReadBoxHeaderFields(const uint8_t* bytes, std::size_t available) {
    if (available < kBoxHeaderSize) return std::nullopt;
    BoxHeader header;
    header.size = ReadBE32(bytes);
    header.headerSize = kBoxHeaderSize;
    std::memcpy(header.type.data(), bytes + 4, 4);
    if (header.size == 1) {
        if (available < kLargeBoxHeaderSize) return std::nullopt;
        header.size = ReadBE64(bytes + 8);
        header.headerSize = kLargeBoxHeaderSize;
    } else if (header.size == 0) {
        header.toEnd = true;
    }
    return header;
}

// `header`, as its fields stand, for a box that may take at most `room`
// bytes: a size of 0 becomes the room. Nothing when the size is smaller
// than the header or larger than `room`.
inline std::optional<BoxHeader> FitBoxHeader(BoxHeader header, uint64_t room) {
    if (header.toEnd) header.size = room;
    if (header.size < header.headerSize || header.size > room) return std::nullopt;
    return header;
}

// Parses the header at `bytes`, of which `available` bytes are readable; the
// box may take at most `room` bytes (from its first byte to the end of its
// parent or file). Nothing when the header is not whole in `available`, or
// its size is smaller than its header or larger than `room`.
inline std::optional<BoxHeader> ParseBoxHeader(const uint8_t* bytes, std::size_t available,
                                               uint64_t room) {
    const std::optional<BoxHeader> header = ReadBoxHeaderFields(bytes, available);
    return header ? FitBoxHeader(*header, room) : std::nullopt;
}

// True when the box header at `bytes` (at least 8 bytes) has type `type`.
inline bool HasBoxType(const uint8_t* bytes, const char* type) {
    return IsBoxType(reinterpret_cast<const char*>(bytes + 4), type);
}

}  // namespace spatialmux
