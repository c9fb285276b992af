// The box floor's walks.
#include "iso/BoxWalk.h"

#include <algorithm>
#include <cstring>

#include "audio/BoxHeader.h"
#include "audio/ByteOrder.h"

namespace spatialmux {

std::optional<BoxSpan> ParseBoxAt(const uint8_t* header, uint64_t avail, uint64_t offset,
                                  uint64_t end, SizeForms forms) {
    if (offset > end || end - offset < kBoxHeaderSize || avail < kBoxHeaderSize) {
        return std::nullopt;
    }
    BoxSpan box;
    std::memcpy(box.type, header + 4, 4);
    box.offset = offset;
    const uint32_t size32 = ReadBE32(header);
    if (size32 == 1 && forms == SizeForms::Any) {
        if (end - offset < kLargeBoxHeaderSize || avail < kLargeBoxHeaderSize) return std::nullopt;
        box.headerSize = kLargeBoxHeaderSize;
        box.size = ReadBE64(header + 8);
    } else if (size32 == 0 && forms == SizeForms::Any) {
        box.size = end - offset;
        box.toEnd = true;
    } else {
        box.size = size32;
    }
    if (box.size < box.headerSize || box.size > end - offset) return std::nullopt;
    return box;
}

bool BoxSpan::Is(const char* wanted) const {
    return std::memcmp(type, wanted, 4) == 0;
}

std::optional<BoxSpan> BoxAt(std::span<const uint8_t> bytes, uint64_t offset, uint64_t end,
                             SizeForms forms) {
    end = std::min<uint64_t>(end, bytes.size());
    if (offset >= end) return std::nullopt;
    return ParseBoxAt(bytes.data() + offset, end - offset, offset, end, forms);
}

std::vector<BoxSpan> ChildBoxes(std::span<const uint8_t> bytes, uint64_t begin, uint64_t end,
                                bool* complete, SizeForms forms) {
    std::vector<BoxSpan> boxes;
    end = std::min<uint64_t>(end, bytes.size());
    uint64_t offset = begin;
    while (offset < end) {
        const auto box = BoxAt(bytes, offset, end, forms);
        if (!box) break;
        boxes.push_back(*box);
        offset = box->End();
    }
    if (complete != nullptr) *complete = offset == end;
    return boxes;
}

std::optional<BoxSpan> FindChildBox(std::span<const uint8_t> bytes, uint64_t begin, uint64_t end,
                                    const char* type, int skip, SizeForms forms) {
    end = std::min<uint64_t>(end, bytes.size());
    uint64_t offset = begin;
    while (offset < end) {
        const auto box = BoxAt(bytes, offset, end, forms);
        if (!box) break;
        if (box->Is(type) && skip-- == 0) return box;
        offset = box->End();
    }
    return std::nullopt;
}

std::optional<BoxSpan> FindBoxPath(std::span<const uint8_t> bytes, const BoxSpan& from,
                                   std::string_view path, SizeForms forms) {
    std::optional<BoxSpan> box = from;
    while (box && !path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view type = path.substr(0, slash);
        if (type.size() != 4) return std::nullopt;
        const char wanted[5] = {type[0], type[1], type[2], type[3], '\0'};
        box = FindChildBox(bytes, box->PayloadOffset(), box->End(), wanted, 0, forms);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return box;
}

std::optional<BoxSpan> TopLevelBoxAt(std::istream& file, uint64_t length, uint64_t offset) {
    if (offset >= length) return std::nullopt;
    uint8_t header[kLargeBoxHeaderSize] = {};
    file.clear();
    if (!file.seekg(static_cast<std::streamoff>(offset), std::ios::beg)) {
        file.clear();
        return std::nullopt;
    }
    const uint64_t wanted = std::min<uint64_t>(length - offset, sizeof header);
    file.read(reinterpret_cast<char*>(header), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<uint64_t>(std::max<std::streamsize>(file.gcount(), 0));
    file.clear();
    return ParseBoxAt(header, got, offset, length, SizeForms::Any);
}

std::vector<BoxSpan> TopLevelBoxes(std::istream& file, uint64_t length) {
    std::vector<BoxSpan> boxes;
    uint64_t offset = 0;
    while (offset < length && boxes.size() < kMaxTopLevelBoxes) {
        const auto box = TopLevelBoxAt(file, length, offset);
        if (!box) break;
        boxes.push_back(*box);
        offset = box->End();
    }
    file.clear();
    return boxes;
}

}  // namespace spatialmux
