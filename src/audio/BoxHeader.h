#pragma once
// The header of an ISO base media box: a 32-bit size and a four-character
// type; a size of 1 is followed by a 64-bit size, a size of 0 means "to the
// end of what encloses the box". The movie reader, the output's top-level
// scan, the fixture builder and the tests' box parser all read it here.

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

struct BoxHeader {
    uint64_t size = 0;        // the whole box, header included
    uint32_t headerSize = 0;  // 8, or 16 for a 64-bit size
    std::array<char, 4> type{};
    bool toEnd = false;  // the size field was 0: `size` is the room there was

    bool Is(const char* wanted) const { return std::memcmp(type.data(), wanted, 4) == 0; }
};

// Parses the header at `bytes`, of which `available` bytes are readable; the
// box may take at most `room` bytes (from its first byte to the end of its
// parent or file). Nothing when the header is not whole in `available`, or
// its size is smaller than its header or larger than `room`.
inline std::optional<BoxHeader> ParseBoxHeader(const uint8_t* bytes, std::size_t available,
                                               uint64_t room) {
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
        header.size = room;
        header.toEnd = true;
    }
    if (header.size < header.headerSize || header.size > room) return std::nullopt;
    return header;
}

// True when the box header at `bytes` (at least 8 bytes) has type `type`.
inline bool HasBoxType(const uint8_t* bytes, const char* type) {
    return std::memcmp(bytes + 4, type, 4) == 0;
}

}  // namespace spatialmux
