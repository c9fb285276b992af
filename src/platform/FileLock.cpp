#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace spatialmux::platform {

FileLock::Result FileLock::TryAcquire(const std::string& path, std::optional<FileLock>& lock,
                                      std::string* why) {
    // A holder removes the lock file before it lets the lock go. Whoever
    // opened the old file meanwhile locks a file without a name: the check
    // below sends it round again to the current one, so that two processes
    // never both hold the name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int raw = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (raw < 0) {
            if (why != nullptr) *why = std::strerror(errno);
            return Result::Failed;
        }
        UniqueFd fd(raw);
        if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return Result::Busy;
            if (why != nullptr) *why = std::strerror(errno);
            return Result::Failed;
        }
        struct stat held {};
        struct stat named {};
        if (fstat(fd.Get(), &held) != 0) {
            if (why != nullptr) *why = std::strerror(errno);
            return Result::Failed;
        }
        if (lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            lock.emplace(FileLock(path, std::move(fd)));
            return Result::Held;
        }
    }
    if (why != nullptr) *why = "the lock file keeps changing";
    return Result::Failed;
}

FileLock::~FileLock() {
    if (!fd.Valid()) return;
    unlink(path.c_str());
    fd.Reset();
}

}  // namespace spatialmux::platform
