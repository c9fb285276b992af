#pragma once
// A plain ISO box parser for checking what a test file holds: finds boxes by
// a path of types and gives their bytes. Container boxes are descended by
// type; sample entries inside stsd are reached with FindSampleEntry.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "iso/BoxHeader.h"

namespace spatialmux::testing {

struct BoxRef {
    uint64_t offset = 0;  // of the box header, in the buffer
    uint64_t size = 0;    // whole box
    uint32_t header = 8;  // 8, or 16 for a 64-bit size
    std::string type;
};

// The children of the region [begin, end) of `bytes`.
inline std::vector<BoxRef> Children(const std::vector<uint8_t>& bytes, uint64_t begin,
                                    uint64_t end) {
    std::vector<BoxRef> boxes;
    uint64_t at = begin;
    while (at < end && end <= bytes.size()) {
        const auto header =
            ParseBoxHeader(&bytes[at], static_cast<std::size_t>(end - at), end - at);
        if (!header) break;
        boxes.push_back(
            BoxRef{at, header->size, header->headerSize, std::string(header->type.data(), 4)});
        at += header->size;
    }
    return boxes;
}

// Follows `path` (types separated by '/', "trak#2" for the second trak) from
// the top level. Nothing when a step is missing.
inline std::optional<BoxRef> FindBoxPath(const std::vector<uint8_t>& bytes,
                                         const std::string& path) {
    uint64_t begin = 0, end = bytes.size();
    std::optional<BoxRef> found;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string step = path.substr(start, slash - start);
        int wanted = 1;
        if (const std::size_t hash = step.find('#'); hash != std::string::npos) {
            wanted = std::stoi(step.substr(hash + 1));
            step = step.substr(0, hash);
        }
        found.reset();
        int seen = 0;
        for (const BoxRef& child : Children(bytes, begin, end)) {
            if (child.type == step && ++seen == wanted) {
                found = child;
                break;
            }
        }
        if (!found) return std::nullopt;
        begin = found->offset + found->header;
        end = found->offset + found->size;
        start = slash + 1;
    }
    return found;
}

// The first sample entry of the stsd box `stsd`.
inline std::optional<BoxRef> FindSampleEntry(const std::vector<uint8_t>& bytes,
                                             const BoxRef& stsd) {
    const auto entries = Children(bytes, stsd.offset + 16, stsd.offset + stsd.size);
    if (entries.empty()) return std::nullopt;
    return entries.front();
}

// The child of type `type` of a version 0 sound sample entry (28 bytes of
// fields after its header), such as its chan or SA3D box.
inline std::optional<BoxRef> FindSoundEntryChild(const std::vector<uint8_t>& bytes,
                                                 const BoxRef& entry, const std::string& type) {
    for (const BoxRef& child : Children(bytes, entry.offset + 36, entry.offset + entry.size)) {
        if (child.type == type) return child;
    }
    return std::nullopt;
}

inline std::vector<uint8_t> BoxBytes(const std::vector<uint8_t>& bytes, const BoxRef& box) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(box.offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(box.offset + box.size));
}

}  // namespace spatialmux::testing
