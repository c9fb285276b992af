#pragma once
// Which engine converts a movie: a QuickTime (.mov) output with PCM audio is
// edited (a copy of the input with the audio rewritten in place) unless the
// remux is forced for the process (--remux); every other output is remuxed.
// The conversion asks it, and the batch for the free space a child needs.

#include <string>

#include "output/Remux.h"

namespace spatialmux {

// For the rest of the process (a batch passes it on to its children).
void ForceRemux(bool force);
bool RemuxForced();

bool UsesEditEngine(const std::string& output, output::AudioCodec codec);

}  // namespace spatialmux
