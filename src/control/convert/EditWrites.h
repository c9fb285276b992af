#pragma once
// What an edit writes over the finished copy of its input besides the
// audio: the QuickTime ftyp in place of the input's, the boxes that become
// `free` (an old moov, a private box) and the size fields; then the new moov
// behind the copy. Both edit engines write them the same way.

#include <optional>
#include <string>

#include "output/PreparedEdit.h"

namespace spatialmux {

// Writes the ftyp, the blanks and the size fields of `edit` into `fd`.
// Nothing when written, else what could not be written.
std::optional<std::string> RewriteBoxesInPlace(int fd, const output::PreparedEdit& edit);

// Writes the new moov at the copy's end and cuts the file there. False when
// either fails.
bool AppendNewMoov(int fd, const output::PreparedEdit& edit);

}  // namespace spatialmux
