#pragma once
// Facts about files and volumes that the job checks need. Tests install
// their own figures in place of the real file system's.

#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux::platform {

class FileFacts {
public:
    virtual ~FileFacts() = default;
    virtual bool Exists(const std::string& path) const;
    // Size in bytes of a regular file; nothing when it cannot be read.
    virtual std::optional<uint64_t> Size(const std::string& path) const;
    // Bytes available to this user on the volume that holds `path`.
    virtual std::optional<uint64_t> FreeSpace(const std::string& path) const;
    // True when both paths name the same existing file (links and other
    // spellings included, and the same name in another letter case in a
    // folder that does not tell case apart: SameNameInAnotherCase).
    virtual bool SameFile(const std::string& a, const std::string& b) const;
};

// True when `b` is `a`'s name spelled in another letter case ("A.MP4",
// "A.mp4") in a folder that takes it for `a`: a FAT32 or exFAT card, or any
// folder that does not tell case apart. The folder itself is asked, not its
// file system's name: `a` and `b` both resolve, and no entry of the folder
// is spelled as one of the two. (On such a folder the identity of the two names is
// usually the same as well, but not on every driver.)
bool SameNameInAnotherCase(const std::string& a, const std::string& b);

FileFacts& CurrentFileFacts();
// Installs `facts` (not owned); nullptr restores the real file system.
void InstallFileFacts(FileFacts* facts);

}  // namespace spatialmux::platform
