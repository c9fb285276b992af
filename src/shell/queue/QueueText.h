#pragma once
// The texts of spatialmux-gui: the localized string of a key with its
// placeholders ("{file}", "{count}", ...) filled in.

#include <string>
#include <utility>
#include <vector>

namespace spatialmux {

using Fills = std::vector<std::pair<std::string, std::string>>;

// LocalizedString(key) with every placeholder of `fills` replaced.
std::string QueueText(const std::string& key, const Fills& fills = {});

}  // namespace spatialmux
