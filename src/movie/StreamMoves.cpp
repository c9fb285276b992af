#include "movie/StreamMoves.h"

#include <limits>

namespace spatialmux {

std::optional<uint64_t> StreamPosition(std::istream& stream) {
    const std::istream::pos_type position = stream.tellg();
    if (!stream || position == std::istream::pos_type(-1)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(static_cast<std::streamoff>(position));
}

std::optional<uint64_t> StreamLength(std::istream& stream) {
    const std::optional<uint64_t> here = StreamPosition(stream);
    if (!here) {
        return std::nullopt;
    }
    stream.seekg(0, std::ios::end);
    const std::optional<uint64_t> end = StreamPosition(stream);
    stream.seekg(static_cast<std::streamoff>(*here), std::ios::beg);
    if (!end || !stream) {
        return std::nullopt;
    }
    return end;
}

bool MoveBy(std::istream& stream, int64_t distance) {
    while (distance >= kMaxMoveStep) {
        stream.seekg(kMaxMoveStep, std::ios::cur);
        if (!StreamPosition(stream)) {
            return false;
        }
        distance -= kMaxMoveStep;
    }
    while (distance <= -kMaxMoveStep) {
        stream.seekg(-kMaxMoveStep, std::ios::cur);
        if (!StreamPosition(stream)) {
            return false;
        }
        distance += kMaxMoveStep;
    }
    stream.seekg(static_cast<std::streamoff>(distance), std::ios::cur);
    return static_cast<bool>(stream);
}

bool MoveTo(std::istream& stream, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return false;
    }
    if (offset < static_cast<uint64_t>(kMaxMoveStep)) {
        stream.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
        return static_cast<bool>(stream);
    }
    stream.seekg(kMaxMoveStep, std::ios::beg);
    if (!stream) {
        return false;
    }
    return MoveBy(stream, static_cast<int64_t>(offset - static_cast<uint64_t>(kMaxMoveStep)));
}

bool ReadExactly(std::istream& stream, uint8_t* bytes, uint64_t count) {
    if (count > static_cast<uint64_t>(std::numeric_limits<std::streamsize>::max())) return false;
    stream.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
    return static_cast<uint64_t>(stream.gcount()) == count;
}

}  // namespace spatialmux
