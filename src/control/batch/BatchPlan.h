#pragma once
// What a batch conversion will do, decided before anything starts: the movies
// found among the inputs, the output name of each, and every reason the run
// must not start at all (a missing input, two inputs for one output name).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ExclusiveFile.h"

namespace spatialmux {

struct BatchItem {
    std::string input;    // the path as found
    std::string name;     // the input's file name, for messages ("A.MP4")
    std::string output;   // DIR/A.mov
    std::string partial;  // the hidden name it is converted to: DIR/.A.spatialmux-partial.mov
    uint64_t inputSize = 0;
    // Set when the output would be the input file itself and the input is
    // the output of another input (an earlier run's): never converted. (Any
    // other such movie's output is named NAME-360.EXT.)
    bool outputIsInput = false;
    // Set when the output is another input of the batch (a folder converted
    // into itself finds the earlier outputs): it is never replaced, not even
    // with --overwrite, since it may be a camera movie that is only named
    // like an output.
    bool outputIsAnotherInput = false;
    // What lay at the partial name when the batch was planned (device and
    // inode); nothing when the name was free. That file is not this run's:
    // the clean-up never removes it.
    std::optional<platform::FileIdentity> partialFound;
};

struct BatchPlan {
    std::vector<BatchItem> items;
    // Each one stops the run before it starts, one line each.
    std::vector<std::string> problems;
};

// Plans the batch of `inputs` (files and folders) into `outputDir`. A file
// given by name is taken whatever its extension; a folder contributes every
// .mp4 and .mov file beneath it (any letter case) in name order, leaving out
// hidden files and folders and the output folder itself (the outputs of an
// earlier run are not inputs). A file reached twice is taken once.
// The outputs are named with `extension` (".mov" or ".mp4"). Where that name
// would be the movie itself (A.mov into its own folder; R0010001.MP4 as
// .mp4 on a card that does not tell case apart, platform::FileFacts::
// SameFile), the output is OutputNameBesideItself's first name that no
// other movie's output has; but a movie that is another input's output (A.mov
// beside A.MP4, B-360.mov beside B.mov) is an earlier run's and is skipped.
BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outputDir,
                    const std::string& extension = ".mov");

// The files a batch of `inputs` takes, in the order PlanBatch sees them: a
// file given by name whatever its extension, the .mp4 and .mov files beneath
// a folder as PlanBatch describes (`outputDir` is left out). An input that
// is missing, or neither a file nor a folder, and a folder that cannot be
// read add a line to `problems`.
std::vector<std::string> FindBatchInputs(const std::vector<std::string>& inputs,
                                         const std::string& outputDir,
                                         std::vector<std::string>& problems);

// True for names ending in .mp4 or .mov, any letter case.
bool IsMovieFileName(const std::string& name);

// "A.MP4" -> "A.mov", "clip.v2.mp4" -> "clip.v2.mov", "notes" -> "notes.mov";
// with ".mp4": "A.MOV" -> "A.mp4".
std::string OutputFileName(const std::string& inputName, const std::string& extension = ".mov");

// The names offered for the output of a movie whose plain output name is
// the movie itself: "A.mov" -> "A-360.mov", then "A-360-2.mov", "A-360-3.mov",
// ...: the first one that `taken` does not refuse.
std::string OutputNameBesideItself(const std::string& inputName, const std::string& extension,
                                   const std::function<bool(const std::string& name)>& taken);

// The hidden name an output is converted to before it is renamed into place:
// "A.mov" -> ".A.spatialmux-partial.mov", "A.mp4" -> ".A.spatialmux-partial.mp4"
// (it keeps the extension, which tells the remux the container).
std::string PartialFileName(const std::string& outputName);

}  // namespace spatialmux
