#pragma once
// Files this run creates itself: a new name is taken only when nothing has
// it yet (not a file, not a symbolic link, not a folder), so that a file
// planted under the name is never opened, truncated or written through.

#include <optional>
#include <string>

#include "platform/ChildProcess.h"

namespace spatialmux::platform {

// Creates `path` exclusively (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0644 minus the
// umask) and opens it for reading and writing. Nothing, with errno's value in
// `error` when given, when the name is taken or the folder refuses (EEXIST:
// something already has the name, whatever it is).
std::optional<UniqueFd> CreateExclusive(const std::string& path, int* error = nullptr);

// Removes `path` only when it is still the file with `device` and `inode`
// (what this run created), never what replaced it. True when it is gone or
// was never there; false, with the cause in `why`, when the removal failed.
bool RemoveIfSameFile(const std::string& path, unsigned long long device, unsigned long long inode,
                      std::string* why = nullptr);

// The device and inode of the file behind `fd`.
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOfFd(int fd);
// Of `path` itself (a symbolic link is not followed).
std::optional<FileIdentity> IdentityOfPath(const std::string& path);

}  // namespace spatialmux::platform
