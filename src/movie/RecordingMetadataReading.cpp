// Reading the recording metadata from the input's moov. Only the few small
// boxes that hold it are read; everything is checked against the bytes that
// were actually read and against the box that holds it.
#include "movie/RecordingMetadataReading.h"

#include <algorithm>
#include <cstring>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWalk.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// Far more than any real header or tag list; larger boxes are left out.
constexpr uint64_t kMaxHeaderBox = 4096;
constexpr uint64_t kMaxTagBox = 16u * 1024u * 1024u;
// Children of one box looked at.
constexpr int kMaxChildren = 100000;

bool ReadAt(std::istream& stream, uint64_t offset, uint8_t* bytes, uint64_t count) {
    stream.clear();
    if (!MoveTo(stream, offset)) return false;
    stream.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
    return static_cast<uint64_t>(stream.gcount()) == count;
}

// The box whose header starts at `offset`, when it lies inside [offset, end).
std::optional<BoxSpan> BoxAt(std::istream& stream, uint64_t offset, uint64_t end) {
    uint8_t header[kLargeBoxHeaderSize];
    if (offset > end) return std::nullopt;
    const uint64_t wanted = std::min<uint64_t>(end - offset, sizeof header);
    if (wanted < kBoxHeaderSize || !ReadAt(stream, offset, header, wanted)) return std::nullopt;
    return ParseBoxAt(header, wanted, offset, end);
}

// The first child of `type` inside `parent` (whose children start `skip`
// bytes into its payload).
std::optional<BoxSpan> FindChildIn(std::istream& stream, const BoxSpan& parent, const char* type,
                                   uint64_t skip = 0) {
    const uint64_t end = parent.offset + parent.size;
    uint64_t at = parent.PayloadOffset() + skip;
    for (int n = 0; n < kMaxChildren && at < end; ++n) {
        const std::optional<BoxSpan> child = BoxAt(stream, at, end);
        if (!child) return std::nullopt;
        if (child->Is(type)) return child;
        at += child->size;
    }
    return std::nullopt;
}

// The whole box, when it is an ordinary 32-bit box of at most `limit` bytes.
std::vector<uint8_t> ReadWholeBox(std::istream& stream, const BoxSpan& box, uint64_t limit) {
    std::vector<uint8_t> bytes;
    if (box.headerSize != kBoxHeaderSize || box.size > limit) return bytes;
    bytes.resize(static_cast<std::size_t>(box.size));
    if (!ReadAt(stream, box.offset, bytes.data(), box.size) || ReadBE32(bytes.data()) != box.size) {
        bytes.clear();
    }
    return bytes;
}

std::vector<uint8_t> ReadChildBox(std::istream& stream, const std::optional<BoxSpan>& parent,
                                  const char* type, uint64_t limit) {
    if (!parent) return {};
    const std::optional<BoxSpan> child = FindChildIn(stream, *parent, type);
    return child ? ReadWholeBox(stream, *child, limit) : std::vector<uint8_t>{};
}

std::optional<DisplayMatrix> ReadMatrix(const std::vector<uint8_t>& box) {
    const std::optional<std::size_t> at = MatrixOffset(box.data(), box.size());
    if (!at) return std::nullopt;
    DisplayMatrix matrix;
    std::memcpy(matrix.data(), box.data() + *at, matrix.size());
    return matrix;
}

std::optional<uint16_t> ReadLanguage(const std::vector<uint8_t>& box) {
    const std::optional<std::size_t> at = LanguageOffset(box.data(), box.size());
    if (!at) return std::nullopt;
    return static_cast<uint16_t>((box[*at] << 8) | box[*at + 1]);
}

// The carried children of a whole udta box, one after another; reading stops
// at the first child that does not lie inside udta.
std::vector<uint8_t> CarriedTags(const std::vector<uint8_t>& udta) {
    std::vector<uint8_t> tags;
    for (const BoxSpan& child :
         ChildBoxes(udta, kBoxHeaderSize, udta.size(), nullptr, SizeForms::Plain32)) {
        if (IsCarriedUserDataType(reinterpret_cast<const uint8_t*>(child.type))) {
            tags.insert(tags.end(), udta.begin() + static_cast<std::ptrdiff_t>(child.offset),
                        udta.begin() + static_cast<std::ptrdiff_t>(child.End()));
        }
    }
    return tags;
}

