#pragma once
// spatialmux --binaural: the movie's 360 sound rendered for headphones, so
// that it can be heard before it is uploaded and played right by any player.
// The first-order ambisonics (a camera movie's as its conversion will write
// them: channels 1, 3, 4, 2 with the gain on channel 1; or any movie's that
// an SA3D box or Opus channel mapping family 2 declares) are turned so that
// the listener faces the chosen direction, decoded to eight virtual
// speakers at the corners of a cube (audio/CubeDecoder.h) and convolved
// with a head-related transfer function set from a SOFA file
// (output/ffmpeg/BinauralRenderer.h). OUTPUT's extension says what is
// written: .wav (16-bit PCM), .m4a (AAC), .mp4 (the movie's video packets
// copied as a conversion copies them, its spherical metadata kept, the
// ears as the only audio track, AAC) or .mov (the same with 16-bit PCM).
//
// Levels: a first pass renders the whole audio and measures its peak; the
// second renders it again with the gain that puts that peak at -1 dBFS
// (room for the AAC encoder's overshoot), so that every render plays at the
// level of any finished sound, but never more than +40 dB. The convolution
// lowers its eight speakers by 3 dB each, 24 dB in all: at +24 dB broadband
// sound in front reaches the ears about as loud as the recording's own W
// channel, tones of a few hundred hertz some 10 dB below it (the HRTFs are
// weaker there). +40 dB brings any ordinary recording to -1 dBFS, while a
// near-silent one (a quiet room, a muted microphone) is not raised into
// loud noise.
// Nothing clips: a louder set of HRTFs gets a gain below 0 dB.
//
// Nothing is read or written before the HRTF file is known to be usable;
// the output is written through an OutputCommit as a conversion's is, so a
// failure or a stop leaves nothing behind.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/AmbisonicRotation.h"
#include "audio/EquirectangularGrid.h"

namespace spatialmux {

// The HRTF set libmysofa installs on Debian (the MIT KEMAR measurements).
inline constexpr const char* kDefaultHrtfPath = "/usr/share/libmysofa/default.sofa";

// The level the loudest sample is brought to, and the most gain given.
inline constexpr double kBinauralPeakDecibels = -1.0;
inline constexpr double kBinauralMostGainDecibels = 40.0;

enum class BinauralContainer {
    Wav,          // .wav: 16-bit PCM
    M4a,          // .m4a: AAC
    Mp4,          // .mp4: the video and AAC
    Mov,          // .mov: the video and 16-bit PCM
    Unsupported,  // anything else
};

// By the extension of the name's last component, letter case ignored.
BinauralContainer BinauralContainerFor(const std::string& output);

// "16-bit PCM WAV", "AAC .m4a", ...: what a container holds, in words.
const char* BinauralContainerWords(BinauralContainer container);

struct BinauralRequest {
    std::string input;
    std::string output;
    Direction look;    // the direction the listener faces
    std::string hrtf;  // a SOFA file; empty: kDefaultHrtfPath
    // The turn of the sound field before the listener faces `look`, as a
    // conversion with --rotate-audio would write it.
    AmbisonicRotation rotation;
};

struct BinauralResult {
    std::string outputPath;
    std::string hrtfPath;
    BinauralContainer container = BinauralContainer::Unsupported;
    bool cameraMovie = false;
    int sampleRate = 0;
    int64_t instants = 0;       // written for each ear
    double gainDecibels = 0.0;  // given to the render
    double peakDecibels = 0.0;  // of the written samples (dBFS); silent: kSilentPeak
    int64_t samplesOverFullScale = 0;
};

inline constexpr double kSilentPeak = -200.0;

// NAME.binaural.m4a beside the movie NAME.EXT.
std::string DefaultBinauralPath(const std::string& movie);

// What a render into `output` that was killed before its clean-up left
// beside it: its lock and hidden files. Nothing while a render into that
// name is running.
void RemoveBinauralLeftovers(const std::string& output);

// Called with the share of the work done (0 to 100) as it goes; returns
// whether to go on. A false stops the render, which then removes what it
// wrote and reports "stopped".
using BinauralProgress = std::function<bool(float percent)>;

// Renders and writes the output. Nothing, with `problem` saying why (one
// English line that names the file concerned), when the request is refused
// or the render fails or is stopped; nothing is then left behind.
std::optional<BinauralResult> MakeBinaural(const BinauralRequest& request,
                                           const BinauralProgress& progress, std::string* problem);

// The lines the command line prints for a written render (each with its
// line end): the level, and what was written where.
std::string BinauralSummary(const BinauralRequest& request, const BinauralResult& result,
                            double seconds, uint64_t bytes);

}  // namespace spatialmux
