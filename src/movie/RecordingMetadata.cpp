// Reading the recording metadata from the input's moov. Only the few small
// boxes that hold it are read; everything is checked against the bytes that
// were actually read and against the box that holds it.
#include "movie/RecordingMetadata.h"

#include <cstring>

#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// Far more than any real header or tag list; larger boxes are left out.
constexpr uint64_t kMaxHeaderBox = 4096;
constexpr uint64_t kMaxTagBox = 16u * 1024u * 1024u;
// Top-level boxes looked at before moov (the walk gives up sooner).
constexpr int kMaxTopLevelBoxes = 1000;
// Children of one box looked at.
constexpr int kMaxChildren = 100000;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t Be64(const uint8_t* p) {
    return (uint64_t{Be32(p)} << 32) | Be32(p + 4);
}

struct FixedFields {
    std::size_t size = 0;  // the whole box up to the end of its fixed fields
    std::size_t matrixOrLanguage = 0;
    bool wide = false;
};

// The fixed fields of a whole version 0 or 1 mvhd, tkhd or mdhd box.
std::optional<FixedFields> FixedFieldsOf(const uint8_t* bytes, std::size_t size) {
    if (size < 12 || Be32(bytes) != size) return std::nullopt;
    const uint8_t version = bytes[8];
    if (version > 1) return std::nullopt;
    const bool wide = version == 1;
    FixedFields fields;
    if (std::memcmp(bytes + 4, "mvhd", 4) == 0) {
        fields = {wide ? 120u : 108u, wide ? 56u : 44u, wide};
    } else if (std::memcmp(bytes + 4, "tkhd", 4) == 0) {
        fields = {wide ? 104u : 92u, wide ? 60u : 48u, wide};
    } else if (std::memcmp(bytes + 4, "mdhd", 4) == 0) {
        fields = {wide ? 44u : 32u, wide ? 40u : 28u, wide};
    } else {
        return std::nullopt;
    }
    if (size < fields.size) return std::nullopt;
    return fields;
}

struct StreamBox {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t header = 8;
    char type[4] = {};
};

bool ReadAt(std::istream& stream, uint64_t offset, uint8_t* bytes, uint64_t count) {
    stream.clear();
    if (!MoveTo(stream, offset)) return false;
    stream.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
    return static_cast<uint64_t>(stream.gcount()) == count;
}

// The box whose header starts at `offset`, when it lies inside [offset, end).
std::optional<StreamBox> BoxAt(std::istream& stream, uint64_t offset, uint64_t end) {
    uint8_t header[16];
    if (offset > end || end - offset < 8 || !ReadAt(stream, offset, header, 8)) {
        return std::nullopt;
    }
    StreamBox box;
    box.offset = offset;
    box.size = Be32(header);
    std::memcpy(box.type, header + 4, 4);
    if (box.size == 1) {
        if (end - offset < 16 || !ReadAt(stream, offset + 8, header + 8, 8)) return std::nullopt;
        box.size = Be64(header + 8);
        box.header = 16;
    } else if (box.size == 0) {
        box.size = end - offset;
    }
    if (box.size < box.header || box.size > end - offset) return std::nullopt;
    return box;
}

// The first child of `type` inside `parent` (whose children start `skip`
// bytes into its payload).
std::optional<StreamBox> FindChildIn(std::istream& stream, const StreamBox& parent,
                                     const char* type, uint64_t skip = 0) {
    const uint64_t end = parent.offset + parent.size;
    uint64_t at = parent.offset + parent.header + skip;
    for (int n = 0; n < kMaxChildren && at < end; ++n) {
        const std::optional<StreamBox> child = BoxAt(stream, at, end);
        if (!child) return std::nullopt;
        if (std::memcmp(child->type, type, 4) == 0) return child;
        at += child->size;
    }
    return std::nullopt;
}

// The whole box, when it is an ordinary 32-bit box of at most `limit` bytes.
std::vector<uint8_t> ReadWholeBox(std::istream& stream, const StreamBox& box, uint64_t limit) {
    std::vector<uint8_t> bytes;
    if (box.header != 8 || box.size > limit) return bytes;
    bytes.resize(static_cast<std::size_t>(box.size));
    if (!ReadAt(stream, box.offset, bytes.data(), box.size) || Be32(bytes.data()) != box.size) {
        bytes.clear();
    }
    return bytes;
}

std::vector<uint8_t> ReadChildBox(std::istream& stream, const std::optional<StreamBox>& parent,
                                  const char* type, uint64_t limit) {
    if (!parent) return {};
    const std::optional<StreamBox> child = FindChildIn(stream, *parent, type);
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
    std::size_t at = 8;
    while (at < udta.size() && udta.size() - at >= 8) {
        const uint32_t size = Be32(udta.data() + at);
        if (size < 8 || size > udta.size() - at) break;
        if (IsCarriedUserDataType(udta.data() + at + 4)) {
            tags.insert(tags.end(), udta.begin() + static_cast<std::ptrdiff_t>(at),
                        udta.begin() + static_cast<std::ptrdiff_t>(at + size));
        }
        at += size;
    }
    return tags;
}

