// The box search that every step of the walk (and the metadata transplant)
// uses: box headers are read one after another from the stream's position and
// every box of another type is skipped, never descended into. Each header is
// read by the box floor as its fields stand; the sizes are judged here, by
// this walk's own rules (below), not by the floor's.

#include <cstdint>

#include "iso/BoxWalk.h"
#include "movie/MovieReader.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// A search gives up after this many headers that did not end it.
constexpr int kMaxHeadersPerSearch = 1000;

bool AtEnd(std::istream& stream) {
    return stream.peek() == std::istream::traits_type::eof();
}

}  // namespace

// Landing positions: on a matching type, the first byte of the box's payload
// with boxHeader holding its header. A box with a 64-bit size ends the search
// as found whatever its type, 8 bytes beyond its end (the payload of the box
// that follows it); the metadata transplant steps back over those 8 bytes.
// A size field of 0 reads the same header again until the header limit.
bool MovieReader::FindBox(const char* type, std::istream& source) {
    if (AtEnd(source)) {
        return false;
    }
    for (int headers = 0; headers < kMaxHeadersPerSearch; ++headers) {
        const std::optional<BoxHeader> header = ReadBoxHeaderFrom(source, boxHeader);
        if (!header) {
            return false;
        }
        if (header->headerSize == kLargeBoxHeaderSize) {
            if (header->size < kLargeBoxHeaderSize) {
                return false;
            }
            const std::optional<uint64_t> here = StreamPosition(source);
            const std::optional<uint64_t> length = StreamLength(source);
            if (!here || !length) {
                return false;
            }
            const uint64_t distance = header->size - 8;
            if (distance > static_cast<uint64_t>(INT64_MAX) - *here) {
                return false;
            }
            const uint64_t landing = *here + distance;
            if (landing > *length) {
                // Nothing lies beyond the end to be stepped over.
                source.seekg(static_cast<std::streamoff>(landing), std::ios::beg);
                return static_cast<bool>(source);
            }
            return MoveBy(source, static_cast<int64_t>(distance));
        }
        if (header->Is(type)) {
            return true;
        }
        // The size as it stands: 0 moves back onto the same header, a size
        // below 8 back into it.
        if (!MoveBy(source, static_cast<int64_t>(header->size) - 8) || !StreamPosition(source)) {
            return false;
        }
        if (AtEnd(source)) {
            return false;
        }
    }
    return false;
}

}  // namespace spatialmux
