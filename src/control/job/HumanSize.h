#pragma once
// Sizes and durations as the command line prints them.

#include <cstdint>
#include <string>

namespace spatialmux {

// "1.2 GB", "340.5 MB", "12.0 kB", "512 bytes" (decimal units, as file
// managers show sizes).
std::string HumanSize(uint64_t bytes);

// "0:07", "12:34", "1:02:03" for a number of seconds (rounded, never below 0).
std::string HumanDuration(double seconds);

}  // namespace spatialmux
