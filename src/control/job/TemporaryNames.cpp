#include "control/job/TemporaryNames.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>

#include "platform/PathParts.h"

namespace spatialmux {

namespace {

constexpr std::size_t kNameMax = NAME_MAX;  // 255 on Linux
constexpr const char* kMark = ".spatialmux-";
constexpr const char* kTagCharacters = "abcdefghijklmnopqrstuvwxyz0123456789";
// Enough of an extension to tell a format by; a longer one is no extension.
constexpr std::size_t kLongestExtension = 16;

// The longest start of `text` of at most `bytes` bytes that does not end in
// the middle of a UTF-8 character.
std::string CutAtCharacter(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

uint32_t Fnv1a(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

std::optional<TemporaryNames> TemporaryNames::For(const std::string& finalPath) {
    const std::size_t slash = finalPath.rfind('/');
    TemporaryNames names;
    // The folder as a whole string each way: GCC 12 mistakes an assignment
    // of a short literal here for an overlapping copy under the sanitizers.
    names.folder = slash == std::string::npos ? std::string(".")
                   : slash == 0               ? std::string("/")
                                              : finalPath.substr(0, slash);
    std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= kLongestExtension) {
        names.extension = name.substr(dot);
    }
    const std::string mark = kMark;
    // "." NAME mark tag, then the longer of the extension and ".wav".
    const std::size_t ending = std::max<std::size_t>(names.extension.size(), 4);
    const std::size_t fixed = 1 + mark.size() + kTagLength + ending;
    if (fixed >= kNameMax) return std::nullopt;
    const std::size_t room = kNameMax - fixed;
    if (name.size() > room) {
        char hash[16];
        std::snprintf(hash, sizeof hash, "~%08x", Fnv1a(name));
        const std::string marked(hash);
        if (room <= marked.size()) return std::nullopt;
        name = CutAtCharacter(name, room - marked.size()) + marked;
    }
    names.namePrefix = "." + name + mark;
    names.prefix = (names.folder == "/" ? std::string("/") : names.folder + "/") + names.namePrefix;
    return names;
}

std::string TemporaryNames::NewTag() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 35);
    std::string tag;
    for (std::size_t i = 0; i < kTagLength; ++i) tag += kTagCharacters[pick(generator)];
    return tag;
}

bool TemporaryNames::IsTemporary(const std::string& entry) const {
    if (entry.size() < namePrefix.size() + kTagLength) return false;
    if (entry.compare(0, namePrefix.size(), namePrefix) != 0) return false;
    for (std::size_t i = namePrefix.size(); i < namePrefix.size() + kTagLength; ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    const std::string rest = entry.substr(namePrefix.size() + kTagLength);
    return rest == extension || rest == ".wav";
}

std::string TemporaryWavPath(const std::string& outputPath) {
    const std::size_t slash = outputPath.rfind('/');
    const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    std::string folder = platform::FolderOf(outputPath);
    if (folder.back() != '/') folder += '/';
    return folder + "." + name + ".wav";
}

}  // namespace spatialmux
