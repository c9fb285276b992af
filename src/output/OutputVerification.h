#pragma once
// The last step of a conversion: the finished output is opened again with
// libavformat and checked against the input from headers and indexes alone
// (no media data is read a second time): the same video packets (at least
// one; each of the same size, decoded and shown at the same time, the times
// shown read from each file's own video track; the input's 360 video, not
// merely its first), every kept track's packets, four ambisonic audio
// channels with every sampling instant, the spherical metadata, and the
// transplanted boxes in moov. An output edited from a copy of its input
// also keeps every video packet where the input has it, and none of them
// lies in the bytes the edit wrote. Each movie's index must agree with its
// own video tables packet for packet (offset and size): where it does not,
// or a table cannot be read, nothing can be compared and the output fails
// with that cause. For encoded audio the
// checks follow the codec: AAC's decoder reports its own "4.0" layout (the
// SA3D box is what marks it ambisonic), Opus reports "ambisonic 1" from its
// channel mapping family 2; the length may differ from the input's by the
// encoder's last, partly filled frame. Audio copied from the input as it
// is must be the input's: its codec, its sampling instants, and its
// packets (CheckCopiedAudio).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "output/EditPlan.h"
#include "output/Remux.h"

namespace spatialmux::output {

struct OutputExpectations {
    std::string inputPath;      // the camera movie the output was made from
    int64_t audioInstants = 0;  // the sampling instants the input's audio holds
    // The input had a spherical uuid box, so the output's video trak must
    // carry it.
    bool sphericalUuid = true;
    AudioCodec codec = AudioCodec::Pcm;  // how the audio was written
    // For an output edited from a copy of the input: every byte the edit
    // wrote over the copy (as CoveredBytes gives them).
    std::optional<std::vector<ByteRange>> editWrites = std::nullopt;
    // The input's audio was copied as it is (`codec` names its codec): the
    // output's audio is compared with the input's, packet by packet.
    bool audioCopied = false;
    // The input's 360 video and the tracks the output keeps behind the
    // audio: the output's first video stream is compared with that video,
    // and its streams from the third on, one for one, with the kept tracks
    // (their codec and every packet's size and decode time); it holds no
    // other stream.
    TrackChoice tracks = {};
};

struct OutputVerdict {
    bool ok = false;
    std::string reason;  // what does not match, when not ok
};

OutputVerdict VerifyOutput(const std::string& outputPath, const OutputExpectations& expected);

// The input's video index (libavformat's, from its headers) against its
// own video tables, as VerifyOutput holds every input to them: the cause
// when a packet is not where the tables place a sample, or the tables
// cannot be read; nothing when they agree or the movie has no video
// libavformat reads. Asked before any work, so that such an input is
// refused rather than remuxed and then failed.
std::optional<std::string> InputIndexDisagreement(const std::string& inputPath);

}  // namespace spatialmux::output
