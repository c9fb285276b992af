#include "control/batch/BatchPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace spatialmux {

namespace fs = std::filesystem;

namespace {

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
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

    std::set<fs::path> seen;  // by canonical path: the same file reached twice
    // Output names by lowered spelling: a camera card, and many disks a card
    // is copied to, do not tell letter case apart.
    std::map<std::string, std::string> claimedBy;
    for (const fs::path file : files) {
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(file, error);
        if (!seen.insert(error ? file : canonical).second) continue;

        BatchItem item;
        item.input = file.string();
        item.name = file.filename().string();
        const std::string outputName = OutputFileName(item.name, extension);
        item.output = (fs::path(outputDir) / outputName).string();
        item.partial = (fs::path(outputDir) / PartialFileName(outputName)).string();
        item.partialFound = platform::IdentityOfPath(item.partial);
        const auto size = fs::file_size(file, error);
        item.inputSize = error ? 0 : static_cast<uint64_t>(size);
        std::error_code same;
        item.outputIsInput = fs::equivalent(file, item.output, same);

        // A movie that is its own output (converting a folder into itself a
        // second time finds the first run's outputs) is skipped, never
        // written: it claims no name.
        const auto [at, fresh] = item.outputIsInput
                                     ? std::make_pair(claimedBy.end(), true)
                                     : claimedBy.emplace(Lowered(outputName), item.input);
        if (!fresh) {
            plan.problems.push_back(at->second + " and " + item.input +
                                    " would both be written to " + item.output);
            continue;
        }
        plan.items.push_back(std::move(item));
    }
    for (const BatchItem& self : plan.items) {
        if (!self.outputIsInput) continue;
        for (BatchItem& other : plan.items) {
            if (&other != &self && Lowered(other.output) == Lowered(self.output)) {
                other.outputIsAnotherInput = true;
            }
        }
    }
    return plan;
}

}  // namespace spatialmux
