#include "movie/MakerNote.h"

#include <cstring>

namespace spatialmux {

namespace {

constexpr int64_t kTiffHeaderBytes = 8;
constexpr int64_t kMakerNoteHeaderBytes = 8;
constexpr uint16_t kTagSoftware = 0x0131;
constexpr uint16_t kTagExifDirectory = 0x8769;
constexpr uint16_t kTagMakerNote = 0x927C;
constexpr uint16_t kTagSubDirectory = 0x4001;
constexpr uint16_t kTagFlag = 0x1011;

constexpr int64_t kEntryBytes = 12;

uint16_t Read16(const uint8_t* bytes, TiffByteOrder order) {
    if (order == TiffByteOrder::LittleEndian) {
        return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t Read32(const uint8_t* bytes, TiffByteOrder order) {
    const uint32_t high = Read16(bytes, order);
    const uint32_t low = Read16(bytes + 2, order);
    return order == TiffByteOrder::LittleEndian ? (low << 16) | high : (high << 16) | low;
}

// The offset held in the value of the entry with `tag`, as a signed number.
bool OffsetOf(const std::vector<IfdEntry>& entries, uint16_t tag, int64_t* offset) {
    const int32_t index = FindIfdEntry(entries, tag);
    if (index < 0) {
        return false;
    }
    *offset = static_cast<int32_t>(entries[static_cast<std::size_t>(index)].value);
    return true;
}

}  // namespace

std::optional<TiffByteOrder> TiffOrderOf(const uint8_t* payload, std::size_t size) {
    if (size < 2) return std::nullopt;
    if (payload[0] == 'I' && payload[1] == 'I') return TiffByteOrder::LittleEndian;
    if (payload[0] == 'M' && payload[1] == 'M') return TiffByteOrder::BigEndian;
    return std::nullopt;
}

bool ReadIfdEntries(const uint8_t* payload, std::size_t size, int64_t offset,
                    std::vector<IfdEntry>& entries, TiffByteOrder order) {
    entries.clear();
    const auto total = static_cast<int64_t>(size);
    if (offset < 0 || offset > total - 2) {
        return false;
    }
    const int64_t count = Read16(payload + offset, order);
    const int64_t first = offset + 2;
    if (count * kEntryBytes > total - first) {
        return false;
    }
    entries.resize(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* bytes = payload + first + i * kEntryBytes;
        IfdEntry& entry = entries[static_cast<std::size_t>(i)];
        entry.tag = Read16(bytes, order);
        entry.type = Read16(bytes + 2, order);
        entry.count = Read32(bytes + 4, order);
        entry.value = Read32(bytes + 8, order);
    }
    return true;
}

int32_t FindIfdEntry(const std::vector<IfdEntry>& entries, uint16_t tag) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].tag == tag) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

MakerNoteFacts ParseMakerNote(const uint8_t* payload, std::size_t size) {
    MakerNoteFacts facts;
    std::vector<IfdEntry> first;
    std::vector<IfdEntry> exif;
    std::vector<IfdEntry> makerNote;
    std::vector<IfdEntry> sub;
    // The header names the byte order of every field behind it (a note
    // read in the wrong order finds no tag, and the model goes unrecognised)
    // and where the first directory is; it is not always right behind the
    // header.
    const std::optional<TiffByteOrder> order = TiffOrderOf(payload, size);
    if (!order || static_cast<int64_t>(size) < kTiffHeaderBytes) {
        return facts;
    }
    int64_t offset = static_cast<int32_t>(Read32(payload + 4, *order));
    if (!ReadIfdEntries(payload, size, offset, first, *order) ||
        !OffsetOf(first, kTagExifDirectory, &offset) ||
        !ReadIfdEntries(payload, size, offset, exif, *order) ||
        !OffsetOf(exif, kTagMakerNote, &offset) ||
        !ReadIfdEntries(payload, size, offset + kMakerNoteHeaderBytes, makerNote, *order) ||
        !OffsetOf(makerNote, kTagSubDirectory, &offset) ||
        !ReadIfdEntries(payload, size, offset, sub, *order)) {
        return facts;
    }
    const int32_t flagIndex = FindIfdEntry(sub, kTagFlag);
    const int32_t textIndex = FindIfdEntry(first, kTagSoftware);
    if (flagIndex < 0 || textIndex < 0) {
        return facts;
    }
    const IfdEntry& text = first[static_cast<std::size_t>(textIndex)];
    const int64_t textOffset = static_cast<int32_t>(text.value);
    const auto total = static_cast<int64_t>(size);
    if (textOffset < 0 || textOffset > total ||
        static_cast<int64_t>(text.count) > total - textOffset) {
        return facts;
    }
    const char* characters = reinterpret_cast<const char*>(payload + textOffset);
    const void* nul = std::memchr(characters, '\0', text.count);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - characters)
                       : text.count;
    facts.softwareText.assign(characters, length);
    facts.makerNoteFlag = sub[static_cast<std::size_t>(flagIndex)].value != 0;
    return facts;
}

}  // namespace spatialmux
