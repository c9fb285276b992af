#pragma once
// spatialmux INPUT OUTPUT for a movie that is not the camera's: one video
// track and one audio track of four channels of first-order ambisonics,
// declared by the movie (an SA3D box, or a layout libavformat reads as
// "ambisonic 1") or by the user (--ambisonics ambix|fuma). The audio is
// decoded, put in ACN/SN3D order with an identity map, and remuxed with the
// video packets as they are; the video's spherical metadata is kept (V1 and
// V2 made to agree) or, with --projection equirectangular, written. Audio
// that is in that order already, in a codec the output holds, goes out as
// it is (CopiesAudio): a QuickTime PCM output is then an edited copy of the
// input, any other output a remux that copies the audio packets.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio/RecordingMetadata.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/AmbisonicLayout.h"
#include "output/Remux.h"
#include "output/SphericalVideoBoxes.h"

namespace spatialmux {

class wrap_ffmpeg;

// The refusal's line on standard output is "INPUT: " this and the reason.
inline constexpr const char* kNotConvertible = "not convertible as 360 ambisonics: ";

// How one such movie becomes the output.
struct FoaPlan {
    AcnChannels channels{};  // the track channel of W, Y, Z and X
    float wGain = 1.0f;      // FuMa's W is 3 dB down: x sqrt(2) to SN3D
    std::string declaredBy;  // what said the channels are ambisonic, in words
    int sampleRate = 0;
    std::string codec;             // the audio's, libavcodec's name ("pcm_s16le", "aac")
    bool ambisonicLayout = false;  // libavformat reads "ambisonic 1" (Opus: family 2)
    uint32_t maxBitRate = 0;       // the audio sample entry's btrt maximum; 0 without one
    std::vector<uint8_t> videoSampleEntry;
    std::vector<uint8_t> uuidBox;  // the V1 box, the input's or made here
    output::SphericalVideo sphere;
    RecordingMetadata recording;
};

// The plan for the movie `report` describes (not a camera movie), or the
// reason in English why it is refused before anything is written. The one
// decision: --check calls a movie ready, and offers a command, only where
// this plans it (CheckMovieFile asks it).
std::variant<FoaPlan, std::string> PlanFoaConversion(const CheckReport& report,
                                                     const SpatialChoice& choice);

// True when the plan's audio needs no change for an output named `output`
// whose audio is `codec`: its channels are W Y Z X at SN3D levels already
// (the identity order, W not raised), and it is 16- or 24-bit PCM for a
// QuickTime PCM output, AAC for an AAC output, or Opus whose channel mapping
// family says ambisonics for an Opus output. Its bit rate is not looked at:
// a copy is what no change means, unless the user named a rate
// (--audio-bitrate), which only an encoder can give.
bool CopiesAudio(const FoaPlan& plan, const std::string& output,
                 const output::AudioEncoding& audio);

// A V1 uuid box saying an equirectangular sphere in `stereoMode` (0 mono,
// 1 top-bottom, 2 left-right).
std::vector<uint8_t> SphericalUuidBox(uint8_t stereoMode);

// A first-order SA3D box: periphonic, ACN, SN3D, map 0, 1, 2, 3.
std::vector<uint8_t> AcnSn3dSa3dBox();

// The conversion of such a movie into the hidden output that
// AppMainFuncProc prepared: 0 written and committed, -1 failed (reported,
// cleaned up) or cancelled.
int32_t ConvertFoaMovie(wrap_ffmpeg& controller, const std::string& input,
                        const std::string& output, const FoaPlan& plan,
                        const output::AudioEncoding& audio);

}  // namespace spatialmux
