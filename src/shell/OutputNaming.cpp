#include "shell/OutputNaming.h"

#include <algorithm>
#include <cctype>

namespace spatialmux {

namespace {

void RemoveEvery(std::string& text, const std::string& piece) {
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) {
        text.erase(at, piece.size());
    }
}

std::size_t EndWithoutTrailingSlashes(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    return end;
}

}  // namespace

std::string LastPathComponent(const std::string& path) {
    const std::size_t end = EndWithoutTrailingSlashes(path);
    if (end == 1 && path[0] == '/') return "/";
    const std::size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(begin, end - begin);
}

std::string DeletingLastPathComponent(const std::string& path) {
    const std::size_t end = EndWithoutTrailingSlashes(path);
    if (end == 0 || (end == 1 && path[0] == '/')) return end == 0 ? std::string() : "/";
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) return std::string();
    std::size_t folderEnd = slash;
    while (folderEnd > 0 && path[folderEnd - 1] == '/') --folderEnd;
    return folderEnd == 0 ? "/" : path.substr(0, folderEnd);
}

std::string ProposedOutputName(const std::string& inputFileName) {
    std::string name = inputFileName;
    RemoveEvery(name, ".mp4");
    RemoveEvery(name, ".MP4");
    return name;
}

std::string ProposedOutputNameBeside(const std::string& inputFileName) {
    return ProposedOutputNameBeside(
        inputFileName, [&inputFileName](const std::string& name) { return name == inputFileName; },
        [](const std::string&) { return false; });
}

std::string ProposedOutputNameBeside(const std::string& inputFileName, const NameTest& isInput,
                                     const NameTest& exists) {
    const std::string proposed = ProposedOutputName(inputFileName);
    const std::string saved = WithMovieExtension(proposed);
    if (!isInput(saved)) return proposed;
    // The proposal ends in ".mov" or ".mp4" (any case) here: keep its spelling.
    const std::size_t dot = saved.size() - 4;
    const std::string stem = saved.substr(0, dot) + "-360";
    const std::string extension = saved.substr(dot);
    std::string name = stem + extension;
    for (int number = 2; exists(name) || isInput(name); ++number) {
        name = stem + "-" + std::to_string(number) + extension;
    }
    return name;
}

std::string WithMovieExtension(const std::string& path) {
    const std::string name = LastPathComponent(path);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool hasStem = lower.size() > 4;
    if (hasStem && (lower.compare(lower.size() - 4, 4, ".mov") == 0 ||
                    lower.compare(lower.size() - 4, 4, ".mp4") == 0)) {
        return path;
    }
    return path + ".mov";
}

}  // namespace spatialmux
