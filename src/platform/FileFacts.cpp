#include "platform/FileFacts.h"

#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/PathParts.h"

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
    return (!error && same) || SameNameInAnotherCase(a, b);
}

namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Whether `folder` holds an entry spelled exactly `name`.
bool HasEntrySpelled(const std::string& folder, const std::string& name) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
    // A folder that cannot be listed is taken to tell case apart.
    if (!listing) return true;
    while (const dirent* entry = readdir(listing.get())) {
        if (name == entry->d_name) return true;
    }
    return false;
}

}  // namespace

bool SameNameInAnotherCase(const std::string& a, const std::string& b) {
    const std::string nameA = FileNameOf(a);
    const std::string nameB = FileNameOf(b);
    if (nameA == nameB || !EqualIgnoringCase(nameA, nameB)) return false;
    const std::string folder = FolderOf(a);
    std::error_code error;
    if (folder != FolderOf(b) && !fs::equivalent(folder, FolderOf(b), error)) return false;
    struct stat facts {};
    if (lstat(a.c_str(), &facts) != 0 || lstat(b.c_str(), &facts) != 0) return false;
    // Two entries spelled apart are two files; a name that resolves without
    // an entry of its own spelling is the other one, found regardless of case.
    return !HasEntrySpelled(folder, nameB) || !HasEntrySpelled(folder, nameA);
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
