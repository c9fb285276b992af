// The recording metadata carried into the output's moov: each changed box is
// rebuilt on its own, then all are spliced in from the back of moov to the
// front, so that the offsets of the boxes still to be changed, and of the
// boxes whose sizes grow with them, stay valid.
#include "output/RecordingMetadataCarry.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWalk.h"
#include "iso/BoxWriting.h"
#include "output/MoovLayout.h"

namespace spatialmux::output {

namespace {

// hdlr: header, version and flags, predefined, handler type, 12 reserved.
constexpr uint32_t kHandlerNameAt = 32;

// One box of moov replaced (or, with oldSize 0, inserted) by new bytes; the
// boxes at `ancestors` enclose it and grow or shrink with it.
struct Splice {
    uint32_t offset = 0;
    uint32_t oldSize = 0;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> ancestors;
};

void Append64(std::vector<uint8_t>& out, uint64_t v) {
    AppendBE32(out, static_cast<uint32_t>(v >> 32));
    AppendBE32(out, static_cast<uint32_t>(v));
}

uint64_t Read64(const uint8_t* p) {
    return (uint64_t{ReadBE32(p)} << 32) | ReadBE32(p + 4);
}

// The boxes that fill bytes[begin, end) exactly, with plain 32-bit sizes
// (the udta is rebuilt from them as they are); nothing when they do not.
std::optional<std::vector<BoxSpan>> BoxRun(std::span<const uint8_t> bytes, uint64_t begin,
                                           uint64_t end) {
    bool complete = false;
    std::vector<BoxSpan> boxes = ChildBoxes(bytes, begin, end, &complete, SizeForms::Plain32);
    if (!complete) return std::nullopt;
    return boxes;
}

// The mvhd, tkhd or mdhd box `old` with the input's times, matrix and
// language. Version 0 stays version 0 unless a time needs 64 bits; version 1
// stays version 1.
std::optional<std::vector<uint8_t>> RewriteHeader(const uint8_t* old, uint32_t size,
                                                  const std::optional<HeaderTimes>& times,
                                                  const std::optional<DisplayMatrix>& matrix,
                                                  const std::optional<uint16_t>& language) {
    if (!ReadHeaderTimes(old, size)) return std::nullopt;
    const bool wasWide = old[8] == 1;
    const bool needsWide =
        times && (times->creation > UINT32_MAX || times->modification > UINT32_MAX);
    const bool wide = wasWide || needsWide;
    // Between the times and the duration: the time scale (mvhd, mdhd), or
    // the track ID and a reserved word (tkhd).
    const uint32_t middle = HasBoxType(old, "tkhd") ? 8 : 4;
    const uint32_t oldTime = wasWide ? 8 : 4;
    const uint32_t middleAt = 12 + 2 * oldTime;
    const uint32_t durationAt = middleAt + middle;
    const uint32_t restAt = durationAt + oldTime;

    uint64_t creation = wasWide ? Read64(old + 12) : ReadBE32(old + 12);
    uint64_t modification = wasWide ? Read64(old + 12 + oldTime) : ReadBE32(old + 16);
    uint64_t duration = wasWide ? Read64(old + durationAt) : ReadBE32(old + durationAt);
    if (!wasWide && wide && duration == UINT32_MAX) duration = UINT64_MAX;  // "unknown"
    if (times) {
        creation = times->creation;
        modification = times->modification;
    }

    std::vector<uint8_t> box(old, old + 12);
    box[8] = wide ? 1 : 0;
    if (wide) {
        Append64(box, creation);
        Append64(box, modification);
    } else {
        AppendBE32(box, static_cast<uint32_t>(creation));
        AppendBE32(box, static_cast<uint32_t>(modification));
    }
    box.insert(box.end(), old + middleAt, old + durationAt);
    if (wide) {
        Append64(box, duration);
    } else {
        AppendBE32(box, static_cast<uint32_t>(duration));
    }
    box.insert(box.end(), old + restAt, old + size);
    CloseBoxAt(box, 0);

    if (matrix) {
        const std::optional<std::size_t> at = MatrixOffset(box.data(), box.size());
        if (!at) return std::nullopt;
        std::memcpy(box.data() + *at, matrix->data(), matrix->size());
    }
    if (language) {
        const std::optional<std::size_t> at = LanguageOffset(box.data(), box.size());
        if (!at) return std::nullopt;
        box[*at] = static_cast<uint8_t>(*language >> 8);
        box[*at + 1] = static_cast<uint8_t>(*language);
    }
    return box;
}

// The hdlr box `old` named `name`, as a Pascal string when the old name was
// one (QuickTime's form), otherwise as a C string.
std::optional<std::vector<uint8_t>> RenameHandler(const uint8_t* old, uint32_t size,
                                                  const std::string& name) {
    if (!ReadHandlerName(old, size)) return std::nullopt;
    const uint32_t oldLength = size - kHandlerNameAt;
    const bool pascal = oldLength > 0 && old[kHandlerNameAt] == oldLength - 1;
    std::string text = name.substr(0, name.find('\0'));
    std::vector<uint8_t> box(old, old + kHandlerNameAt);
    if (pascal) {
        text.resize(std::min<std::size_t>(text.size(), 255));
        box.push_back(static_cast<uint8_t>(text.size()));
        box.insert(box.end(), text.begin(), text.end());
    } else {
        box.insert(box.end(), text.begin(), text.end());
        box.push_back(0);
    }
    CloseBoxAt(box, 0);
    return box;
}

// The output's udta at `udta` (size 0: none) with the input's tags: output
// children of a type among the tags give way to them.
std::optional<std::vector<uint8_t>> MergeUserData(const std::vector<uint8_t>& moov, uint32_t udta,
                                                  uint32_t udtaSize,
                                                  const std::vector<uint8_t>& tags) {
    const auto tagBoxes = BoxRun(tags, 0, tags.size());
    if (!tagBoxes) return std::nullopt;
    std::set<std::string> carried;
    for (const BoxSpan& tag : *tagBoxes) carried.emplace(tag.type, 4);
    std::vector<uint8_t> box;
    OpenBoxAt(box, "udta");
    if (udtaSize != 0) {
        const auto children = BoxRun(moov, udta + kBoxHeaderSize, udta + uint64_t{udtaSize});
        if (!children) return std::nullopt;
        for (const BoxSpan& child : *children) {
            if (carried.count(std::string(child.type, 4)) == 0) {
                box.insert(box.end(), moov.begin() + static_cast<std::ptrdiff_t>(child.offset),
                           moov.begin() + static_cast<std::ptrdiff_t>(child.End()));
            }
        }
    }
    box.insert(box.end(), tags.begin(), tags.end());
    if (box.size() > UINT32_MAX) return std::nullopt;
    CloseBoxAt(box, 0);
    return box;
}

// Adds the header rewrite of the child `type` of `parent` to `splices`.
bool AddHeaderSplice(const std::vector<uint8_t>& moov, uint32_t parent, const char* type,
                     std::vector<uint32_t> ancestors, const std::optional<HeaderTimes>& times,
                     const std::optional<DisplayMatrix>& matrix,
                     const std::optional<uint16_t>& language, std::vector<Splice>* splices) {
    if (!times && !matrix && !language) return true;
    const std::optional<uint32_t> at = ChildBox(moov, parent, type);
    if (!at) return true;  // nothing to carry into
    const uint32_t size = ReadBE32(moov.data() + *at);
    // The fields of a version this program does not know cannot be placed;
    // such a box is left as it is, as readers skip it.
    if (size > kBoxHeaderSize && moov[*at + kBoxHeaderSize] > 1) return true;
    std::optional<std::vector<uint8_t>> box =
        RewriteHeader(moov.data() + *at, size, times, matrix, language);
    if (!box) return false;
    splices->push_back({*at, size, std::move(*box), std::move(ancestors)});
    return true;
}

bool ApplySplices(std::vector<uint8_t> moov, std::vector<Splice> splices,
                  std::vector<uint8_t>* result) {
    std::stable_sort(splices.begin(), splices.end(),
                     [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
    for (auto splice = splices.rbegin(); splice != splices.rend(); ++splice) {
        const int64_t change =
            static_cast<int64_t>(splice->bytes.size()) - static_cast<int64_t>(splice->oldSize);
        for (uint32_t ancestor : splice->ancestors) {
            if (!AddToBoxSize(moov, ancestor, change)) return false;
        }
        const auto at = moov.begin() + static_cast<std::ptrdiff_t>(splice->offset);
        moov.erase(at, at + static_cast<std::ptrdiff_t>(splice->oldSize));
        moov.insert(moov.begin() + static_cast<std::ptrdiff_t>(splice->offset),
                    splice->bytes.begin(), splice->bytes.end());
    }
    if (moov.size() != ReadBE32(moov.data())) return false;
    *result = std::move(moov);
    return true;
}

}  // namespace

bool CarryRecordingMetadata(const std::vector<uint8_t>& moov, const RecordingMetadata& metadata,
                            std::vector<uint8_t>* result) {
    MoovLayout layout;
    if (!FindMoovLayout(moov.data(), moov.size(), &layout)) return false;
    const uint32_t videoTrak = layout.video.trak;
    const uint32_t videoMdia = layout.video.mdia;
    const uint32_t audioTrak = layout.audio.trak;
    const uint32_t audioMdia = layout.audio.mdia;

    std::vector<Splice> splices;
    const bool headersCarried =
        AddHeaderSplice(moov, 0, "mvhd", {0}, metadata.movieTimes, metadata.movieMatrix,
                        std::nullopt, &splices) &&
        AddHeaderSplice(moov, videoTrak, "tkhd", {0, videoTrak}, metadata.videoTrackTimes,
                        metadata.videoMatrix, std::nullopt, &splices) &&
        AddHeaderSplice(moov, videoMdia, "mdhd", {0, videoTrak, videoMdia},
                        metadata.videoMediaTimes, std::nullopt, metadata.videoLanguage, &splices) &&
        AddHeaderSplice(moov, audioTrak, "tkhd", {0, audioTrak}, metadata.audioMediaTimes,
                        std::nullopt, std::nullopt, &splices) &&
        AddHeaderSplice(moov, audioMdia, "mdhd", {0, audioTrak, audioMdia},
                        metadata.audioMediaTimes, std::nullopt, metadata.audioLanguage, &splices);
    if (!headersCarried) return false;

    if (metadata.videoHandlerName) {
        const std::optional<uint32_t> hdlr = ChildBox(moov, videoMdia, "hdlr");
        if (hdlr) {
            const uint32_t size = ReadBE32(moov.data() + *hdlr);
            std::optional<std::vector<uint8_t>> box =
                RenameHandler(moov.data() + *hdlr, size, *metadata.videoHandlerName);
            if (!box) return false;
            splices.push_back({*hdlr, size, std::move(*box), {0, videoTrak, videoMdia}});
        }
    }

    // New boxes go to the end of moov, udta in front of meta.
    const uint32_t moovEnd = layout.moovSize;
    if (!metadata.userDataTags.empty()) {
        const std::optional<uint32_t> udta = ChildBox(moov, 0, "udta");
        const uint32_t udtaSize = udta ? ReadBE32(moov.data() + *udta) : 0;
        std::optional<std::vector<uint8_t>> box =
            MergeUserData(moov, udta.value_or(0), udtaSize, metadata.userDataTags);
        if (!box) return false;
        splices.push_back({udta.value_or(moovEnd), udtaSize, std::move(*box), {0}});
    }
    if (!metadata.metaBox.empty()) {
        const std::vector<uint8_t>& meta = metadata.metaBox;
        if (meta.size() < kBoxHeaderSize || ReadBE32(meta.data()) != meta.size() ||
            !HasBoxType(meta.data(), "meta")) {
            return false;
        }
        const std::optional<uint32_t> old = ChildBox(moov, 0, "meta");
        const uint32_t oldSize = old ? ReadBE32(moov.data() + *old) : 0;
        splices.push_back({old.value_or(moovEnd), oldSize, meta, {0}});
    }
    return ApplySplices(moov, std::move(splices), result);
}

}  // namespace spatialmux::output
