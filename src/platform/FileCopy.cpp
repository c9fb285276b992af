#include "platform/FileCopy.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef __APPLE__
#include <copyfile.h>
#elif defined(__linux__)
#include <linux/fs.h>
#include <sys/vfs.h>
#endif

namespace spatialmux::platform {

namespace {

constexpr std::size_t kCopyBufferBytes = 1u << 20;
// Kernel copies go in steps this size so that progress and cancel are seen.
constexpr uint64_t kKernelCopyStep = 8ull << 20;

std::string Reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// ftruncate, skipped when the file has that length already: XFS takes any
// truncation that does not grow the file, to the same length too, as a cut
// and writes back every dirty page of the file when it is closed.
bool SetLength(int fd, uint64_t length) {
    struct stat facts {};
    if (fstat(fd, &facts) == 0 && static_cast<uint64_t>(facts.st_size) == length) return true;
    return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool Report(const CopyProgress& progress, uint64_t copied) {
    return !progress || progress(copied);
}

// The next run of data in [from, length) of `fd`: holes of a sparse input
// (a camera movie never has them, test and damaged files may) are skipped,
// so that the output stays as sparse. Without hole reporting the rest is
// one run. False when no data is left.
bool NextDataRun(int fd, uint64_t from, uint64_t length, uint64_t* start, uint64_t* end) {
    if (from >= length) return false;
#ifndef SEEK_DATA
    (void)fd;
    *start = from;
    *end = length;
    return true;
#else
    const off_t data = lseek(fd, static_cast<off_t>(from), SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO) return false;  // only a hole is left
        *start = from;
        *end = length;
        return true;
    }
    if (static_cast<uint64_t>(data) >= length) return false;
    const off_t hole = lseek(fd, data, SEEK_HOLE);
    *start = static_cast<uint64_t>(data);
    *end = hole < 0 ? length : std::min<uint64_t>(static_cast<uint64_t>(hole), length);
    return *end > *start;
#endif
}

#ifdef __linux__
// Shares the blocks of the first `length` bytes of `inFd` with `outFd`, as
// far as whole blocks go (the file system clones nothing else but a range
// that ends at the source's end); the caller copies the rest. The output is
// never cut shorter afterwards: XFS writes back a file's dirty pages when
// the last descriptor of a file that was truncated is closed, which would
// put the whole rewritten audio on the disk at once. Returns the bytes
// cloned, 0 when the file systems cannot share blocks (nothing written).
uint64_t ClonePrefix(int inFd, int outFd, uint64_t length, uint64_t sourceSize) {
    struct statfs volume {};
    if (fstatfs(outFd, &volume) != 0 || volume.f_bsize <= 0) return 0;
    const auto block = static_cast<uint64_t>(volume.f_bsize);
    const bool toTheEnd = length == sourceSize;
    const uint64_t cloned = toTheEnd ? length : length / block * block;
    if (cloned == 0) return 0;
    file_clone_range range{};
    range.src_fd = inFd;
    range.src_offset = 0;
    range.src_length = toTheEnd ? 0 : cloned;  // 0: up to the source's end
    range.dest_offset = 0;
    if (ioctl(outFd, FICLONERANGE, &range) != 0) return 0;
    return cloned;
}

// copy_file_range of [from, length). ReadWrite (with nothing copied) when
// the kernel or the file systems cannot do it, so that the caller falls back.
CopyMethod KernelCopy(int inFd, int outFd, uint64_t from, uint64_t length,
                      const CopyProgress& progress, std::string* error) {
    if (!SetLength(outFd, length)) {
        *error = Reason("truncate");
        return CopyMethod::Failed;
    }
    bool copiedAny = false;
    uint64_t start = 0;
    uint64_t end = 0;
    for (uint64_t done = from; NextDataRun(inFd, done, length, &start, &end); done = end) {
        for (done = start; done < end;) {
            loff_t inOffset = static_cast<loff_t>(done);
            loff_t outOffset = static_cast<loff_t>(done);
            const auto step = static_cast<std::size_t>(std::min(end - done, kKernelCopyStep));
            const ssize_t n = copy_file_range(inFd, &inOffset, outFd, &outOffset, step, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (!copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                                   errno == EINVAL || errno == EBADF)) {
                    return CopyMethod::ReadWrite;  // not available here: fall back
                }
                *error = Reason("copy_file_range");
                return CopyMethod::Failed;
            }
            if (n == 0) {
                *error = "the input ended early while copying";
                return CopyMethod::Failed;
            }
            copiedAny = true;
            done += static_cast<uint64_t>(n);
            if (!Report(progress, done)) return CopyMethod::Cancelled;
        }
    }
    if (!Report(progress, length)) return CopyMethod::Cancelled;
    return CopyMethod::KernelCopy;
}
#endif

CopyMethod ReadWriteCopy(int inFd, int outFd, uint64_t from, uint64_t length,
                         const CopyProgress& progress, std::string* error) {
    if (!SetLength(outFd, length)) {
        *error = Reason("truncate");
        return CopyMethod::Failed;
    }
    std::vector<uint8_t> buffer(kCopyBufferBytes);
    uint64_t start = 0;
    uint64_t end = 0;
    for (uint64_t done = from; NextDataRun(inFd, done, length, &start, &end); done = end) {
        for (done = start; done < end;) {
            const auto want =
                static_cast<std::size_t>(std::min<uint64_t>(end - done, buffer.size()));
            const ssize_t n = pread(inFd, buffer.data(), want, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                *error = n < 0 ? Reason("read") : "the input ended early while copying";
                return CopyMethod::Failed;
            }
            if (!WriteAllAt(outFd, done, buffer.data(), static_cast<std::size_t>(n))) {
                *error = Reason("write");
                return CopyMethod::Failed;
            }
            done += static_cast<uint64_t>(n);
            if (!Report(progress, done)) return CopyMethod::Cancelled;
        }
    }
    if (!Report(progress, length)) return CopyMethod::Cancelled;
    return CopyMethod::ReadWrite;
}

// pread or pwrite until all `count` bytes are through: both may move fewer
// bytes than asked, or be interrupted by a signal.
template <typename Transfer, typename Byte>
bool TransferAllAt(Transfer transfer, int fd, uint64_t offset, Byte* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = transfer(fd, bytes, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

const char* CopyMethodName(CopyMethod method) {
    switch (method) {
        case CopyMethod::Clone:
            return "clone";
        case CopyMethod::KernelCopy:
            return "kernel copy";
        case CopyMethod::ReadWrite:
            return "read/write copy";
        case CopyMethod::Failed:
            return "failed";
        case CopyMethod::Cancelled:
            return "cancelled";
    }
    return "failed";
}

CopyMethod CopyFileRange(int inFd, int outFd, uint64_t length, const CopyProgress& progress,
                         std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    struct stat in {};
    if (fstat(inFd, &in) != 0) {
        *error = Reason("stat");
        return CopyMethod::Failed;
    }
    if (static_cast<uint64_t>(in.st_size) < length) {
        *error = "the input is shorter than the range to copy";
        return CopyMethod::Failed;
    }
#ifdef __APPLE__
    // fcopyfile clones on APFS when it can (COPYFILE_CLONE) and copies
    // otherwise; the output is then cut to the range.
    if (fcopyfile(inFd, outFd, nullptr, COPYFILE_DATA | COPYFILE_CLONE) == 0 &&
        ftruncate(outFd, static_cast<off_t>(length)) == 0) {
        Report(progress, length);
        return CopyMethod::Clone;
    }
    if (ftruncate(outFd, 0) != 0) {
        *error = Reason("truncate");
        return CopyMethod::Failed;
    }
#elif defined(__linux__)
    const uint64_t cloned = ClonePrefix(inFd, outFd, length, static_cast<uint64_t>(in.st_size));
    if (cloned > 0) {
        if (!Report(progress, cloned)) return CopyMethod::Cancelled;
        if (cloned == length) return CopyMethod::Clone;
        // Less than a block is left; any copy will do.
        CopyMethod tail = KernelCopy(inFd, outFd, cloned, length, progress, error);
        if (tail == CopyMethod::ReadWrite) {
            tail = ReadWriteCopy(inFd, outFd, cloned, length, progress, error);
        }
        return tail == CopyMethod::KernelCopy || tail == CopyMethod::ReadWrite ? CopyMethod::Clone
                                                                               : tail;
    }
    const CopyMethod kernel = KernelCopy(inFd, outFd, 0, length, progress, error);
    if (kernel != CopyMethod::ReadWrite) return kernel;
    if (ftruncate(outFd, 0) != 0) {
        *error = Reason("truncate");
        return CopyMethod::Failed;
    }
#endif
    return ReadWriteCopy(inFd, outFd, 0, length, progress, error);
}

bool SetCopyOnWriteExtentHint(int fd, uint32_t bytes) {
#if defined(FS_IOC_FSGETXATTR) && defined(FS_XFLAG_COWEXTSIZE)
    struct fsxattr attributes {};
    if (ioctl(fd, FS_IOC_FSGETXATTR, &attributes) != 0) return false;
    attributes.fsx_xflags |= FS_XFLAG_COWEXTSIZE;
    attributes.fsx_cowextsize = bytes;
    return ioctl(fd, FS_IOC_FSSETXATTR, &attributes) == 0;
#else
    (void)fd;
    (void)bytes;
    return false;
#endif
}

std::optional<uint32_t> FileBlockSize(int fd) {
    struct stat facts {};
    if (fstat(fd, &facts) != 0 || facts.st_blksize <= 0) return std::nullopt;
    return static_cast<uint32_t>(facts.st_blksize);
}

void ReadAhead(int fd, uint64_t offset, uint64_t count) {
#ifdef POSIX_FADV_WILLNEED
    posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(count), POSIX_FADV_WILLNEED);
#else
    (void)fd;
    (void)offset;
    (void)count;
#endif
}

bool WriteAllAt(int fd, uint64_t offset, const uint8_t* bytes, std::size_t count) {
    return TransferAllAt(pwrite, fd, offset, bytes, count);
}

bool ReadAllAt(int fd, uint64_t offset, uint8_t* bytes, std::size_t count) {
    return TransferAllAt(pread, fd, offset, bytes, count);
}

UniqueFd OpenForReading(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

bool TruncateTo(int fd, uint64_t length) {
    return SetLength(fd, length);
}

bool EmptyAgain(int fd) {
    return ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0;
}

bool Sync(int fd) {
    return fsync(fd) == 0;
}

}  // namespace spatialmux::platform
