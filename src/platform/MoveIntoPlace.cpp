#include "platform/MoveIntoPlace.h"

#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace spatialmux::platform {

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* error,
                   std::string* warning) {
    if (replace) {
        std::string why;
        if (ReplaceFile(from, to, &why, warning)) return true;
        if (error != nullptr) *error = "could not rename the finished output: " + why;
        return false;
    }
    // On the disk before its name is: see ReplaceFile.
    if (!SyncFile(from, error)) return false;
    int result = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename (some network and
        // FAT mounts): look first, which leaves only a short race.
        struct stat existing {};
        if (lstat(to.c_str(), &existing) == 0) {
            errno = EEXIST;
        } else {
            result = std::rename(from.c_str(), to.c_str());
        }
    }
    if (result == 0) {
        const std::string folders = SyncFoldersAfterRename(from, to);
        if (warning != nullptr) *warning = folders;
        return true;
    }
    if (error != nullptr) {
        *error = errno == EEXIST
                     ? std::string("the output appeared while converting")
                     : std::string("could not rename the finished output: ") + std::strerror(errno);
    }
    return false;
}

}  // namespace spatialmux::platform
