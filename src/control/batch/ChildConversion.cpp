#include "control/batch/ChildConversion.h"

#include <filesystem>
#include <system_error>

#include "control/convert/OutputCommit.h"
#include "control/convert/wrap_ffmpeg.h"
#include "platform/MoveIntoPlace.h"

namespace spatialmux {

namespace fs = std::filesystem;

ChildSkip SkipBeforeStart(const BatchItem& item, bool overwrite) {
    if (item.outputIsInput) return ChildSkip::OutputIsInput;
    if (item.outputIsAnotherInput) return ChildSkip::OutputIsAnotherInput;
    std::error_code error;
    if (fs::exists(fs::symlink_status(item.output, error)) && !overwrite) {
        return ChildSkip::OutputExists;
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
    if (!options.ambisonics.empty()) {
        arguments.insert(arguments.end(), {"--ambisonics", options.ambisonics});
    }
    if (!options.projection.empty()) {
        arguments.insert(arguments.end(), {"--projection", options.projection});
    }
    arguments.insert(arguments.end(), {"--", item.input, item.partial});
    return arguments;
}

bool PlaceFinishedOutput(const BatchItem& item, bool overwrite, std::string* why,
                         std::string* warning) {
    if (platform::MoveIntoPlace(item.partial, item.output, overwrite, why, warning)) return true;
    RemoveLeftovers(item);
    return false;
}

void RemoveLeftovers(const BatchItem& item) {
    std::error_code ignored;
    fs::remove(item.partial, ignored);
    fs::remove(wrap_ffmpeg::TemporaryWavPath(item.partial), ignored);
    OutputCommit::RemoveLeftovers(item.partial);
}

}  // namespace spatialmux
