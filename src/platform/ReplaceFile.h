#pragma once
// Puts a finished file under its final name in one rename, so that the name
// shows either the old file or the whole new one, also after a power cut.

#include <string>

namespace spatialmux::platform {

// Renames `from` onto `to` (same folder, or at least the same volume). When
// `to` exists, `from` is synced to disk first: a crash right after the rename
// must not leave an empty file where the old one was, and the folder is
// synced afterwards so that the rename itself lasts. False, with the cause in
// `why`, when the rename failed (`to` is then untouched).
bool ReplaceFile(const std::string& from, const std::string& to, std::string* why = nullptr);

}  // namespace spatialmux::platform
