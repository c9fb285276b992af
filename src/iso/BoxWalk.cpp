// The bounds-checked box walk of any movie.
#include "iso/BoxWalk.h"

#include <algorithm>
#include <cstring>

#include "audio/BoxHeader.h"
#include "audio/ByteOrder.h"

namespace spatialmux {

namespace {

// One box header read from `header` (16 bytes available at most `avail`)
// at `offset`, inside a parent ending at `end`. Nothing when it does not fit.
std::optional<BoxSpan> HeaderAt(const uint8_t* header, uint64_t avail, uint64_t offset,
                                uint64_t end) {
    if (offset > end || end - offset < 8 || avail < 8) return std::nullopt;
    BoxSpan box;
    std::memcpy(box.type, header + 4, 4);
    box.offset = offset;
    const uint32_t size32 = ReadBE32(header);
    if (size32 == 1) {
        if (end - offset < 16 || avail < 16) return std::nullopt;
        box.headerSize = 16;
        box.size = ReadBE64(header + 8);
    } else if (size32 == 0) {
        box.size = end - offset;
    } else {
        box.size = size32;
    }
    if (box.size < box.headerSize || box.size > end - offset) return std::nullopt;
    return box;
}

}  // namespace

bool BoxSpan::Is(const char* wanted) const {
    return std::memcmp(type, wanted, 4) == 0;
}

std::vector<BoxSpan> ChildBoxes(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end,
                                bool* complete) {
    std::vector<BoxSpan> boxes;
    end = std::min<uint64_t>(end, bytes.size());
    uint64_t offset = begin;
    while (offset < end) {
        const auto box = HeaderAt(bytes.data() + offset, end - offset, offset, end);
        if (!box) break;
        boxes.push_back(*box);
        offset = box->End();
    }
    if (complete != nullptr) *complete = offset == end;
    return boxes;
}

std::optional<BoxSpan> FindChildBox(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end,
                                    const char* type, int skip) {
    for (const BoxSpan& box : ChildBoxes(bytes, begin, end)) {
        if (!box.Is(type)) continue;
        if (skip == 0) return box;
        --skip;
    }
    return std::nullopt;
}

std::vector<BoxSpan> TopLevelBoxes(std::istream& file, uint64_t length) {
    std::vector<BoxSpan> boxes;
    uint64_t offset = 0;
    while (offset < length && boxes.size() < kMaxTopLevelBoxes) {
        uint8_t header[16] = {};
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(header), sizeof header);
        const auto got = static_cast<uint64_t>(std::max<std::streamsize>(file.gcount(), 0));
        const auto box = HeaderAt(header, got, offset, length);
        if (!box) break;
        boxes.push_back(*box);
        offset = box->End();
    }
    file.clear();
    return boxes;
}

}  // namespace spatialmux
