#pragma once
// The texts of spatialmux-gui: the localized string of a key with its
// placeholders ("{file}", "{count}", ...) filled in.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace spatialmux {

using Fills = std::vector<std::pair<std::string, std::string>>;

// LocalizedString(key) with every placeholder of `fills` replaced.
std::string QueueText(const std::string& key, const Fills& fills = {});

// A size as HumanSize writes it, its unit in the user's language
// ("48 bytes").
std::string SizeText(uint64_t bytes);

}  // namespace spatialmux
