#include "control/batch/BatchPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "platform/FileFacts.h"

namespace spatialmux {

namespace fs = std::filesystem;

namespace {

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

std::string FileName(const std::string& path) {
    return fs::path(path).filename().string();
}

bool IsHidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

// The movies beneath `folder` in name order.
std::vector<fs::path> MoviesBeneath(const fs::path& folder, const fs::path& outputDir,
                                    std::vector<std::string>& problems) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied,
                                          error);
    if (error) {
        problems.push_back(folder.string() + ": cannot read the folder (" + error.message() + ")");
        return found;
    }
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) break;
        const fs::directory_entry& entry = *walk;
        std::error_code typeError;
        if (entry.is_directory(typeError)) {
            std::error_code same;
            if (IsHidden(entry.path()) || fs::equivalent(entry.path(), outputDir, same)) {
                walk.disable_recursion_pending();
            }
            continue;
        }
        if (IsHidden(entry.path()) || !IsMovieFileName(entry.path().filename().string())) continue;
        if (entry.is_regular_file(typeError)) found.push_back(entry.path());
    }
    if (error) {
        problems.push_back(folder.string() + ": cannot read the folder (" + error.message() + ")");
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

bool IsMovieFileName(const std::string& name) {
    if (name.size() < 4) return false;
    const std::string ending = Lowered(name.substr(name.size() - 4));
    return ending == ".mp4" || ending == ".mov";
}

std::string OutputFileName(const std::string& inputName, const std::string& extension) {
    std::string stem = fs::path(inputName).filename().string();
    const std::size_t dot = stem.rfind('.');
    // A leading dot is part of the name, not an extension.
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return stem + extension;
}

std::string OutputNameBesideItself(const std::string& inputName, const std::string& extension,
                                   const std::function<bool(const std::string& name)>& taken) {
    const std::string plain = OutputFileName(inputName, extension);
    const std::string stem = plain.substr(0, plain.size() - extension.size()) + "-360";
    std::string name = stem + extension;
    for (int number = 2; taken(name); ++number) {
        name = stem + "-" + std::to_string(number) + extension;
    }
    return name;
}

std::string PartialFileName(const std::string& outputName) {
    std::string stem = outputName;
    std::string extension = ".mov";
    if (stem.size() >= 4 && IsMovieFileName(stem)) {
        extension = stem.substr(stem.size() - 4);
        stem.resize(stem.size() - 4);
    }
    return "." + stem + ".spatialmux-partial" + extension;
}

std::vector<std::string> FindBatchInputs(const std::vector<std::string>& inputs,
                                         const std::string& outputDir,
                                         std::vector<std::string>& problems) {
    std::vector<std::string> files;
    for (const std::string& input : inputs) {
        std::error_code error;
        const fs::file_status status = fs::status(input, error);
        if (fs::is_directory(status)) {
            for (const fs::path& found : MoviesBeneath(input, outputDir, problems)) {
                files.push_back(found.string());
            }
        } else if (fs::is_regular_file(status)) {
            files.push_back(input);
        } else if (fs::exists(status)) {
            problems.push_back(input + ": not a file or folder");
        } else {
            problems.push_back(input + ": no such file or folder");
        }
    }
    return files;
}

BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outputDir,
                    const std::string& extension) {
    BatchPlan plan;
    const std::vector<std::string> files = FindBatchInputs(inputs, outputDir, plan.problems);
    const platform::FileFacts& facts = platform::CurrentFileFacts();

    std::set<fs::path> seen;  // by canonical path: the same file reached twice
    std::vector<std::string> taken;
    for (const fs::path file : files) {
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(file, error);
        if (seen.insert(error ? file : canonical).second) taken.push_back(file.string());
    }
    // Whether `output` is one of the inputs (the movie itself included).
    const auto isInput = [&taken, &facts](const std::string& output) {
        std::error_code missing;
        if (!fs::exists(fs::symlink_status(output, missing))) return false;
        return std::any_of(taken.begin(), taken.end(),
                           [&](const std::string& input) { return facts.SameFile(input, output); });
    };
    // Each input's plain output, and whether that is the input itself.
    const auto inFolder = [&outputDir](const std::string& name) {
        return (fs::path(outputDir) / name).string();
    };
    std::vector<bool> itself;
    for (const std::string& file : taken) {
        itself.push_back(facts.SameFile(file, inFolder(OutputFileName(FileName(file), extension))));
    }
    // An input that another input's output is named after (A.mov beside
    // A.MP4, B-360.mov beside B.mov: converting a folder into itself a
    // second time finds the first run's outputs) is an earlier output.
    const auto earlierOutput = [&](std::size_t index) {
        for (std::size_t other = 0; other < taken.size(); ++other) {
            if (other == index) continue;
            const std::string name = FileName(taken[other]);
            const std::string output =
                itself[other] ? OutputNameBesideItself(name, extension,
                                                       [](const std::string&) { return false; })
                              : OutputFileName(name, extension);
            if (Lowered(FileName(taken[index])) == Lowered(output) &&
                facts.SameFile(taken[index], inFolder(output))) {
                return true;
            }
        }
        return false;
    };
    // Output names by lowered spelling: a camera card, and many disks a card
    // is copied to, do not tell letter case apart.
    std::map<std::string, std::string> claimedBy;
    for (std::size_t index = 0; index < taken.size(); ++index) {
        const std::string& file = taken[index];
        BatchItem item;
        item.input = file;
        item.name = FileName(file);
        std::string outputName = OutputFileName(item.name, extension);
        // A movie that would be its own output (a .mov into its own folder,
        // an .MP4 as .mp4 on a card) gets a name of its own beside it, one
        // that no other movie's output has; unless it is an earlier output
        // itself, which is never converted.
        if (itself[index] && earlierOutput(index)) {
            item.outputIsInput = true;
        } else if (itself[index]) {
            outputName = OutputNameBesideItself(item.name, extension, [&](const std::string& name) {
                return claimedBy.count(Lowered(name)) > 0;
            });
        }
        item.output = (fs::path(outputDir) / outputName).string();
        item.partial = (fs::path(outputDir) / PartialFileName(outputName)).string();
        item.partialFound = platform::IdentityOfPath(item.partial);
        std::error_code error;
        const auto size = fs::file_size(file, error);
        item.inputSize = error ? 0 : static_cast<uint64_t>(size);
        // Another input under the output's name (converting a folder into
        // itself a second time finds the first run's outputs) is never
        // written; it claims no name.
        item.outputIsAnotherInput = !item.outputIsInput && isInput(item.output);
        const auto [at, fresh] = item.outputIsInput || item.outputIsAnotherInput
                                     ? std::make_pair(claimedBy.end(), true)
                                     : claimedBy.emplace(Lowered(outputName), item.input);
        if (!fresh) {
            plan.problems.push_back(at->second + " and " + item.input +
                                    " would both be written to " + item.output);
            continue;
        }
        plan.items.push_back(std::move(item));
    }
    return plan;
}

}  // namespace spatialmux
