#include "platform/FileFacts.h"

#include <atomic>
#include <filesystem>
#include <system_error>

namespace spatialmux::platform {

namespace fs = std::filesystem;

bool FileFacts::Exists(const std::string& path) const {
    std::error_code error;
    return fs::exists(fs::path(path), error);
}

std::optional<uint64_t> FileFacts::Size(const std::string& path) const {
    std::error_code error;
    const auto size = fs::file_size(fs::path(path), error);
    if (error) return std::nullopt;
    return static_cast<uint64_t>(size);
}

std::optional<uint64_t> FileFacts::FreeSpace(const std::string& path) const {
    std::error_code error;
    const fs::space_info info = fs::space(fs::path(path), error);
    if (error) return std::nullopt;
    return static_cast<uint64_t>(info.available);
}

bool FileFacts::SameFile(const std::string& a, const std::string& b) const {
    std::error_code error;
    const bool same = fs::equivalent(fs::path(a), fs::path(b), error);
    return !error && same;
}

namespace {
FileFacts realFileSystem;
std::atomic<FileFacts*> installedFacts{nullptr};
}  // namespace

FileFacts& CurrentFileFacts() {
    FileFacts* facts = installedFacts.load();
    return facts != nullptr ? *facts : realFileSystem;
}

void InstallFileFacts(FileFacts* facts) {
    installedFacts = facts;
}

}  // namespace spatialmux::platform
