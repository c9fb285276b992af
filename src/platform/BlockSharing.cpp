#include "platform/BlockSharing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/UniqueFd.h"

#ifndef __APPLE__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

namespace spatialmux::platform {

std::optional<uint32_t> SharedBlockSize(int fd, const std::string& folder) {
#if defined(__APPLE__) || !defined(O_TMPFILE) || !defined(FICLONERANGE)
    (void)fd;
    (void)folder;
    return std::nullopt;
#else
    struct stat source {};
    if (fstat(fd, &source) != 0 || !S_ISREG(source.st_mode) || source.st_size <= 0) {
        return std::nullopt;
    }
    const UniqueFd probe(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    struct statfs volume {};
    if (!probe.Valid() || fstatfs(probe.Get(), &volume) != 0 || volume.f_bsize <= 0 ||
        volume.f_bsize > UINT32_MAX) {
        return std::nullopt;
    }
    // A clone range must be whole blocks, or end at the source's end.
    const auto block = static_cast<uint64_t>(volume.f_bsize);
    file_clone_range range{};
    range.src_fd = fd;
    range.src_length = static_cast<uint64_t>(source.st_size) <= block ? 0 : block;
    if (ioctl(probe.Get(), FICLONERANGE, &range) != 0) return std::nullopt;
    return static_cast<uint32_t>(block);
#endif
}

}  // namespace spatialmux::platform
