#pragma once
// A stand-in for libavformat's reading of a movie's first track, which the
// fuzz build (no FFmpeg) cannot ask: the rules by which players place the
// video samples where they differ from a reading of stbl alone. The first
// moov met at the top level or inside a top-level udta is read; in its
// first trak every box libavformat descends into is walked (edts, mdia,
// minf, dinf, stbl, udta, and the children of a sample entry behind its 78
// bytes of video fields), taking the first chunk offset table (stco or
// co64) and the first sample-to-chunk table that hold entries, and the last
// sample size table. Tables whose counts do not fit their boxes are passed
// over.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"
#include "output/EditPlan.h"
#include "output/TrackTables.h"

namespace spatialmux::fuzzing {

struct PlayersTables {
    const uint8_t* offsets = nullptr;
    bool wideOffsets = false;
    uint32_t chunkCount = 0;
    const uint8_t* runs = nullptr;  // stsc entries
    uint32_t runCount = 0;
    const uint8_t* sizes = nullptr;  // stsz entries, or nullptr with fixedSize
    uint32_t fixedSize = 0;
    uint32_t sampleCount = 0;
    bool sized = false;
};

inline void WalkPlayersTrack(const std::vector<uint8_t>& bytes, std::size_t begin, std::size_t end,
                             int depth, PlayersTables& tables) {
    if (depth > 16) return;
    for (std::size_t at = begin; at + 8 <= end;) {
        const auto header = ParseBoxHeader(bytes.data() + at, end - at, end - at);
        if (!header) return;
        const std::size_t payload = at + header->headerSize;
        const std::size_t boxEnd = at + static_cast<std::size_t>(header->size);
        const std::size_t body = boxEnd - payload;
        const uint8_t* p = bytes.data() + payload;
        if (header->Is("edts") || header->Is("mdia") || header->Is("minf") || header->Is("dinf") ||
            header->Is("stbl") || header->Is("udta")) {
            WalkPlayersTrack(bytes, payload, boxEnd, depth + 1, tables);
        } else if (header->Is("stsd") && body >= 8) {
            for (std::size_t entry = payload + 8; entry + 8 <= boxEnd;) {
                const auto sampleEntry =
                    ParseBoxHeader(bytes.data() + entry, boxEnd - entry, boxEnd - entry);
                if (!sampleEntry) break;
                const std::size_t entryEnd = entry + static_cast<std::size_t>(sampleEntry->size);
                const std::size_t children = entry + sampleEntry->headerSize + 78;
                if (children < entryEnd)
                    WalkPlayersTrack(bytes, children, entryEnd, depth + 1, tables);
                entry = entryEnd;
            }
        } else if ((header->Is("stco") || header->Is("co64")) && body >= 8) {
            const uint32_t count = ReadBE32(p + 4);
            const uint64_t width = header->Is("co64") ? 8 : 4;
            if (tables.offsets == nullptr && count > 0 && count * width <= body - 8) {
                tables.offsets = p + 8;
                tables.wideOffsets = width == 8;
                tables.chunkCount = count;
            }
        } else if (header->Is("stsc") && body >= 8) {
            const uint32_t count = ReadBE32(p + 4);
            if (tables.runs == nullptr && count > 0 && uint64_t{count} * 12 <= body - 8) {
                tables.runs = p + 8;
                tables.runCount = count;
            }
        } else if (header->Is("stsz") && body >= 12) {
            const uint32_t fixed = ReadBE32(p + 4);
            const uint32_t count = ReadBE32(p + 8);
            if (fixed != 0 || uint64_t{count} * 4 <= body - 12) {
                tables.sizes = fixed != 0 ? nullptr : p + 12;
                tables.fixedSize = fixed;
                tables.sampleCount = count;
                tables.sized = true;
            }
        }
        if (header->toEnd) return;
        at = boxEnd;
    }
}

// The first moov the players meet: a top-level one, or one inside a
// top-level udta in front of it. Its offset and size.
inline std::optional<std::pair<std::size_t, std::size_t>> PlayersMoov(
    const std::vector<uint8_t>& bytes) {
    for (std::size_t at = 0, walked = 0; at + 8 <= bytes.size() && walked < kMaxTopLevelBoxes;
         ++walked) {
        const auto header = ParseBoxHeader(bytes.data() + at, bytes.size() - at, bytes.size() - at);
        if (!header) return std::nullopt;
        const auto size = static_cast<std::size_t>(header->size);
        if (header->Is("moov")) return std::pair{at, size};
        if (header->Is("udta")) {
            for (std::size_t in = at + header->headerSize; in + 8 <= at + size;) {
                const auto child =
                    ParseBoxHeader(bytes.data() + in, at + size - in, at + size - in);
                if (!child) break;
                if (child->Is("moov")) return std::pair{in, static_cast<std::size_t>(child->size)};
                in += static_cast<std::size_t>(child->size);
            }
        }
        at += size;
    }
    return std::nullopt;
}

// Each video sample of the movie `bytes` where the stand-in places it, in
// decoding order; nothing when it finds no whole set of tables.
inline std::optional<std::vector<output::ByteRange>> PlayersVideoSamples(
    const std::vector<uint8_t>& bytes) {
    const auto moov = PlayersMoov(bytes);
    if (!moov) return std::nullopt;
    const auto header = ParseBoxHeader(bytes.data() + moov->first, moov->second, moov->second);
    if (!header) return std::nullopt;
    const std::size_t end = moov->first + moov->second;
    for (std::size_t at = moov->first + header->headerSize; at + 8 <= end;) {
        const auto child = ParseBoxHeader(bytes.data() + at, end - at, end - at);
        if (!child) return std::nullopt;
        const std::size_t childEnd = at + static_cast<std::size_t>(child->size);
        if (!child->Is("trak")) {
            at = childEnd;
            continue;
        }
        PlayersTables tables;
        WalkPlayersTrack(bytes, at + child->headerSize, childEnd, 0, tables);
        if (tables.offsets == nullptr || tables.runs == nullptr || !tables.sized ||
            tables.sampleCount == 0 || tables.sampleCount > output::kMaxTrackSamples) {
            return std::nullopt;
        }
        std::vector<output::ByteRange> samples;
        uint32_t run = 0;
        for (uint32_t chunk = 0; chunk < tables.chunkCount && samples.size() < tables.sampleCount;
             ++chunk) {
            while (run + 1 < tables.runCount &&
                   ReadBE32(tables.runs + 12 * uint64_t{run + 1}) <= chunk + 1) {
                ++run;
            }
            uint64_t offset = tables.wideOffsets ? ReadBE64(tables.offsets + 8 * uint64_t{chunk})
                                                 : ReadBE32(tables.offsets + 4 * uint64_t{chunk});
            const uint32_t perChunk = ReadBE32(tables.runs + 12 * uint64_t{run} + 4);
            for (uint32_t k = 0; k < perChunk && samples.size() < tables.sampleCount; ++k) {
                const uint32_t size = tables.sizes != nullptr
                                          ? ReadBE32(tables.sizes + 4 * samples.size())
                                          : tables.fixedSize;
                if (size > UINT64_MAX - offset) return std::nullopt;
                samples.push_back({offset, size});
                offset += size;
            }
        }
        return samples;
    }
    return std::nullopt;
}

}  // namespace spatialmux::fuzzing
