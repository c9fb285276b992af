#pragma once
// Whether a new file in a folder can share its blocks with an existing file
// (a reflink: XFS or Btrfs with the feature, one and the same volume). A copy
// made there then costs the space of what is rewritten, not of the file.

#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux::platform {

// The volume's block size when a file in `folder` can share the blocks of
// `fd`; nothing when it cannot, or when that cannot be told. Tried for real:
// one block of `fd` is cloned into an unnamed file in `folder` that vanishes
// with its descriptor, so nothing is left behind whatever the answer.
std::optional<uint32_t> SharedBlockSize(int fd, const std::string& folder);

}  // namespace spatialmux::platform
