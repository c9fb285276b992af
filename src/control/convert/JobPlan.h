#pragma once
// One conversion as the preflight planned it: what the user asked for
// (JobOptions), and what the preflight decided once from it and from the
// input (JobPlan): the output's container and codec, and what the source
// is. The engines take the plan and decide none of it again.
//
// To add an option of the conversion: a field of JobOptions (with its
// default, which is what a front end that does not know it gets), filled
// from CommandLineRequest in the entry (control/ProgramEntry.cpp) and by
// any other front end that offers it; the preflight (wrap_ffmpeg_job.cpp)
// refuses what cannot work before anything is written, and the engines read
// it from `plan.options`.

#include <optional>
#include <string>

#include "audio/AmbisonicRotation.h"
#include "control/movieinfo/AnyFoaMovie.h"
#include "control/job/OutputFormat.h"
#include "control/job/SpatialChoice.h"

namespace spatialmux {

// What the user asks of one conversion, beside its input and output.
struct JobOptions {
    // --audio and --audio-bitrate as given; "" for the container's defaults
    // (ChooseOutputFormat judges them against the output's name).
    std::string audio;
    std::string audioBitRate;
    // --accept-short-audio: audio tables shorter than the track's duration
    // are converted as far as they go instead of refused.
    bool acceptShortAudio = false;
    // --ambisonics and --projection, for a movie that is not the camera's.
    SpatialChoice spatial;
    // --rotate-audio: the turn of the sound field the output gets, after the
    // channel order and the gain (the identity: none, and audio that needs
    // no change is copied as it is).
    AmbisonicRotation rotateAudio;
};

// What a front end hands the controller to start a job.
struct JobRequest {
    std::string input;
    std::string output;
    JobOptions options;
    // The output's format when the front end decided it already (the
    // command line refuses a wrong codec as a wrong command line); nothing:
    // the preflight decides it from `options`.
    std::optional<OutputFormat> format;
};

// What the source is.
enum class SourceKind {
    CameraMovie,  // the camera's movie (or one that carries its marks)
    FoaMovie,     // first-order ambisonics from any other source
};

struct JobPlan {
    std::string input;
    std::string output;
    OutputFormat format;  // container and audio codec, decided once
    SourceKind source = SourceKind::CameraMovie;
    // For SourceKind::FoaMovie: what declared its channels, their map, W's
    // gain, the video's spherical boxes; and whether its audio goes out as it
    // is (CopiesAudio), so that the free space and the engine agree.
    std::optional<FoaPlan> foa;
    bool copiesAudio = false;
    JobOptions options;
};

}  // namespace spatialmux
