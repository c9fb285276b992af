#pragma once
// Copying the first bytes of one open file into another as cheaply as the
// file system allows: a clone that shares the blocks (copy-on-write), a copy
// inside the kernel, or a plain read/write loop. Also the descriptor helpers
// that an in-place edit of such a copy needs.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/UniqueFd.h"

namespace spatialmux::platform {

// How CopyFileRange copied, or that it failed.
enum class CopyMethod {
    Clone,       // blocks shared with the source (reflink)
    KernelCopy,  // copy_file_range
    ReadWrite,   // through a buffer in this process
    Failed,      // nothing usable was written (errno-like text in `error`)
    Cancelled,   // `progress` asked to stop
};

const char* CopyMethodName(CopyMethod method);

// Receives the bytes copied so far; returns false to stop the copy.
using CopyProgress = std::function<bool(uint64_t copied)>;

// Makes `outFd` (an empty regular file open for writing) hold exactly the
// first `length` bytes of `inFd`. `length` must not pass the source's size.
// A clone shares the blocks of the range (its last partial block is copied)
// and reports all of it at once.
CopyMethod CopyFileRange(int inFd, int outFd, uint64_t length, const CopyProgress& progress,
                         std::string* error);

// Asks the file system to unshare at most `bytes` around each write into a
// cloned file (XFS's copy-on-write extent size hint). False when the file
// system has no such hint; harmless then.
bool SetCopyOnWriteExtentHint(int fd, uint32_t bytes);

// The file system's block size for `fd`, when it can be read.
std::optional<uint32_t> FileBlockSize(int fd);

// Asks the kernel to read [offset, offset + count) of `fd` into the page
// cache in the background; only a hint (nothing where there is no such hint).
void ReadAhead(int fd, uint64_t offset, uint64_t count);

// Writes all `count` bytes at `offset`; false on any failure.
bool WriteAllAt(int fd, uint64_t offset, const uint8_t* bytes, std::size_t count);

// Reads exactly `count` bytes at `offset`; false when fewer could be read.
bool ReadAllAt(int fd, uint64_t offset, uint8_t* bytes, std::size_t count);

// Opens `path` for reading (close on exec); an invalid descriptor when it
// cannot be opened.
UniqueFd OpenForReading(const std::string& path);

// Sets the length of `fd`; flushes it to the disk with Sync.
bool TruncateTo(int fd, uint64_t length);
// Empties the file `fd` and puts its position at its start, as it was when
// created: a first try's bytes are gone before a second writes through it.
bool EmptyAgain(int fd);
bool Sync(int fd);

}  // namespace spatialmux::platform
