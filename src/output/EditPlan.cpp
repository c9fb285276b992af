// The top-level walk that plans an in-place edit, and the proof it needs.
#include "output/EditPlan.h"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"

namespace spatialmux::output {

namespace {

bool Fail(std::string* error, std::string cause) {
    if (error != nullptr) *error = std::move(cause);
    return false;
}

// The camera's own top-level boxes (the private audio tables and the like)
// have upper-case types starting with 'Z'; they never reach an output.
bool IsPrivateBox(const BoxSpan& box) {
    return box.type[0] == 'Z';
}

// Boxes libavformat descends into when it meets them at the top level: a
// moov or trak inside one, in front of the movie box, is what players read
// (the first moov they meet wins), not the movie box the edit rewrites.
constexpr const char* kReadIntoAtTopLevel[] = {"udta", "meta", "trak", "edts", "mdia", "minf",
                                               "dinf", "stbl", "tref", "mvex", "wave", "sinf",
                                               "schi", "rmra", "rmda", "ilst", "traf", "mfra"};

bool ReadIntoAtTopLevel(const BoxSpan& box) {
    return std::any_of(std::begin(kReadIntoAtTopLevel), std::end(kReadIntoAtTopLevel),
                       [&box](const char* type) { return box.Is(type); });
}

}  // namespace

std::optional<EditPlan> PlanEdit(std::istream& file, uint64_t fileSize, std::string* error) {
    EditPlan plan;
    // The whole file is walked: a walk that stops short of its end stopped
    // at the count or at a box that does not fit.
    const std::vector<BoxSpan> boxes = TopLevelBoxes(file, fileSize);
    if (const uint64_t walked = boxes.empty() ? 0 : boxes.back().End(); walked < fileSize) {
        Fail(error, boxes.size() == kMaxTopLevelBoxes
                        ? "the file has more than " + std::to_string(kMaxTopLevelBoxes) +
                              " top-level boxes"
                        : "a top-level box at byte " + std::to_string(walked) +
                              " is damaged or passes the end of the file");
        return std::nullopt;
    }
    if (boxes.empty() || !boxes.front().Is("ftyp")) {
        Fail(error, "the file does not start with an ftyp box");
        return std::nullopt;
    }
    plan.ftyp = {boxes.front().offset, boxes.front().size};
    if (plan.ftyp.size > kMaxEditedFtypBytes) {
        Fail(error, "the ftyp box is too large to rewrite");
        return std::nullopt;
    }
    int moovCount = 0;
    for (const BoxSpan& box : boxes) {
        if (box.Is("moov")) {
            ++moovCount;
            plan.moov = {box.offset, box.size};
            if (box.headerSize != 8 || box.size > kMaxEditedMoovBytes) {
                Fail(error, "the movie box is too large to edit");
                return std::nullopt;
            }
        } else if (box.Is("moof")) {
            // The samples of a fragment are not in the moov the edit reads.
            Fail(error, "the movie is fragmented");
            return std::nullopt;
        } else if (box.Is("mdat")) {
            plan.media.push_back({box.offset + box.headerSize, box.size - box.headerSize});
            plan.copyLength = std::max(plan.copyLength, box.End());
            if (box.toEnd) {
                // The last box of the file: the output holds the new moov
                // behind it, so it says its size.
                if (box.size > UINT32_MAX) {
                    Fail(error,
                         "the media data runs to the end of the file and is too large "
                         "for a 32-bit size");
                    return std::nullopt;
                }
                BytePatch size{box.offset, {}};
                AppendBE32(size.bytes, static_cast<uint32_t>(box.size));
                plan.sizes.push_back(std::move(size));
            }
        }
    }
    if (moovCount != 1 || plan.media.empty()) {
        Fail(error, "the file does not have exactly one movie box and some media data");
        return std::nullopt;
    }
    for (const BoxSpan& box : boxes) {
        if (box.offset < plan.moov.offset && ReadIntoAtTopLevel(box)) {
            Fail(error, std::string("a top-level ") + std::string(box.type, 4) +
                            " box lies in front of the movie box (players may read a movie "
                            "box inside it)");
            return std::nullopt;
        }
    }
    for (const BoxSpan& box : boxes) {
        if (box.End() <= plan.copyLength && (box.Is("moov") || IsPrivateBox(box))) {
            plan.blanks.push_back({box.offset, box.size});
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

std::vector<ByteRange> EditPlan::Rewritten() const {
    std::vector<ByteRange> rewritten = blanks;
    rewritten.push_back(ftyp);
    for (const BytePatch& patch : sizes) rewritten.push_back({patch.offset, patch.bytes.size()});
    return rewritten;
}

bool ProveEdit(const EditPlan& plan, const std::vector<ByteRange>& videoSamples,
               const std::vector<ByteRange>& audioWrites, std::string* error) {
    std::vector<uint64_t> offsets;
    std::vector<uint64_t> bytes;
    for (const ByteRange& write : audioWrites) {
        offsets.push_back(write.offset);
        bytes.push_back(write.size);
    }
    if (!ChunksFitMedia(plan, offsets, bytes, error)) return false;
    if (videoSamples.empty()) return Fail(error, "the video track has no samples");
    for (std::size_t i = 0; i < videoSamples.size(); ++i) {
        const ByteRange& sample = videoSamples[i];
        if (sample.offset > plan.copyLength || sample.size > plan.copyLength - sample.offset) {
            return Fail(error, "video sample " + std::to_string(i + 1) +
                                   " lies outside the media data that is copied");
        }
    }
    const std::vector<ByteRange> video = CoveredBytes(videoSamples);
    if (const auto shared = FirstSharedByte(video, CoveredBytes(plan.Rewritten()))) {
        return Fail(error, "a video sample lies in a box the edit rewrites (byte " +
                               std::to_string(*shared) + ")");
    }
    if (const auto shared = FirstSharedByte(video, CoveredBytes(audioWrites))) {
        return Fail(error, "the audio chunks reach into a video sample (byte " +
                               std::to_string(*shared) + ")");
    }
    return true;
}

std::vector<ByteRange> CoveredBytes(std::vector<ByteRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> covered;
    for (const ByteRange& range : ranges) {
        if (range.size == 0) continue;
        // A range that would pass 2^64 ends there.
        const uint64_t end =
            range.size > UINT64_MAX - range.offset ? UINT64_MAX : range.offset + range.size;
        if (!covered.empty() && range.offset <= covered.back().End()) {
            covered.back().size = std::max(covered.back().End(), end) - covered.back().offset;
        } else {
            covered.push_back({range.offset, end - range.offset});
        }
    }
    return covered;
}

std::optional<uint64_t> FirstSharedByte(const std::vector<ByteRange>& a,
                                        const std::vector<ByteRange>& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const uint64_t start = std::max(a[i].offset, b[j].offset);
        if (start < std::min(a[i].End(), b[j].End())) return start;
        if (a[i].End() <= b[j].End()) {
            ++i;
        } else {
            ++j;
        }
    }
    return std::nullopt;
}

bool Covers(const std::vector<ByteRange>& covered, uint64_t offset, uint64_t size) {
    auto after = std::upper_bound(
        covered.begin(), covered.end(), offset,
        [](uint64_t value, const ByteRange& range) { return value < range.offset; });
    if (after == covered.begin()) return false;
    const ByteRange& range = *std::prev(after);
    return offset <= range.End() && size <= range.End() - offset;
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
