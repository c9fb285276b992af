#pragma once
// The batch conversion: spatialmux -o DIR [-j N] [--overwrite] INPUT...
//
// The conversion machinery runs one job per process (its reader and writer
// slots, job state and signal handling are process-wide), so the batch runs
// every movie as a child process of this same program:
//   spatialmux --progress-fd 3 -- INPUT DIR/.NAME.spatialmux-partial.mov
// reads its progress and its messages through pipes, and renames the hidden
// output into place once the child has verified it and exited with 0.

#include <string>
#include <vector>

#include "audio/AmbisonicRotation.h"
#include "control/job/SpatialChoice.h"

namespace spatialmux {

struct BatchRequest {
    std::vector<std::string> inputs;  // files and folders
    std::string outputDir;
    int jobs = 1;
    bool overwrite = false;
    // Handed to every child conversion as --audio and --audio-bitrate ("":
    // not given). `format` ("", "mov", "mp4") names the outputs; "" means
    // .mp4 when the audio is AAC or Opus, else .mov.
    std::string audio;
    std::string audioBitRate;
    std::string format;
    // Handed to every child conversion as --ambisonics and --projection:
    // what the movies that are not the camera's do not say.
    SpatialChoice spatial;
    // Handed to every child conversion as --rotate-audio (the identity: not
    // given): the turn of each movie's sound field.
    AmbisonicRotation rotateAudio;
};

// The outputs' extension for the request: ".mov" or ".mp4".
std::string BatchOutputExtension(const BatchRequest& request);

// Exit status: 0 no movie failed (files that are not camera movies, and
// outputs that exist without --overwrite, are skipped), 1 a conversion
// failed, 2 the run did not start (a missing input, two inputs for one output
// name, DIR not a folder), 128 + the signal when SIGINT, SIGTERM or SIGHUP
// stopped it. `argv0` helps find the program to start when the system cannot
// name it.
int RunBatch(const BatchRequest& request, const char* argv0);

// The reason a child gave for its failure, from what it printed: the text
// after its last "error!! ", else the last of `alertTexts` it showed, else
// its last line; empty when it printed nothing.
std::string ChildFailureReason(const std::string& printed,
                               const std::vector<std::string>& alertTexts);

}  // namespace spatialmux
