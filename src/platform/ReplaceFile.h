#pragma once
// Puts a finished file under its final name durably: in one rename, with the
// file's data on the disk before the rename and the rename on the disk
// before the caller is told it happened. Once it has returned true, the
// name shows the whole new file also after a power cut or a crash of the
// system, never an empty or half-written one.

#include <string>

namespace spatialmux::platform {

// Writes the data of the file at `path` to the disk and waits until the
// disk has it. False, with the cause in `why`, when it did not get there (a
// write that failed late: a full network volume, a disk error). A file
// system that offers no syncing at all counts as synced.
bool SyncFile(const std::string& path, std::string* why = nullptr);

// After `from` was renamed to `to`: syncs the folder that holds `to` (and
// the one that held `from`, when that is another), so that the rename
// itself lasts. Empty, or a warning naming the folder and the cause; the
// rename stands either way.
std::string SyncFoldersAfterRename(const std::string& from, const std::string& to);

// Renames `from` onto `to` (the same folder, or at least the same volume),
// replacing a file there: `from` is synced first (a journal may otherwise
// keep the rename and lose the data, leaving an empty file under the name),
// the folder afterwards. False, with the cause in `why`, when the sync or
// the rename failed (`to` is then untouched). A folder that could not be
// synced leaves the rename done and says so in `warning`.
bool ReplaceFile(const std::string& from, const std::string& to, std::string* why = nullptr,
                 std::string* warning = nullptr);

}  // namespace spatialmux::platform
