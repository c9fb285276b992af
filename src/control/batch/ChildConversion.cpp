#include "control/batch/ChildConversion.h"

#include <filesystem>
#include <system_error>

#include "control/job/JobPreflight.h"
#include "control/job/OutputCommit.h"
#include "control/job/TemporaryNames.h"
#include "platform/MoveIntoPlace.h"

namespace spatialmux {

namespace fs = std::filesystem;

namespace {

// Removes `path` unless it is the file `found` (what lay there before this
// run) or a camera movie.
void RemoveIfMadeByThisRun(const std::string& path,
                           const std::optional<platform::FileIdentity>& found) {
    const auto now = platform::IdentityOfPath(path);
    if (!now || (found && *now == *found) || IsFootage(path)) return;
    platform::RemoveIfSameFile(path, now->device, now->inode);
}

}  // namespace

std::string FootageWords(const std::string& output) {
    return IsCameraMovie(output)
               ? "is a camera movie and is not replaced"
               : "is a 360 movie that spatialmux did not write (footage) and is not replaced";
}

ChildSkip SkipBeforeStart(const BatchItem& item, bool overwrite) {
    if (item.outputIsInput) return ChildSkip::OutputIsInput;
    if (item.outputIsAnotherInput) return ChildSkip::OutputIsAnotherInput;
    std::error_code error;
    if (fs::exists(fs::symlink_status(item.output, error))) {
        if (!overwrite) return ChildSkip::OutputExists;
        if (IsFootage(item.output)) return ChildSkip::OutputIsFootage;
    }
    return ChildSkip::None;
}

std::vector<std::string> ChildConversionArguments(const BatchItem& item,
                                                  const ChildConversionOptions& options) {
    std::vector<std::string> arguments = options.report;
    if (!options.audio.empty()) arguments.insert(arguments.end(), {"--audio", options.audio});
    if (!options.audioBitRate.empty()) {
        arguments.insert(arguments.end(), {"--audio-bitrate", options.audioBitRate});
    }
    if (options.remux) arguments.push_back("--remux");
    if (options.spatial.ambisonics != AmbisonicsChoice::FromMovie) {
        arguments.insert(arguments.end(),
                         {"--ambisonics", AmbisonicsWord(options.spatial.ambisonics)});
    }
    if (options.spatial.projection != ProjectionChoice::FromMovie) {
        arguments.insert(arguments.end(),
                         {"--projection", ProjectionWord(options.spatial.projection)});
    }
    if (!options.rotateAudio.IsIdentity()) {
        // Joined, so that a negative yaw is not taken for an option.
        arguments.push_back("--rotate-audio=" + AmbisonicRotationText(options.rotateAudio));
    }
    arguments.insert(arguments.end(), {"--", item.input, item.partial});
    return arguments;
}

bool PlaceFinishedOutput(const BatchItem& item, bool overwrite, std::string* why,
                         std::string* warning) {
    // Footage that came to the output's name since the start is kept.
    if (overwrite && IsFootage(item.output)) {
        if (why != nullptr) *why = item.output + " " + FootageWords(item.output);
    } else if (platform::MoveIntoPlace(item.partial, item.output, overwrite, why, warning)) {
        return true;
    }
    RemoveLeftovers(item);
    return false;
}

void RemoveLeftovers(const BatchItem& item) {
    RemoveIfMadeByThisRun(item.partial, item.partialFound);
    RemoveIfMadeByThisRun(TemporaryWavPath(item.partial), std::nullopt);
    OutputCommit::RemoveLeftovers(item.partial);
}

}  // namespace spatialmux
