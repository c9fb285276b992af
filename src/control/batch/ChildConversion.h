#pragma once
// One movie of a planned batch, converted by a child process of the
// command-line program: whether it is started at all, the child's command
// line, the finished output moved into place, and what a child that could
// not clean up left behind removed. The batch (BatchRun) and the windowed
// queue (spatialmux-gui) both convert this way.

#include <string>
#include <vector>

#include "audio/AmbisonicRotation.h"
#include "control/batch/BatchPlan.h"
#include "control/job/SpatialChoice.h"

namespace spatialmux {

// Why a planned movie is not converted.
enum class ChildSkip {
    None,
    OutputIsInput,         // the output would be the input file itself
    OutputIsAnotherInput,  // the output is another input of the batch
    OutputExists,          // the output exists and is not to be replaced
    OutputIsFootage,       // the output is footage (IsFootage): never replaced
};

ChildSkip SkipBeforeStart(const BatchItem& item, bool overwrite);

// Why footage at `output` stays, in English: "is a camera movie and is not
// replaced", or the same of a 360 movie spatialmux did not write.
std::string FootageWords(const std::string& output);

struct ChildConversionOptions {
    // How the child reports its progress, e.g. {"--progress-fd", "3"}.
    std::vector<std::string> report;
    std::string audio;              // --audio, "" for the container's default
    std::string audioBitRate;       // --audio-bitrate, ""
    bool remux = false;             // --remux
    SpatialChoice spatial;          // --ambisonics, --projection
    AmbisonicRotation rotateAudio;  // --rotate-audio, unless the identity
};

// The arguments after the program's name: the child converts the input
// into the item's hidden partial name ("--" keeps an input whose name starts
// with a dash from being read as an option).
std::vector<std::string> ChildConversionArguments(const BatchItem& item,
                                                  const ChildConversionOptions& options);

// After a child exited with 0: renames the partial output onto the output
// (never replacing an existing one unless `overwrite`, and never a camera
// movie), durably. On failure the partial is removed and `why` says what
// went wrong; a rename done whose folder could not be synced says so in
// `warning`.
bool PlaceFinishedOutput(const BatchItem& item, bool overwrite, std::string* why,
                         std::string* warning = nullptr);

// What a child left when it could not clean up (killed after a grace
// time): the partial output, and its own hidden files beside it. Only what
// this run made goes: never the file that lay at the partial name when the
// batch was planned (BatchItem::partialFound), never a camera movie.
void RemoveLeftovers(const BatchItem& item);

}  // namespace spatialmux
