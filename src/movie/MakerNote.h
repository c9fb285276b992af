#pragma once
// The camera's maker note: the TIFF-style directories in the payload of the
// ZMKN box, from which the software text and the maker-note flag are taken.
//
// The chain followed, every offset counted from the first payload byte (the
// TIFF header) and read as a signed 32-bit number, every field big-endian:
//   first directory at 8:  0x8769 -> second directory, 0x0131 -> software text
//   second directory:      0x927C -> maker note, whose directory starts 8 later
//   maker-note directory:  0x4001 -> sub-directory
//   sub-directory:         0x1011 -> flag (value field non-zero)
// A directory is a 16-bit entry count followed by 12-byte entries.

#include <cstddef>
#include <cstdint>
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

// Reads the directory at `offset` of the payload into `entries`. False, with
// `entries` empty, when the count or any entry lies outside the payload.
bool ReadIfdEntries(const uint8_t* payload, std::size_t size, int64_t offset,
                    std::vector<IfdEntry>& entries);

// Index of the first entry with `tag`, -1 when there is none.
int32_t FindIfdEntry(const std::vector<IfdEntry>& entries, uint16_t tag);

// Follows the whole chain inside the `size` bytes at `payload`. Nothing
// outside them is read: a missing tag or directory, or an offset or count
// that leaves the payload, gives an empty text and a false flag.
MakerNoteFacts ParseMakerNote(const uint8_t* payload, std::size_t size);

}  // namespace spatialmux
