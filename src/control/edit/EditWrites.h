#pragma once
// What an edit writes over the finished copy of its input besides the
// audio: the QuickTime ftyp in place of the input's, the boxes that become
// `free` (an old moov, a private box) and the size fields; then the new moov
// behind the copy. Both edit engines write them the same way.

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "output/PreparedEdit.h"
#include "platform/ExclusiveFile.h"
#include "platform/UniqueFd.h"

namespace spatialmux {

// The input of an edit, opened once: a descriptor for the copy, a stream
// for the plan, its size, and who it is, so that the copy reads the file
// that was read and planned.
struct EditInput {
    std::string path;
    platform::UniqueFd fd;
    std::ifstream stream;
    uint64_t size = 0;
    std::optional<platform::FileIdentity> identity;

    // Nothing when it cannot be opened.
    static std::optional<EditInput> Open(const std::string& path);
    // True when another file was renamed over the path since it was opened.
    bool Replaced() const;
};

// Writes the ftyp, the blanks and the size fields of `edit` into `fd`.
// Nothing when written, else what could not be written.
std::optional<std::string> RewriteBoxesInPlace(int fd, const output::PreparedEdit& edit);

// Writes the new moov at the copy's end and cuts the file there. False when
// either fails.
bool AppendNewMoov(int fd, const output::PreparedEdit& edit);

}  // namespace spatialmux
