#pragma once
// A bounds-checked walk over the boxes of any MP4/QuickTime movie held in
// memory (or of its top level, read header by header from a file). Every
// size is checked against the bytes that are there before a box is handed
// out, so a damaged or hostile file ends the walk instead of a read.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

struct BoxSpan {
    char type[4] = {};
    uint64_t offset = 0;      // of the header, in the walked bytes (or file)
    uint64_t size = 0;        // the whole box, header included
    uint32_t headerSize = 8;  // 16 for a 64-bit size
    uint64_t PayloadOffset() const { return offset + headerSize; }
    uint64_t End() const { return offset + size; }
    bool Is(const char* wanted) const;
};

// The boxes that lie one after another in bytes[begin, end) (end clipped to
// the buffer). The walk stops at the first box that does not fit: a size
// below its header, past `end`, or a header cut short. A size field of 0
// means "to the end". `complete`, when given, says whether the walk reached
// `end` exactly.
std::vector<BoxSpan> ChildBoxes(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end,
                                bool* complete = nullptr);

// The `skip`+1-th child of type `type` in bytes[begin, end).
std::optional<BoxSpan> FindChildBox(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end,
                                    const char* type, int skip = 0);

// The top-level boxes of a file of `length` bytes, read header by header
// (their payloads are skipped, not read).
std::vector<BoxSpan> TopLevelBoxes(std::istream& file, uint64_t length);

}  // namespace spatialmux
