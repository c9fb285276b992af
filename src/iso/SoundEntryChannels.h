#pragma once
// How many channels a sound track has, as its own sample entry says: the
// PCM sample entry's channel count (version 0 and 1) or its version-2
// count, AAC's decoder configuration (the AudioSpecificConfig's channel
// configuration in esds, also inside a QuickTime wave box) and the Opus
// header (dOps: its output channel count, which its channel mapping must
// fit). This is the count a decoder delivers; a box that describes the
// channels (SA3D, chan) is a declaration, to be held against it, never
// taken in its place. Every size is checked against the bytes given.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux {

struct SoundEntryChannels {
    uint32_t channels = 0;  // 0: the entry does not say (AAC with a program config element)
    std::string from;       // what said it: "the sample entry", "the Opus header", ...
    // The entry contradicts itself (an Opus header whose mapping does not
    // fit its count), in words; empty when it does not.
    std::string problem;
};

// Reads a whole sound sample entry (`entry` starts with its header, `size`
// its bytes). A count of 0 and no problem when the entry is too short for
// its fields or of an unknown version.
SoundEntryChannels ReadSoundEntryChannels(const uint8_t* entry, std::size_t size);

// The count a chan box states: its layout tag's low 16 bits, its bitmap's
// channels or its channel descriptions; nothing when it states none (the
// unknown layout, a count of 0).
std::optional<uint32_t> ChannelLayoutCount(uint32_t tag, uint32_t bitmap, std::size_t descriptions);

}  // namespace spatialmux
