#include "platform/PathParts.h"

#include <algorithm>
#include <cctype>

namespace spatialmux::platform {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// Where the last component's extension starts, or npos.
std::size_t ExtensionAt(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return dot != std::string::npos && dot > nameStart ? dot : std::string::npos;
}

}  // namespace

std::string LowerExtension(const std::string& path) {
    const std::size_t at = ExtensionAt(path);
    if (at == std::string::npos) return std::string();
    std::string extension = path.substr(at);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string WithEnding(const std::string& path, const std::string& ending) {
    return path.substr(0, ExtensionAt(path)) + ending;
}

}  // namespace spatialmux::platform
