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

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio/AmbisonicRotation.h"
#include "audio/RecordingMetadata.h"
#include "control/job/SpatialChoice.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/AmbisonicLayout.h"
#include "output/Remux.h"
#include "output/SphericalVideoBoxes.h"

namespace spatialmux {

// The refusal's line on standard output is "INPUT: " this and the reason.
inline constexpr const char* kNotConvertible = "not convertible as 360 ambisonics: ";

// What says that a movie's four channels are first-order ambisonics.
enum class FoaDeclaration {
    Sa3dBox,        // its SA3D box (the map is the box's)
    ChannelLayout,  // a layout libavformat reads as "ambisonic 1"
    User,           // the user (--ambisonics, or the droplet's question)
};

// A track that the output keeps as it is, behind the audio.
struct KeptTrack {
    int trackId = 0;
    std::size_t number = 0;  // its place among the movie's tracks, from 1
    std::string kind;        // "video", "data", "subtitle" ...
    std::string codec;       // libavcodec's name
};

// How one such movie becomes the output.
struct FoaPlan {
    AcnChannels channels{};  // the track channel of W, Y, Z and X
    float wGain = 1.0f;      // FuMa's W is 3 dB down: x sqrt(2) to SN3D
    FoaDeclaration declaredBy = FoaDeclaration::Sa3dBox;
    AmbisonicsChoice userSaid = AmbisonicsChoice::FromMovie;  // for FoaDeclaration::User
    int sampleRate = 0;
    std::string codec;             // the audio's, libavcodec's name ("pcm_s16le", "aac")
    bool ambisonicLayout = false;  // libavformat reads "ambisonic 1" (Opus: family 2)
    uint32_t maxBitRate = 0;       // the audio sample entry's btrt maximum; 0 without one
    // The 360 video (the track with spherical metadata, or the largest that
    // is not a cover picture) and every other track, kept as it is.
    output::TrackChoice tracks;
    std::vector<KeptTrack> kept;
    std::size_t trakCount = 0;  // the traks of its moov
    std::vector<uint8_t> videoSampleEntry;
    std::vector<uint8_t> uuidBox;  // the V1 box, the input's or made here
    output::SphericalVideo sphere;
    RecordingMetadata recording;
};

// What declared the channels, in words: "its SA3D box", "--ambisonics fuma".
std::string DeclarationWords(const FoaPlan& plan);

// The plan for the movie `report` describes (not a camera movie), or the
// reason in English why it is refused before anything is written. The one
// decision: --check calls a movie ready, and offers a command, only where
// this plans it (CheckMovieFile asks it).
std::variant<FoaPlan, std::string> PlanFoaConversion(const CheckReport& report,
                                                     const SpatialChoice& choice);

// Why no answer to what a movie does not say of itself (its channels, its
// projection: --ambisonics, --projection) makes it convertible, in the
// check's words: a camera movie the check refuses, a damaged one, one with
// two audio tracks or not four channels, ...; nothing when it converts with
// the right answers (or none). --check --json's "convertible" and "reason"
// for every movie, and what the windows refuse before asking anything.
std::optional<std::string> RefusedWhateverTheAnswers(const CheckReport& report);

// Why an output named `output` cannot hold one of the tracks the plan
// keeps (its container has no place for the codec), in English: the track
// would be dropped, so the conversion is refused before anything is written.
// Nothing when every kept track fits.
std::optional<std::string> KeptTrackProblem(const FoaPlan& plan, const std::string& output);

// Whether the edit engine can make the output: it writes a moov of the
// video and the audio track alone, so a movie with any other track is
// remuxed, which keeps them.
bool EditKeepsEveryTrack(const FoaPlan& plan);

// True when the plan's audio needs no change for an output named `output`
// whose audio is `codec`: no turn of the sound field (`rotation` is the
// identity), its channels are W Y Z X at SN3D levels already (the identity
// order, W not raised), and it is 16- or 24-bit PCM for a
// QuickTime PCM output, AAC for an AAC output, or Opus whose channel mapping
// family says ambisonics for an Opus output. Its bit rate is not looked at:
// a copy is what no change means, unless the user named a rate
// (--audio-bitrate), which only an encoder can give.
bool CopiesAudio(const FoaPlan& plan, const std::string& output, const output::AudioEncoding& audio,
                 const AmbisonicRotation& rotation);

// A V1 uuid box saying an equirectangular sphere in `stereoMode` (0 mono,
// 1 top-bottom, 2 left-right).
std::vector<uint8_t> SphericalUuidBox(uint8_t stereoMode);

// A V1 uuid box saying `sphere`: equirectangular, its stereo mode and, when
// its bounds leave out part of the sphere, the cropped area of one view of a
// `width` x `height` picture in pixels (so that players that read V1 only
// do not stretch it over the whole sphere). Nothing when that area cannot be
// said in whole pixels as V2 says it.
std::optional<std::vector<uint8_t>> SphericalUuidBoxFor(const output::SphericalVideo& sphere,
                                                        int width, int height);

// A first-order SA3D box: periphonic, ACN, SN3D, map 0, 1, 2, 3.
std::vector<uint8_t> AcnSn3dSa3dBox();

}  // namespace spatialmux