// True when the whole meta box holds an hdlr child of handler type 'mdta'.
// QuickTime's meta has no version and flags, ISO's has: both are accepted.
bool IsMdtaMeta(const std::vector<uint8_t>& meta) {
    for (std::size_t first : {std::size_t{8}, std::size_t{12}}) {
        if (meta.size() < first + 20) continue;
        const uint32_t size = Be32(meta.data() + first);
        if (std::memcmp(meta.data() + first + 4, "hdlr", 4) == 0 && size >= 20 &&
            size <= meta.size() - first && std::memcmp(meta.data() + first + 16, "mdta", 4) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsCarriedUserDataType(const uint8_t* type) {
    if (type[0] == 0xA9) {
        // These name the program that wrote the file; the output's own
        // muxer tag says that for the output.
        static constexpr const char* kWriterTags[] = {"swr", "too", "enc"};
        for (const char* tag : kWriterTags) {
            if (std::memcmp(type + 1, tag, 3) == 0) return false;
        }
        return true;
    }
    static constexpr const char* kIsoTags[] = {"titl", "dscp", "cprt", "perf", "auth",
                                               "gnre", "rtng", "clsf", "kywd", "loci",
                                               "albm", "yrrc", "XMP_", "meta"};
    for (const char* tag : kIsoTags) {
        if (std::memcmp(type, tag, 4) == 0) return true;
    }
    return false;
}

std::optional<HeaderTimes> ReadHeaderTimes(const uint8_t* bytes, std::size_t size) {
    const std::optional<FixedFields> fields = FixedFieldsOf(bytes, size);
    if (!fields) return std::nullopt;
    if (fields->wide) return HeaderTimes{Be64(bytes + 12), Be64(bytes + 20)};
    return HeaderTimes{Be32(bytes + 12), Be32(bytes + 16)};
}

std::optional<std::size_t> MatrixOffset(const uint8_t* bytes, std::size_t size) {
    const std::optional<FixedFields> fields = FixedFieldsOf(bytes, size);
    if (!fields || std::memcmp(bytes + 4, "mdhd", 4) == 0) return std::nullopt;
    return fields->matrixOrLanguage;
}

std::optional<std::size_t> LanguageOffset(const uint8_t* bytes, std::size_t size) {
    const std::optional<FixedFields> fields = FixedFieldsOf(bytes, size);
    if (!fields || std::memcmp(bytes + 4, "mdhd", 4) != 0) return std::nullopt;
    return fields->matrixOrLanguage;
}

std::optional<std::string> ReadHandlerName(const uint8_t* bytes, std::size_t size) {
    // Header, version and flags, predefined, handler type, 12 reserved bytes.
    constexpr std::size_t kNameAt = 32;
    if (size < kNameAt || Be32(bytes) != size || std::memcmp(bytes + 4, "hdlr", 4) != 0) {
        return std::nullopt;
    }
    const uint8_t* name = bytes + kNameAt;
    const std::size_t length = size - kNameAt;
    if (length > 0 && name[0] == length - 1) {
        return std::string(reinterpret_cast<const char*>(name + 1), length - 1);
    }
    std::size_t end = 0;
    while (end < length && name[end] != 0) ++end;
    return std::string(reinterpret_cast<const char*>(name), end);
}

RecordingMetadata ReadRecordingMetadata(std::istream& stream, uint64_t length,
                                        uint64_t audioBoxOffset) {
    RecordingMetadata metadata;
    std::optional<StreamBox> moov;
    uint64_t at = 0;
    for (int n = 0; n < kMaxTopLevelBoxes && at < length; ++n) {
        const std::optional<StreamBox> box = BoxAt(stream, at, length);
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

    const std::optional<StreamBox> trak = FindChildIn(stream, *moov, "trak");
    const std::vector<uint8_t> tkhd = ReadChildBox(stream, trak, "tkhd", kMaxHeaderBox);
    metadata.videoTrackTimes = ReadHeaderTimes(tkhd.data(), tkhd.size());
    metadata.videoMatrix = ReadMatrix(tkhd);
    const std::optional<StreamBox> mdia = trak ? FindChildIn(stream, *trak, "mdia") : std::nullopt;
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
        std::optional<StreamBox> audioBox;
        uint64_t next = audioBoxOffset;
        for (int n = 0; n < kMaxTopLevelBoxes && next < length; ++n) {
            audioBox = BoxAt(stream, next, length);
            if (!audioBox || std::memcmp(audioBox->type, "ZATR", 4) == 0) break;
            next += audioBox->size;
            audioBox.reset();
        }
        const std::optional<StreamBox> audioMdia =
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
