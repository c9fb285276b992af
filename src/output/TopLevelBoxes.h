#pragma once
// A walk over the top-level boxes of a file, header by header, on the box
// floor's (iso/BoxWalk.h): each header must lie whole inside the file and
// its box must end inside the file, with 32-bit and 64-bit sizes alike.
// Nothing is descended into.

#include <cstdint>
#include <istream>
#include <optional>

#include "iso/BoxHeader.h"

namespace spatialmux::output {

struct TopLevelBox {
    uint64_t offset = 0;  // of its header, from the start of the file
    BoxHeader header;

    uint64_t End() const { return offset + header.size; }
};

// The box whose header starts at `offset` of `file` (`fileSize` bytes long).
// Nothing when the header cannot be read or the box would pass the file's end.
std::optional<TopLevelBox> ReadTopLevelBox(std::istream& file, uint64_t fileSize, uint64_t offset);

// The first top-level box of `type` at or behind `offset`, which must be the
// start of a box. Nothing when there is none, when a box met on the way is
// damaged (the walk cannot go past it), or when kMaxTopLevelBoxes boxes were
// passed first.
std::optional<TopLevelBox> FindTopLevelBox(std::istream& file, uint64_t fileSize, uint64_t offset,
                                           const char* type);

}  // namespace spatialmux::output