// True when the whole meta box holds an hdlr child of handler type 'mdta'.
// QuickTime's meta has no version and flags, ISO's has: both are accepted.
bool IsMdtaMeta(const std::vector<uint8_t>& meta) {
    for (std::size_t first : {std::size_t{8}, std::size_t{12}}) {
        if (meta.size() < first + 20) continue;
        const uint32_t size = ReadBE32(meta.data() + first);
        if (std::memcmp(meta.data() + first + 4, "hdlr", 4) == 0 && size >= 20 &&
            size <= meta.size() - first && std::memcmp(meta.data() + first + 16, "mdta", 4) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

RecordingMetadata ReadRecordingMetadata(std::istream& stream, uint64_t length,
                                        uint64_t audioBoxOffset, std::size_t videoTrak) {
    RecordingMetadata metadata;
    std::optional<BoxSpan> moov;
    uint64_t at = 0;
    for (std::size_t n = 0; n < kMaxTopLevelBoxes && at < length; ++n) {
        const std::optional<BoxSpan> box = BoxAt(stream, at, length);
        if (!box) break;
        if (std::memcmp(box->type, "moov", 4) == 0) {
            moov = box;
            break;
        }
        at += box->size;
    }
    if (!moov) return metadata;

    const std::vector<uint8_t> mvhd = ReadChildBox(stream, moov, "mvhd", kMaxHeaderBox);
    metadata.movieTimes = ReadHeaderTimes(mvhd.data(), mvhd.size());
    metadata.movieMatrix = ReadMatrix(mvhd);

    std::optional<BoxSpan> trak = FindChildIn(stream, *moov, "trak");
    for (std::size_t n = 0; trak && n < videoTrak; ++n) {
        trak =
            FindChildIn(stream, *moov, "trak", trak->offset + trak->size - moov->PayloadOffset());
    }
    const std::vector<uint8_t> tkhd = ReadChildBox(stream, trak, "tkhd", kMaxHeaderBox);
    metadata.videoTrackTimes = ReadHeaderTimes(tkhd.data(), tkhd.size());
    metadata.videoMatrix = ReadMatrix(tkhd);
    const std::optional<BoxSpan> mdia = trak ? FindChildIn(stream, *trak, "mdia") : std::nullopt;
    const std::vector<uint8_t> mdhd = ReadChildBox(stream, mdia, "mdhd", kMaxHeaderBox);
    metadata.videoMediaTimes = ReadHeaderTimes(mdhd.data(), mdhd.size());
    metadata.videoLanguage = ReadLanguage(mdhd);
    const std::vector<uint8_t> hdlr = ReadChildBox(stream, mdia, "hdlr", kMaxHeaderBox);
    metadata.videoHandlerName = ReadHandlerName(hdlr.data(), hdlr.size());

    metadata.userDataTags = CarriedTags(ReadChildBox(stream, moov, "udta", kMaxTagBox));
    std::vector<uint8_t> meta = ReadChildBox(stream, moov, "meta", kMaxTagBox);
    if (IsMdtaMeta(meta)) metadata.metaBox = std::move(meta);

    if (audioBoxOffset != 0) {
        // The same search as the walk's: ZATR is the first box of its type
        // from the offset on.
        std::optional<BoxSpan> audioBox;
        uint64_t next = audioBoxOffset;
        for (std::size_t n = 0; n < kMaxTopLevelBoxes && next < length; ++n) {
            audioBox = BoxAt(stream, next, length);
            if (!audioBox || std::memcmp(audioBox->type, "ZATR", 4) == 0) break;
            next += audioBox->size;
            audioBox.reset();
        }
        const std::optional<BoxSpan> audioMdia =
            audioBox ? FindChildIn(stream, *audioBox, "mdia") : std::nullopt;
        const std::vector<uint8_t> audioMdhd =
            ReadChildBox(stream, audioMdia, "mdhd", kMaxHeaderBox);
        metadata.audioMediaTimes = ReadHeaderTimes(audioMdhd.data(), audioMdhd.size());
        metadata.audioLanguage = ReadLanguage(audioMdhd);
    }
    stream.clear();
    return metadata;
}

}  // namespace spatialmux
