#pragma once
// Moves of an input stream over long distances, and the exact read. Every
// move of 2,147,483,647 bytes or more is made in steps of at most that size,
// and the stream is asked for its position after each full step.

#include <cstdint>
#include <istream>
#include <optional>

namespace spatialmux {

inline constexpr int64_t kMaxMoveStep = 2147483647;

// The stream's current position, or nothing when it cannot report one.
std::optional<uint64_t> StreamPosition(std::istream& stream);

// The stream's length; the position is left where it was. Nothing when the
// stream cannot be measured.
std::optional<uint64_t> StreamLength(std::istream& stream);

// Moves by `distance` bytes from the current position (backwards when
// negative). False when a step fails or the position cannot be reported.
bool MoveBy(std::istream& stream, int64_t distance);

// Reads `count` bytes into `bytes`; false when fewer were read.
bool ReadExactly(std::istream& stream, uint8_t* bytes, uint64_t count);

// Moves to the absolute `offset`. False when a step fails or the position
// cannot be reported.
bool MoveTo(std::istream& stream, uint64_t offset);

}  // namespace spatialmux
