#pragma once
// What a movie is and whether it will do: the report that spatialmux --check
// prints (control/check) and that the sound map and the headphone render
// read their input by. A camera movie is judged convertible or not (with the
// step of the walk that refused it); any other movie is judged ready or not
// for 360 players with first-order ambisonics. Only reads: no file is
// written or changed.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/job/SpatialChoice.h"
#include "movie/AmbisonicLayout.h"
#include "movie/MediaProbe.h"
#include "movie/SpatialMetadata.h"

namespace spatialmux {

struct CameraFacts {
    std::string audioFormat;  // the sample entry's format code, e.g. "sowt"
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int64_t samples = 0;  // sampling instants
    std::string softwareText;
    bool makerNoteFlag = false;
    float gain = 1.0f;  // what a conversion applies to the first channel
    double gainDecibels = 0.0;
};

// CheckReport::spatial of a 360 movie that is not the camera's (also the
// "spatial" of --check --json, which the queue window reads).
inline constexpr const char* kSpatialDeclared = "first-order ambisonics, declared";
inline constexpr const char* kSpatialUndeclared = "four undeclared channels";
// The "spatial" of a camera movie (or of a file with the camera's marks).
inline constexpr const char* kSpatialCamera = "camera movie";

struct CheckReport {
    enum class Kind {
        CameraMovie,  // the camera's layout was found (convertible or not)
        OtherMovie,   // libavformat opens it, but it is not a camera movie
        NotAMovie,    // neither
    };
    std::string path;
    Kind kind = Kind::NotAMovie;

    // Camera movies.
    std::optional<CameraFacts> camera;
    bool convertible = false;
    std::string notConvertible;  // the reason, when not convertible
    // Why the camera walk refused a file that turned out not to be a camera
    // movie at all.
    std::string notCamera;
    // A movie that is there only in part: the byte its data or boxes reach
    // past the file's end (0: none), and what is missing, in words.
    uint64_t cutShortAt = 0;
    std::string damaged;

    // Every movie libavformat opens.
    std::optional<MediaProbe> probe;
    std::string probeProblem;
    std::optional<MovieMetadata> metadata;
    std::string metadataProblem;

    // Other movies.
    bool ready = false;
    std::vector<std::string> notReady;  // each reason

    // What the movie is for 360 players: "camera movie", "first-order
    // ambisonics, declared", "four undeclared channels" or "not spatial".
    std::string spatial;
    // The spatialmux commands that make a ready movie of it (for channels
    // that are not declared, one for each reading, said in the first part);
    // none when it is ready already or no conversion can.
    struct Command {
        std::string when;  // empty, or what the command takes the movie for
        std::string line;
        SpatialChoice choice;  // what the command says of the movie
    };
    std::vector<Command> commands;

    // The file passes the check: convertible, or ready.
    bool Passed() const { return convertible || ready; }
};

// CheckReport::kind in words: the report's first line and the "kind" of
// --check --json (which the queue window reads): kKindCameraMovie,
// kKindOtherMovie or "not a movie".
inline constexpr const char* kKindCameraMovie = "camera movie";
inline constexpr const char* kKindOtherMovie = "movie";
const char* KindName(CheckReport::Kind kind);

CheckReport CheckMovieFile(const std::string& path);

// For a movie that is not a camera movie: the track channels that carry W,
// Y, Z and X, as its first audio track's SA3D box declares them (first
// order, ACN, SN3D). Nothing, with `problem` saying why, when it declares
// no such ambisonics.
std::optional<AcnChannels> DeclaredAmbisonicChannels(const CheckReport& report,
                                                     std::string* problem);

// The channels of a movie's first audio track as the track itself says
// (its sample entry: the PCM count, AAC's decoder configuration, the Opus
// header); libavformat's count, which an SA3D box sets, only where the
// entry says none. 0 without an audio track.
int TrackChannels(const CheckReport& report);

// What a description of the first audio track says against the track
// itself, in words ("SA3D says 4 channels, the track has 6"): an SA3D or
// chan box with another count, head-locked stereo, an Opus header that
// contradicts itself, a declaring box that cannot be read. Empty when every
// declaration agrees with the track. Such a movie is refused before
// anything is written, never converted as the declaration says.
std::string ChannelDeclarationConflict(const CheckReport& report);

// A fragmented movie (its samples in moof boxes) is refused before any
// writing: the verification reads a movie's own tables, which do not place
// such samples.
inline constexpr const char* kFragmentedMovie =
    "it is a fragmented movie (its samples lie in movie fragments, moof boxes), which "
    "spatialmux cannot convert: make it a plain movie first";
bool Fragmented(const CheckReport& report);

// The first audio track holds no samples (libavformat's index of it is
// empty): nothing to convert, refused before any writing.
inline constexpr const char* kNoAudioSamples = "its audio track holds no samples";
bool AudioTrackEmpty(const CheckReport& report);

// A spherical video box of the first video track that cannot be read (an
// sv3d box without its projection), in words; empty when none.
std::string UnreadableVideoDeclaration(const CheckReport& report);

// Why a movie that is not a camera movie cannot be read to its end: a
// stream whose index reaches past the end of the file; empty when none does.
std::string CutShortProblem(const CheckReport& report);

// A damaged or incomplete file in a few words, for a list of skipped
// files: "cut short at byte N" (the file ends there, before all of its
// data), "damaged: ..."; "" when the check found it whole.
std::string DamageWords(const CheckReport& report);

// What libavformat makes of a file: ProbeMedia, or a stand-in.
using MediaProber =
    std::function<std::optional<MediaProbe>(const std::string& path, std::string* problem)>;

// The report with `probeMedia` asked in place of libavformat (only for a
// regular file that opens): everything else is read from the file's boxes
// without FFmpeg.
CheckReport CheckMovieFile(const std::string& path, const MediaProber& probeMedia);

// Whether a checked movie can be mapped: a convertible camera movie, or a
// movie with four-channel first-order ACN/SN3D ambisonics.
bool SoundMapAvailable(const CheckReport& report);

}  // namespace spatialmux
