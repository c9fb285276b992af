#pragma once
// Puts a finished file under its final name in one step, so that the final
// name never shows a half-written file.

#include <string>

namespace spatialmux::platform {

// Renames `from` to `to` (both in the same folder). With `replace` false an
// existing `to` is never replaced, even one that appeared a moment ago. False
// with the reason in `error` when it did not happen.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace,
                   std::string* error);

}  // namespace spatialmux::platform
