#include "movie/MakerNote.h"

#include <cstring>

#include "audio/ByteUtil.h"

namespace spatialmux {

namespace {

constexpr int64_t kFirstDirectoryOffset = 8;
constexpr int64_t kMakerNoteHeaderBytes = 8;
constexpr uint16_t kTagSoftware = 0x0131;
constexpr uint16_t kTagExifDirectory = 0x8769;
constexpr uint16_t kTagMakerNote = 0x927C;
constexpr uint16_t kTagSubDirectory = 0x4001;
constexpr uint16_t kTagFlag = 0x1011;

constexpr int64_t kEntryBytes = 12;

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

bool ReadIfdEntries(const uint8_t* payload, std::size_t size, int64_t offset,
                    std::vector<IfdEntry>& entries) {
    entries.clear();
    const auto total = static_cast<int64_t>(size);
    if (offset < 0 || offset > total - 2) {
        return false;
    }
    const ByteUtil util;
    const int64_t count = util.ReadBE16(payload + offset);
    const int64_t first = offset + 2;
    if (count * kEntryBytes > total - first) {
        return false;
    }
    entries.resize(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* bytes = payload + first + i * kEntryBytes;
        IfdEntry& entry = entries[static_cast<std::size_t>(i)];
        entry.tag = util.ReadBE16(bytes);
        entry.type = util.ReadBE16(bytes + 2);
        entry.count = util.ReadBE32(bytes + 4);
        entry.value = util.ReadBE32(bytes + 8);
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
    int64_t offset = 0;
    if (!ReadIfdEntries(payload, size, kFirstDirectoryOffset, first) ||
        !OffsetOf(first, kTagExifDirectory, &offset) ||
        !ReadIfdEntries(payload, size, offset, exif) || !OffsetOf(exif, kTagMakerNote, &offset) ||
        !ReadIfdEntries(payload, size, offset + kMakerNoteHeaderBytes, makerNote) ||
        !OffsetOf(makerNote, kTagSubDirectory, &offset) ||
        !ReadIfdEntries(payload, size, offset, sub)) {
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
