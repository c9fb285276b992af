#pragma once
// A small hand-made movie in the camera's box layout, for the reader's tests:
// only the boxes that the walk looks at, audio chunks separated by filler
// bytes that are not audio, and every field that a test wants to vary.

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"

namespace spatialmux::testmovie {

using Bytes = std::vector<uint8_t>;

inline void PutText(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes Box(const std::string& type, const Bytes& payload) {
    Bytes out;
    AppendBE32(out, static_cast<uint32_t>(payload.size() + 8));
    PutText(out, type);
    Append(out, payload);
    return out;
}

inline Bytes Box(const std::string& type, std::initializer_list<Bytes> children) {
    Bytes payload;
    for (const Bytes& child : children) {
        Append(payload, child);
    }
    return Box(type, payload);
}

// The sample at `instant` of `channel` (0 to 3): distinct per channel and
// instant, covering both signs.
inline int16_t Sample(int channel, int64_t instant) {
    return static_cast<int16_t>(static_cast<uint16_t>(instant * 37 + channel * 16411 + 5));
}

// Bytes between chunks (and after the last one) that are not audio.
inline constexpr uint8_t kFiller = 0xEE;

struct Run {
    uint32_t firstChunk;  // counted from 1, as in the file
    uint32_t samplesPerChunk;
};

struct Options {
    int32_t totalSamples = 4096;
    std::vector<Run> runs = {{1, 1024}};
    // Chunks written; 0: as many as totalSamples needs.
    uint32_t chunkCount = 0;
    uint32_t fillerBytes = 16;  // between consecutive chunks
    std::string videoFormat = "avc1";
    std::string audioFormat = "sowt";
    uint32_t timescale = 48000;
    uint32_t stszSampleSize = 8;
    bool writeSa3d = true;
    bool useStco = false;
    std::string softwareText = "ZORVA VELIX V Ver 1.1";
    uint32_t makerNoteFlag = 0;
    std::vector<uint16_t> omitTags;
    int boxesBeforeMoov = 0;
    // Entry counts written in place of the real ones (-1: the real ones).
    int64_t stscCountOverride = -1;
    int64_t co64CountOverride = -1;
};

struct Movie {
    Bytes bytes;
    std::vector<uint64_t> chunkOffsets;
    std::vector<uint32_t> chunkSizes;  // instants per chunk
    Bytes videoEntry;
    Bytes uuid;
    Bytes sa3d;
    uint64_t zatrOffset = 0;
    uint64_t audioEntryOffset = 0;
};

inline uint32_t SamplesInChunk(const std::vector<Run>& runs, uint32_t chunk) {
    uint32_t samples = 0;
    for (const Run& run : runs) {
        if (run.firstChunk - 1 <= chunk) {
            samples = run.samplesPerChunk;
        }
    }
    return samples;
}

inline Bytes MakerNotePayload(const Options& options) {
    // TIFF header, first directory at 8; the other pieces follow at fixed
    // offsets chosen here.
    const auto keep = [&](uint16_t tag) {
        for (uint16_t omitted : options.omitTags) {
            if (omitted == tag) {
                return false;
            }
        }
        return true;
    };
    const uint32_t exifOffset = 100;
    const uint32_t makerOffset = 140;  // directory at 148
    const uint32_t subOffset = 180;
    const uint32_t textOffset = 220;
    Bytes p = {'M', 'M', 0, 42, 0, 0, 0, 8};
    const auto directory = [&](std::vector<std::array<uint32_t, 4>> entries) {
        Bytes d;
        AppendBE16(d, static_cast<uint16_t>(entries.size()));
        for (const auto& e : entries) {
            AppendBE16(d, static_cast<uint16_t>(e[0]));
            AppendBE16(d, static_cast<uint16_t>(e[1]));
            AppendBE32(d, e[2]);
            AppendBE32(d, e[3]);
        }
        return d;
    };
    const auto place = [&](uint32_t offset, const Bytes& piece) {
        if (p.size() < offset + piece.size()) {
            p.resize(offset + piece.size(), 0);
        }
        std::copy(piece.begin(), piece.end(), p.begin() + offset);
    };
    std::vector<std::array<uint32_t, 4>> first = {{0x010F, 2, 4, 0}};
    if (keep(0x0131)) {
        first.push_back(
            {0x0131, 2, static_cast<uint32_t>(options.softwareText.size() + 1), textOffset});
    }
    if (keep(0x8769)) {
        first.push_back({0x8769, 4, 1, exifOffset});
    }
    place(8, directory(first));
    place(
        exifOffset,
        directory(keep(0x927C) ? std::vector<std::array<uint32_t, 4>>{{0x927C, 7, 64, makerOffset}}
                               : std::vector<std::array<uint32_t, 4>>{{0x9000, 7, 4, 0}}));
    place(makerOffset, Bytes{'Z', 'M', 'K', 'N', 0, 0, 0, 0});
    place(makerOffset + 8,
          directory(keep(0x4001) ? std::vector<std::array<uint32_t, 4>>{{0x4001, 4, 1, subOffset}}
                                 : std::vector<std::array<uint32_t, 4>>{{0x4002, 4, 1, 0}}));
    place(subOffset,
          directory(keep(0x1011) ? std::vector<std::array<uint32_t, 4>>{{0x1011, 4, 1,
                                                                         options.makerNoteFlag}}
                                 : std::vector<std::array<uint32_t, 4>>{{0x1012, 4, 1, 1}}));
    Bytes text;
    PutText(text, options.softwareText);
    text.push_back(0);
    place(textOffset, text);
    return p;
}

inline Movie BuildMovie(const Options& options) {
    Movie movie;
    // Chunk sizes.
    uint64_t covered = 0;
    for (uint32_t chunk = 0;; ++chunk) {
        if (options.chunkCount != 0
                ? chunk >= options.chunkCount
                : covered >= static_cast<uint64_t>(std::max(options.totalSamples, 0))) {
            break;
        }
        const uint32_t size = SamplesInChunk(options.runs, chunk);
        movie.chunkSizes.push_back(size);
        covered += size;
        if (options.chunkCount == 0 && size == 0 && chunk > 100000) {
            break;
        }
    }

    Bytes& out = movie.bytes;
    Append(out, Box("ftyp", Bytes{'q', 't', ' ', ' ', 0, 0, 2, 0}));
    for (int i = 0; i < options.boxesBeforeMoov; ++i) {
        Append(out, Box("free", Bytes{}));
    }
    // mdat: chunks in order, filler after each.
    Bytes mdat;
    const uint64_t mdatPayload = out.size() + 8;
    int64_t instant = 0;
    for (uint32_t size : movie.chunkSizes) {
        movie.chunkOffsets.push_back(mdatPayload + mdat.size());
        // Only the instants of the audio's length are written: a chunk that
        // reaches beyond it ends early.
        const int64_t written =
            std::min<int64_t>(size, std::max<int64_t>(options.totalSamples - instant, 0));
        for (int64_t i = 0; i < written; ++i, ++instant) {
            for (int channel = 0; channel < 4; ++channel) {
                AppendLE16(mdat, static_cast<uint16_t>(Sample(channel, instant)));
            }
        }
        mdat.insert(mdat.end(), options.fillerBytes, kFiller);
    }
    Append(out, Box("mdat", mdat));

    // Video track.
    Bytes videoEntryPayload(78, 0);
    videoEntryPayload[7] = 1;  // data reference index
    Append(videoEntryPayload, Box("avcC", Bytes{1, 2, 3, 4, 5}));
    movie.videoEntry = Box(options.videoFormat, videoEntryPayload);
    Bytes videoStsd = {0, 0, 0, 0};
    AppendBE32(videoStsd, 1);
    Append(videoStsd, movie.videoEntry);
    Bytes uuidPayload = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                         0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};
    PutText(uuidPayload, "<rdf:SphericalVideo/>");
    movie.uuid = Box("uuid", uuidPayload);
    const Bytes videoTrak =
        Box("trak",
            {Box("tkhd", Bytes(84, 0)),
             Box("mdia",
                 {Box("mdhd", Bytes(24, 0)),
                  Box("minf", {Box("stbl", {Box("stsd", videoStsd), Box("stts", Bytes(8, 0))})})}),
             movie.uuid});

    // Audio track's boxes under ZATR.
    Bytes mdhd(24, 0);
    WriteBE32(&mdhd[12], options.timescale);
    const auto total = static_cast<uint32_t>(options.totalSamples);
    WriteBE32(&mdhd[16], total);

    Bytes audioEntryPayload(28, 0);  // reserved, index, version ... sample rate
    audioEntryPayload[7] = 1;
    audioEntryPayload[17] = 4;   // channels
    audioEntryPayload[19] = 16;  // bits
    if (options.writeSa3d) {
        // version, ambisonic type, order 1, channel ordering, normalization,
        // four channels and their map.
        Bytes sa3d = {0, 0, 0, 0, 0, 1, 0, 0};
        AppendBE32(sa3d, 4);
        for (uint32_t channel : {0u, 3u, 1u, 2u}) {
            AppendBE32(sa3d, channel);
        }
        movie.sa3d = Box("SA3D", sa3d);  // 36 bytes
        Append(audioEntryPayload, movie.sa3d);
    }
    const Bytes audioEntry = Box(options.audioFormat, audioEntryPayload);
    Bytes audioStsd = {0, 0, 0, 0};
    AppendBE32(audioStsd, 1);
    Append(audioStsd, audioEntry);

    Bytes stsc = {0, 0, 0, 0};
    AppendBE32(stsc, options.stscCountOverride >= 0
                         ? static_cast<uint32_t>(options.stscCountOverride)
                         : static_cast<uint32_t>(options.runs.size()));
    for (const Run& run : options.runs) {
        AppendBE32(stsc, run.firstChunk);
        AppendBE32(stsc, run.samplesPerChunk);
        AppendBE32(stsc, 1);
    }
    Bytes stsz = {0, 0, 0, 0};
    AppendBE32(stsz, options.stszSampleSize);
    AppendBE32(stsz, static_cast<uint32_t>(covered));
    Bytes offsets = {0, 0, 0, 0};
    AppendBE32(offsets, options.co64CountOverride >= 0
                            ? static_cast<uint32_t>(options.co64CountOverride)
                            : static_cast<uint32_t>(movie.chunkOffsets.size()));
    for (uint64_t offset : movie.chunkOffsets) {
        if (options.useStco) {
            AppendBE32(offsets, static_cast<uint32_t>(offset));
        } else {
            AppendBE64(offsets, offset);
        }
    }
    const Bytes zatr =
        Box("ZATR",
            {Box("tkhd", Bytes(84, 0)),
             Box("mdia",
                 {Box("mdhd", mdhd),
                  Box("minf", {Box("stbl", {Box("stsd", audioStsd), Box("stts", Bytes(8, 0)),
                                            Box("stsc", stsc), Box("stsz", stsz),
                                            Box(options.useStco ? "stco" : "co64", offsets)})})})});

    Bytes zdt9;
    AppendBE64(zdt9, 0);  // patched below
    const Bytes udta = Box("udta", {Box("ZMKN", MakerNotePayload(options)), Box("ZDT9", zdt9)});
    const uint64_t moovOffset = out.size();
    Append(out, Box("moov", {Box("mvhd", Bytes(100, 0)), videoTrak, udta, zatr}));

    // Positions of the pieces in the file.
    const auto find = [&](const Bytes& piece, uint64_t from) {
        return static_cast<uint64_t>(std::search(out.begin() + static_cast<std::ptrdiff_t>(from),
                                                 out.end(), piece.begin(), piece.end()) -
                                     out.begin());
    };
    movie.zatrOffset = find(zatr, moovOffset);
    movie.audioEntryOffset = find(audioEntry, movie.zatrOffset);
    Bytes zdt9Box = Box("ZDT9", zdt9);
    const uint64_t zdt9Offset = find(zdt9Box, moovOffset);
    for (int i = 0; i < 8; ++i) {
        out[zdt9Offset + 8 + static_cast<uint64_t>(i)] =
            static_cast<uint8_t>(movie.zatrOffset >> (56 - 8 * i));
    }
    return movie;
}

// A file in the temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& name)
        : path((std::filesystem::temp_directory_path() /
                ("spatialmux_reader_" + std::to_string(::getpid()) + "_" + name))
                   .string()) {}
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Write(const Bytes& bytes) const {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    const std::string path;
};

}  // namespace spatialmux::testmovie
