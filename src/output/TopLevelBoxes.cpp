// The top-level box walk of the metadata transplant's file step and the
// edit's plan, on the box floor's.
#include "output/TopLevelBoxes.h"

#include <cstring>

#include "iso/BoxWalk.h"

namespace spatialmux::output {

std::optional<TopLevelBox> ReadTopLevelBox(std::istream& file, uint64_t fileSize, uint64_t offset) {
    const auto box = TopLevelBoxAt(file, fileSize, offset);
    if (!box) return std::nullopt;
    TopLevelBox found{box->offset, {}};
    found.header.size = box->size;
    found.header.headerSize = box->headerSize;
    std::memcpy(found.header.type.data(), box->type, 4);
    found.header.toEnd = box->toEnd;
    return found;
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
