#pragma once
// An advisory lock that one process at a time holds on a name: the lock file
// is created if needed, locked with flock, and removed by its holder at the
// end. The lock dies with its process, so a holder killed with SIGKILL
// never blocks a later one (its lock file stays behind and is reused).

#include <optional>
#include <string>

#include "platform/ChildProcess.h"

namespace spatialmux::platform {

class FileLock {
public:
    enum class Result { Held, Busy, Failed };

    // Tries once, without waiting. Busy when another process holds it;
    // Failed (cause in `why`) when the lock file cannot be made or locked.
    static Result TryAcquire(const std::string& path, std::optional<FileLock>& lock,
                             std::string* why = nullptr);

    FileLock(FileLock&& other) noexcept = default;
    FileLock& operator=(FileLock&& other) noexcept = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Removes the lock file, then lets the lock go.
    ~FileLock();

private:
    FileLock(std::string lockPath, UniqueFd lockFd)
        : path(std::move(lockPath)), fd(std::move(lockFd)) {}
    std::string path;
    UniqueFd fd;
};

}  // namespace spatialmux::platform
