#pragma once
// What a movie's chan box says of its audio channels, in words, and the
// conflict when it names speakers for channels that SA3D says are
// ambisonics: a player that follows chan (VLC 3 does, for PCM) reorders
// them as speakers before it decodes the ambisonics, so that directions
// come out wrong.

#include <optional>
#include <string>
#include <vector>

#include "movie/SpatialMetadata.h"

namespace spatialmux {

// The layout in one line, e.g. "layout tag 0x00010000 (by bitmap), bitmap
// 0x107: left, right, centre, back centre" or "layout tag 0x00BE0004
// (ambisonics, ACN order, SN3D, 4 channels)".
std::string ChannelLayoutText(const ChannelLayoutFacts& chan);

// The speakers the layout gives the channels, in channel order. Nothing
// when it names none (ambisonics, discrete or unknown channels); an empty
// list for a speaker layout tag without names here.
std::optional<std::vector<std::string>> ChannelSpeakers(const ChannelLayoutFacts& chan);

// The warning for a chan box that names speakers beside an SA3D box,
// saying what a player that follows chan hears; empty when it names none.
std::string SpeakerConflict(const ChannelLayoutFacts& chan);

}  // namespace spatialmux
