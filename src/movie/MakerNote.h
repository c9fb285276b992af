#pragma once
// The camera's maker note: the TIFF-style directories in the payload of the
// ZMKN box, from which the software text and the maker-note flag are taken.
//
// The payload starts with a TIFF header: "II" (little-endian) or "MM"
// (big-endian), 42, and the offset of the first directory. Every field of
// the chain is read in that byte order; a payload with neither mark holds
// no chain. The chain followed, every offset counted from the first payload
// byte and read as a signed 32-bit number:
//   first directory:       0x8769 -> second directory, 0x0131 -> software text
//   second directory:      0x927C -> maker note, whose directory starts 8 later
//   maker-note directory:  0x4001 -> sub-directory
//   sub-directory:         0x1011 -> flag (value field non-zero)
// A directory is a 16-bit entry count followed by 12-byte entries.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

struct IfdEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;
};

struct MakerNoteFacts {
    std::string softwareText;  // up to the first NUL, at most `count` bytes
    bool makerNoteFlag = false;
};

enum class TiffByteOrder { BigEndian, LittleEndian };

// The byte order named by the payload's first two bytes; nothing when they
// are neither "II" nor "MM".
std::optional<TiffByteOrder> TiffOrderOf(const uint8_t* payload, std::size_t size);

// Reads the directory at `offset` of the payload into `entries`. False, with
// `entries` empty, when the count or any entry lies outside the payload.
bool ReadIfdEntries(const uint8_t* payload, std::size_t size, int64_t offset,
                    std::vector<IfdEntry>& entries, TiffByteOrder order = TiffByteOrder::BigEndian);

// Index of the first entry with `tag`, -1 when there is none.
int32_t FindIfdEntry(const std::vector<IfdEntry>& entries, uint16_t tag);

// Follows the whole chain inside the `size` bytes at `payload`. Nothing
// outside them is read: a missing tag or directory, or an offset or count
// that leaves the payload, gives an empty text and a false flag.
MakerNoteFacts ParseMakerNote(const uint8_t* payload, std::size_t size);

}  // namespace spatialmux
