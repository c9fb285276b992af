// The top-level walk that plans an in-place edit, and the chunk check.
#include "output/EditPlan.h"

#include <algorithm>
#include <numeric>

#include "audio/ByteOrder.h"
#include "output/TopLevelBoxes.h"

namespace spatialmux::output {

namespace {

bool Fail(std::string* error, std::string cause) {
    if (error != nullptr) *error = std::move(cause);
    return false;
}

// The camera's own top-level boxes (the private audio tables and the like)
// have upper-case types starting with 'Z'; they never reach an output.
bool IsPrivateBox(const TopLevelBox& box) {
    return box.header.type[0] == 'Z';
}

}  // namespace

std::optional<EditPlan> PlanEdit(std::istream& file, uint64_t fileSize, std::string* error) {
    EditPlan plan;
    std::vector<TopLevelBox> boxes;
    for (uint64_t offset = 0; offset < fileSize;) {
        const auto box = ReadTopLevelBox(file, fileSize, offset);
        if (!box) {
            Fail(error, "a top-level box at byte " + std::to_string(offset) +
                            " is damaged or passes the end of the file");
            return std::nullopt;
        }
        boxes.push_back(*box);
        offset = box->End();
    }
    if (boxes.empty() || !boxes.front().header.Is("ftyp")) {
        Fail(error, "the file does not start with an ftyp box");
        return std::nullopt;
    }
    plan.ftyp = {boxes.front().offset, boxes.front().header.size};
    int moovCount = 0;
    for (const TopLevelBox& box : boxes) {
        if (box.header.Is("moov")) {
            ++moovCount;
            plan.moov = {box.offset, box.header.size};
            if (box.header.headerSize != 8 || box.header.size > kMaxEditedMoovBytes) {
                Fail(error, "the movie box is too large to edit");
                return std::nullopt;
            }
        } else if (box.header.Is("mdat")) {
            plan.media.push_back(
                {box.offset + box.header.headerSize, box.header.size - box.header.headerSize});
            plan.copyLength = std::max(plan.copyLength, box.End());
        }
    }
    if (moovCount != 1 || plan.media.empty()) {
        Fail(error, "the file does not have exactly one movie box and some media data");
        return std::nullopt;
    }
    for (const TopLevelBox& box : boxes) {
        if (box.End() <= plan.copyLength && (box.header.Is("moov") || IsPrivateBox(box))) {
            plan.blanks.push_back({box.offset, box.header.size});
        }
    }
    return plan;
}

bool ChunksFitMedia(const EditPlan& plan, const std::vector<uint64_t>& offsets,
                    const std::vector<uint64_t>& bytes, std::string* error) {
    if (offsets.size() != bytes.size()) return Fail(error, "the chunk tables disagree");
    std::vector<std::size_t> order(offsets.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&offsets](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    uint64_t previousEnd = 0;
    for (std::size_t i : order) {
        const uint64_t start = offsets[i];
        const uint64_t size = bytes[i];
        if (!InsideMedia(plan, start, size)) {
            return Fail(error,
                        "audio chunk " + std::to_string(i + 1) + " lies outside the media data");
        }
        if (start < previousEnd) {
            return Fail(error, "audio chunk " + std::to_string(i + 1) + " overlaps another");
        }
        previousEnd = start + size;
    }
    return true;
}

bool InsideMedia(const EditPlan& plan, uint64_t offset, uint64_t size) {
    return std::any_of(
        plan.media.begin(), plan.media.end(), [offset, size](const ByteRange& media) {
            return offset >= media.offset && offset <= media.End() && size <= media.End() - offset;
        });
}

std::vector<uint8_t> FreeBoxHeader(const ByteRange& range) {
    std::vector<uint8_t> header;
    if (range.size <= UINT32_MAX) {
        AppendBE32(header, static_cast<uint32_t>(range.size));
        header.insert(header.end(), {'f', 'r', 'e', 'e'});
    } else {
        AppendBE32(header, 1);
        header.insert(header.end(), {'f', 'r', 'e', 'e'});
        AppendBE64(header, range.size);
    }
    return header;
}

}  // namespace spatialmux::output
