#include "control/job/JobPreflight.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "control/job/OutputCommit.h"
#include "control/job/OutputContainer.h"
#include "control/job/TemporaryNames.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "movie/SpatialMetadata.h"
#include "platform/LocalizedStrings.h"
#include "platform/PathParts.h"

namespace spatialmux {

namespace {

PreflightRefusal Refusal(const std::string& cause, const char* key, const std::string& file,
                         const std::string& more = std::string(),
                         const std::string& folder = std::string()) {
    // Names as they are shown: a line break in one stays on the alert's line.
    std::string message = platform::LocalizedString(key);
    message = platform::FillPlaceholder(message, "{file}", platform::ControlsEscaped(file));
    message = platform::FillPlaceholder(message, "{cause}", more);
    message = platform::FillPlaceholder(message, "{folder}", platform::ControlsEscaped(folder));
    return PreflightRefusal{file + ": " + cause + (more.empty() ? "" : ": " + more), message};
}

}  // namespace

bool IsCameraMovie(const std::string& path) {
    // Only a regular file that opens is read: a pipe or a device could
    // block forever, and the reader prints a line for a file it cannot open.
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
    if (!std::ifstream(path, std::ios::binary)) return false;
    MovieReader reader(kFrameSize);
    return reader.Open(path, kFrameSize) == MovieReader::kOpenReady;
}

bool IsOthersSpatialMovie(const std::string& path) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
    std::string ignored;
    const auto metadata = ReadMovieMetadata(path, &ignored);
    return metadata && CarriesSpatialMetadata(*metadata) && !WrittenBySpatialmux(*metadata);
}

bool IsFootage(const std::string& path) {
    return IsCameraMovie(path) || IsOthersSpatialMovie(path);
}

std::optional<PreflightRefusal> CheckInputFile(const std::string& input) {
    struct stat facts {};
    if (stat(input.c_str(), &facts) != 0) {
        if (errno == ENOENT) return Refusal("does not exist", "refuse.input.missing", input);
        return Refusal("cannot be read", "refuse.input.unreadable", input, std::strerror(errno));
    }
    // A pipe or a device would block the reader or never end; a folder is
    // no movie.
    if (!S_ISREG(facts.st_mode)) {
        return Refusal("is not a regular file", "refuse.input.notfile", input);
    }
    // Opened without waiting, even if the file were swapped for a pipe now.
    const int fd = open(input.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Refusal("cannot be read", "refuse.input.unreadable", input, std::strerror(errno));
    }
    close(fd);
    return std::nullopt;
}

namespace {

std::optional<PreflightRefusal> CheckPlace(const std::string& output, bool conversion) {
    struct stat facts {};
    // Through a link: the file it points to is what gets replaced.
    if (stat(output.c_str(), &facts) == 0) {
        if (S_ISDIR(facts.st_mode)) {
            return Refusal("is a folder", "refuse.output.folder", output);
        }
        if (S_ISREG(facts.st_mode)) {
            // Footage of the user's is never replaced by a conversion: the
            // likely mistake is "spatialmux A.MP4 B.MP4" for two clips.
            if (IsCameraMovie(output)) {
                return Refusal("is a camera movie and is not replaced", "refuse.output.movie",
                               output);
            }
            if (IsOthersSpatialMovie(output)) {
                return Refusal("is a 360 movie that spatialmux did not write and is not replaced",
                               "refuse.output.footage", output);
            }
        } else {
            return Refusal("is not a regular file", "refuse.output.notfile", output);
        }
    }
    if (conversion && !ContainerCarriesConversion(ContainerFor(output))) {
        return Refusal("name the output .mov (PCM audio) or .mp4 (AAC or Opus audio)",
                       "refuse.output.container", output);
    }
    const std::string finalPath = OutputCommit::FinalPathFor(output);
    if (!TemporaryNames::For(finalPath)) {
        return Refusal("the name is too long for the hidden temporary files beside it",
                       "refuse.output.longname", output);
    }
    const std::string folder = platform::FolderOf(finalPath);
    struct stat folderFacts {};
    if (stat(folder.c_str(), &folderFacts) != 0 || !S_ISDIR(folderFacts.st_mode)) {
        return Refusal("the folder does not exist", "refuse.output.nofolder", output, std::string(),
                       folder);
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return Refusal("the folder cannot be written", "refuse.output.readonly", output,
                       std::strerror(errno), folder);
    }
    return std::nullopt;
}

}  // namespace

std::optional<PreflightRefusal> CheckOutputPlace(const std::string& output) {
    return CheckPlace(output, true);
}

std::optional<PreflightRefusal> CheckOutputPlaceAnyContainer(const std::string& output) {
    return CheckPlace(output, false);
}

}  // namespace spatialmux
