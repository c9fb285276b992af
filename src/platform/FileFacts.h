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
    // spellings included).
    virtual bool SameFile(const std::string& a, const std::string& b) const;
};

FileFacts& CurrentFileFacts();
// Installs `facts` (not owned); nullptr restores the real file system.
void InstallFileFacts(FileFacts* facts);

}  // namespace spatialmux::platform
