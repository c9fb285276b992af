#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/PathParts.h"
#include "platform/UniqueFd.h"

namespace spatialmux::platform {

namespace {

// 0 when `path` (opened with `flags`) is on the disk, else the error.
int SyncPath(const std::string& path, int flags) {
    const UniqueFd fd(open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.Valid()) return errno;
    if (fsync(fd.Get()) == 0) return 0;
    const int error = errno;
    // A file system without syncing (some special and network mounts)
    // keeps nothing back that could be waited for.
    return error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP ? 0 : error;
}

}  // namespace

bool SyncFile(const std::string& path, std::string* why) {
    const int error = SyncPath(path, O_RDONLY);
    if (error == 0) return true;
    if (why != nullptr) *why = "could not write " + path + " to the disk: " + std::strerror(error);
    return false;
}

std::string SyncFoldersAfterRename(const std::string& from, const std::string& to) {
    std::vector<std::string> folders = {FolderOf(to)};
    if (FolderOf(from) != folders.front()) folders.push_back(FolderOf(from));
    std::string warning;
    for (const std::string& folder : folders) {
        if (const int error = SyncPath(folder, O_RDONLY | O_DIRECTORY)) {
            if (!warning.empty()) warning += "; ";
            warning +=
                "could not write the folder " + folder +
                " to the disk (the new name may not survive a power cut): " + std::strerror(error);
        }
    }
    return warning;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string* why,
                 std::string* warning) {
    if (!SyncFile(from, why)) return false;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        if (why != nullptr) *why = std::strerror(errno);
        return false;
    }
    const std::string folders = SyncFoldersAfterRename(from, to);
    if (warning != nullptr) *warning = folders;
    return true;
}

}  // namespace spatialmux::platform
