// Looking for the camera's own boxes in any file.
#include "movie/CameraMarks.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// The camera's own box types: the maker note, its data offset and the
// private audio tables.
constexpr const char* kCameraBoxes[] = {"ZMKN", "ZDT9", "ZATR"};
// A moov larger than this is not searched (no camera writes one).
constexpr uint64_t kLargestSearchedMoov = 64u * 1024u * 1024u;

bool IsCameraBox(const char* type) {
    for (const char* camera : kCameraBoxes) {
        if (std::memcmp(type, camera, 4) == 0) return true;
    }
    return false;
}

}  // namespace

bool CarriesCameraMarks(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::optional<uint64_t> length = file ? StreamLength(file) : std::nullopt;
    if (!length) return false;
    std::optional<BoxSpan> moov;
    for (const BoxSpan& box : TopLevelBoxes(file, *length)) {
        if (IsCameraBox(box.type)) return true;
        if (box.Is("moov") && !moov) moov = box;
    }
    if (!moov || moov->size > kLargestSearchedMoov) return false;
    std::vector<uint8_t> bytes(moov->size);
    file.clear();
    if (!file.seekg(static_cast<std::streamoff>(moov->offset)) ||
        !file.read(reinterpret_cast<char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()))) {
        return false;
    }
    // Any box of the camera's inside moov, whatever the boxes around it: a
    // damaged path to it must not hide it.
    for (std::size_t at = 4; at + 4 <= bytes.size(); ++at) {
        if (!IsCameraBox(reinterpret_cast<const char*>(bytes.data() + at))) continue;
        const uint32_t size = ReadBE32(bytes.data() + at - 4);
        if (size >= 8 && size <= bytes.size() - (at - 4)) return true;
    }
    return false;
}

}  // namespace spatialmux
