// The box floor's walks.
#include "iso/BoxWalk.h"

#include <algorithm>
#include <cstring>

#include "iso/BoxHeader.h"

namespace spatialmux {

std::optional<BoxSpan> ParseBoxAt(const uint8_t* header, uint64_t avail, uint64_t offset,
                                  uint64_t end, SizeForms forms) {
    if (offset > end) return std::nullopt;
    const auto fields = ReadBoxHeaderFields(
        header, static_cast<std::size_t>(std::min<uint64_t>(avail, kLargeBoxHeaderSize)));
    if (!fields || (forms != SizeForms::Any && fields->toEnd) ||
        (forms == SizeForms::Plain32 && fields->headerSize != kBoxHeaderSize)) {
        return std::nullopt;
    }
    const auto fitted = FitBoxHeader(*fields, end - offset);
    if (!fitted) return std::nullopt;
    BoxSpan box;
    std::memcpy(box.type, fitted->type.data(), 4);
    box.offset = offset;
    box.size = fitted->size;
    box.headerSize = fitted->headerSize;
    box.toEnd = fitted->toEnd;
    return box;
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

std::optional<BoxSpan> FindTopLevelBox(std::istream& file, uint64_t length, uint64_t offset,
                                       const char* type) {
    // Every box takes at least 8 bytes, so the walk ends at the file's end.
    for (std::size_t walked = 0; offset < length && walked < kMaxTopLevelBoxes; ++walked) {
        const auto box = TopLevelBoxAt(file, length, offset);
        if (!box) return std::nullopt;
        if (box->Is(type)) return box;
        offset = box->End();
    }
    return std::nullopt;
}

std::optional<BoxHeader> ReadBoxHeaderFrom(std::istream& stream, uint8_t (&first)[kBoxHeaderSize]) {
    constexpr auto kHalf = static_cast<std::streamsize>(kBoxHeaderSize);
    uint8_t bytes[kLargeBoxHeaderSize] = {};
    stream.read(reinterpret_cast<char*>(bytes), kHalf);
    if (stream.gcount() != kHalf) return std::nullopt;
    std::memcpy(first, bytes, kBoxHeaderSize);
    if (auto header = ReadBoxHeaderFields(bytes, kBoxHeaderSize)) return header;
    // Only a size field of 1 wants more than 8 bytes.
    stream.read(reinterpret_cast<char*>(bytes + kBoxHeaderSize), kHalf);
    if (stream.gcount() != kHalf) return std::nullopt;
    return ReadBoxHeaderFields(bytes, kLargeBoxHeaderSize);
}

}  // namespace spatialmux
