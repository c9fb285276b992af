#include "platform/ExclusiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace spatialmux::platform {

std::optional<UniqueFd> CreateExclusive(const std::string& path, int* error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return std::nullopt;
    }
    return UniqueFd(fd);
}

std::optional<FileIdentity> IdentityOfFd(int fd) {
    struct stat facts {};
    if (fstat(fd, &facts) != 0) return std::nullopt;
    return FileIdentity{static_cast<unsigned long long>(facts.st_dev),
                        static_cast<unsigned long long>(facts.st_ino)};
}

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
    struct stat facts {};
    if (lstat(path.c_str(), &facts) != 0) return std::nullopt;
    return FileIdentity{static_cast<unsigned long long>(facts.st_dev),
                        static_cast<unsigned long long>(facts.st_ino)};
}

bool RemoveIfSameFile(const std::string& path, unsigned long long device, unsigned long long inode,
                      std::string* why) {
    const auto now = IdentityOfPath(path);
    if (!now) return true;                                          // gone already
    if (now->device != device || now->inode != inode) return true;  // not ours any more
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    if (why != nullptr) *why = std::strerror(errno);
    return false;
}

}  // namespace spatialmux::platform
