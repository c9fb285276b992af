// The fields of the boxes that hold the recording metadata, read from and
// located in whole boxes held in memory. The input's reader and the output's
// metadata step share them.
#include "audio/RecordingMetadata.h"

#include <cstring>

#include "audio/ByteOrder.h"

namespace spatialmux {

namespace {

struct FixedFields {
    std::size_t size = 0;  // the whole box up to the end of its fixed fields
    std::size_t matrixOrLanguage = 0;
    bool wide = false;
};

// The fixed fields of a whole version 0 or 1 mvhd, tkhd or mdhd box.
std::optional<FixedFields> FixedFieldsOf(const uint8_t* bytes, std::size_t size) {
    if (size < 12 || ReadBE32(bytes) != size) return std::nullopt;
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
    if (fields->wide) return HeaderTimes{ReadBE64(bytes + 12), ReadBE64(bytes + 20)};
    return HeaderTimes{ReadBE32(bytes + 12), ReadBE32(bytes + 16)};
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
    if (size < kNameAt || ReadBE32(bytes) != size || std::memcmp(bytes + 4, "hdlr", 4) != 0) {
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

}  // namespace spatialmux
