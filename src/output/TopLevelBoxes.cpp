// The top-level box walk of the metadata transplant's file step.
#include "output/TopLevelBoxes.h"

namespace spatialmux::output {

std::optional<TopLevelBox> ReadTopLevelBox(std::istream& file, uint64_t fileSize, uint64_t offset) {
    if (offset >= fileSize) return std::nullopt;
    const uint64_t room = fileSize - offset;
    uint8_t bytes[kLargeBoxHeaderSize] = {};
    const auto wanted = static_cast<std::streamsize>(room < sizeof bytes ? room : sizeof bytes);
    file.clear();
    if (!file.seekg(static_cast<std::streamoff>(offset), std::ios::beg)) return std::nullopt;
    file.read(reinterpret_cast<char*>(bytes), wanted);
    const std::streamsize got = file.gcount();
    file.clear();
    const auto header = ParseBoxHeader(bytes, static_cast<std::size_t>(got), room);
    if (!header) return std::nullopt;
    return TopLevelBox{offset, *header};
}

std::optional<TopLevelBox> FindTopLevelBox(std::istream& file, uint64_t fileSize, uint64_t offset,
                                           const char* type) {
    // Every box takes at least 8 bytes, so the walk ends at the file's end,
    // or at the count every top-level walk stops at.
    for (std::size_t walked = 0; offset < fileSize && walked < kMaxTopLevelBoxes; ++walked) {
        const auto box = ReadTopLevelBox(file, fileSize, offset);
        if (!box) return std::nullopt;
        if (box->header.Is(type)) return box;
        offset = box->End();
    }
    return std::nullopt;
}

}  // namespace spatialmux::output
