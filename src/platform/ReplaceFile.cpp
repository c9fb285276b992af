#include "platform/ReplaceFile.h"
#include "platform/PathParts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace spatialmux::platform {

namespace {

bool SyncPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

bool ReplaceFile(const std::string& from, const std::string& to, std::string* why) {
    struct stat existing {};
    const bool replacing = lstat(to.c_str(), &existing) == 0;
    if (replacing && !SyncPath(from, O_RDONLY)) {
        if (why != nullptr)
            *why = std::string("could not sync the new file: ") + std::strerror(errno);
        return false;
    }
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        if (why != nullptr) *why = std::strerror(errno);
        return false;
    }
    // The rename has happened; a folder that cannot be synced (some network
    // mounts) does not undo it. A new name replaced nothing: a crash can only
    // lose the new file, never an old one, and is not worth a wait for the
    // disk (tens of milliseconds on XFS).
    if (replacing) SyncPath(FolderOf(to), O_RDONLY | O_DIRECTORY);
    return true;
}

}  // namespace spatialmux::platform
