#pragma once
// The box floor: every walk over the boxes of an MP4/QuickTime movie, in
// memory or at a file's top level read header by header, for the movie
// reader and the output's writers alike. Every size is checked against the
// bytes that are there before a box is handed out, so a damaged or hostile
// file ends the walk instead of a read.
//
// The rules, the same for every walk:
// - A box's header is iso/BoxHeader.h's: a 32-bit size and a type; a size
//   of 1 is followed by a 64-bit size, a size of 0 runs to the end of what
//   encloses the box. SizeForms::NoToEnd refuses the last form, for a reader
//   that holds every box to the size it states; SizeForms::Plain32 takes
//   only the first, for a writer that rewrites 32-bit size fields in place.
// - A walk of children stops at the first box that does not fit (a size
//   below its header, past its parent's end, a header cut short); the boxes
//   before it are handed out.
// - Of duplicates the first wins: a lookup by type or by path takes the
//   first match at each step (or the `skip`+1-th). libavformat also reads
//   only the first moov; of a table box repeated inside one stbl (a second
//   stco, say) FFmpeg 5.1 keeps the last, later releases the first.
// - The top-level walk stops after kMaxTopLevelBoxes boxes.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "iso/BoxHeader.h"

namespace spatialmux {

struct BoxSpan {
    char type[4] = {};
    uint64_t offset = 0;      // of the header, in the walked bytes (or file)
    uint64_t size = 0;        // the whole box, header included
    uint32_t headerSize = 8;  // 16 for a 64-bit size
    bool toEnd = false;       // the size field was 0: `size` is the room there was
    uint64_t PayloadOffset() const { return offset + headerSize; }
    uint64_t PayloadSize() const { return size - headerSize; }
    uint64_t End() const { return offset + size; }
    bool Is(const char* wanted) const { return IsBoxType(type, wanted); }
};

enum class SizeForms {
    Any,      // 32-bit, 64-bit and to-the-end sizes
    NoToEnd,  // 32-bit and 64-bit sizes (0 ends the walk)
    Plain32,  // only a 32-bit size of at least 8 (0 and 1 end the walk)
};

// The box whose header bytes are at `header` (of which `available` bytes
// are there) and stand at `offset` of a parent or file that ends at `end`,
// for a reader that reads headers itself. Nothing when its header or its
// body does not fit.
std::optional<BoxSpan> ParseBoxAt(const uint8_t* header, uint64_t available, uint64_t offset,
                                  uint64_t end, SizeForms forms = SizeForms::Any);

// The box whose header starts at `offset` of bytes[0, end) (end clipped to
// the buffer). Nothing when its header or its body does not fit.
std::optional<BoxSpan> BoxAt(std::span<const uint8_t> bytes, uint64_t offset, uint64_t end,
                             SizeForms forms = SizeForms::Any);

// The boxes that lie one after another in bytes[begin, end) (end clipped to
// the buffer). `complete`, when given, says whether the walk reached `end`
// exactly.
std::vector<BoxSpan> ChildBoxes(std::span<const uint8_t> bytes, uint64_t begin, uint64_t end,
                                bool* complete = nullptr, SizeForms forms = SizeForms::Any);

// The `skip`+1-th child of type `type` in bytes[begin, end).
std::optional<BoxSpan> FindChildBox(std::span<const uint8_t> bytes, uint64_t begin, uint64_t end,
                                    const char* type, int skip = 0,
                                    SizeForms forms = SizeForms::Any);

// The box at the end of `path` ("mdia/minf/stbl": four-character types
// separated by slashes) below the box `from`.
std::optional<BoxSpan> FindBoxPath(std::span<const uint8_t> bytes, const BoxSpan& from,
                                   std::string_view path, SizeForms forms = SizeForms::Any);

// The top-level box whose header starts at `offset` of a file of `length`
// bytes, its header read from `file`. Nothing when it cannot be read or
// does not fit.
std::optional<BoxSpan> TopLevelBoxAt(std::istream& file, uint64_t length, uint64_t offset);

// The top-level boxes of a file of `length` bytes, read header by header
// (their payloads are skipped, not read).
std::vector<BoxSpan> TopLevelBoxes(std::istream& file, uint64_t length);

// The first top-level box of `type` at or behind `offset`, which must be
// the start of a box. Nothing when there is none, when a box met on the way
// does not fit (the walk cannot go past it), or after kMaxTopLevelBoxes.
std::optional<BoxSpan> FindTopLevelBox(std::istream& file, uint64_t length, uint64_t offset,
                                       const char* type);

// The header at `stream`'s position as its fields stand (ReadBoxHeaderFields:
// no size judged), for a walk of a stream with rules of its own for sizes
// (the camera layout walk): its first 8 bytes are kept in `first`, the
// 64-bit size behind a size field of 1 is read too, and the stream is left
// right behind the header. Nothing when the stream ends inside the header.
std::optional<BoxHeader> ReadBoxHeaderFrom(std::istream& stream, uint8_t (&first)[kBoxHeaderSize]);

}  // namespace spatialmux
