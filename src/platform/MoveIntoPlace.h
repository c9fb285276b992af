#pragma once
// Puts a finished file under its final name in one step, so that the final
// name never shows a half-written file, and durably (see ReplaceFile.h): the
// file is on the disk before its new name, and the name before this returns.

#include <string>

namespace spatialmux::platform {

// Renames `from` to `to` (both in the same folder). With `replace` false an
// existing `to` is never replaced, even one that appeared a moment ago. False
// with the reason in `error` when it did not happen (also when `from` could
// not be written to the disk). A folder that could not be synced after the
// rename leaves it done and says so in `warning`.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* error,
                   std::string* warning = nullptr);

}  // namespace spatialmux::platform
