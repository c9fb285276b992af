// The audio track's sample tables: stsc (chunk runs), stsz (bytes per
// sampling instant) and co64 (chunk offsets). Entry counts are checked
// against the size of their box and the length of the file before anything
// is allocated.

#include <cstdint>
#include <limits>
#include <vector>

#include "movie/MovieReader.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// Room for `count` entries of `entryBytes` after the 16 bytes of header,
// version, flags and count, in the box and in the file.
bool TableFits(uint64_t boxSize, uint64_t boxStart, uint64_t fileSize, uint64_t count,
               uint64_t entryBytes) {
    if (boxSize < 16 || (boxSize - 16) / entryBytes < count) {
        return false;
    }
    return boxStart <= fileSize && 16 + count * entryBytes <= fileSize - boxStart;
}

bool ReadTable(std::istream& stream, std::vector<uint8_t>& bytes) {
    stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<std::size_t>(stream.gcount()) == bytes.size();
}

// The byte count of a chunk (instants x 8) must stay a 32-bit number.
constexpr uint32_t kMaxSamplesPerChunk =
    static_cast<uint32_t>(std::numeric_limits<int32_t>::max() / 8);

}  // namespace

bool MovieReader::ReadSampleToChunk() {
    const std::optional<uint64_t> payload = StreamPosition(stream);
    if (!payload || *payload < 8) {
        return false;
    }
    stream.read(reinterpret_cast<char*>(stscHeader), sizeof stscHeader);
    if (stream.gcount() != sizeof stscHeader) {
        return false;
    }
    const uint32_t count = util.ReadBE32(stscHeader + 4);
    if (count == 0 || !TableFits(util.ReadBE32(boxHeader), *payload - 8, inputLength, count, 12)) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(count) * 12);
    if (!ReadTable(stream, bytes)) {
        return false;
    }
    track.chunkRuns.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = bytes.data() + static_cast<std::size_t>(i) * 12;
        const uint32_t samplesPerChunk = util.ReadBE32(entry + 4);
        if (samplesPerChunk > kMaxSamplesPerChunk) {
            return false;
        }
        track.chunkRuns[i].firstChunk = static_cast<int32_t>(util.ReadBE32(entry) - 1u);
        track.chunkRuns[i].samplesPerChunk = static_cast<int32_t>(samplesPerChunk);
    }
    track.chunkRunCount = static_cast<int32_t>(count);
    return true;
}

bool MovieReader::ReadSampleSize() {
    const uint32_t size = util.ReadBE32(boxHeader);
    if (size < 20) {
        return false;
    }
    stream.read(reinterpret_cast<char*>(stszBytes), sizeof stszBytes);
    if (stream.gcount() != sizeof stszBytes) {
        return false;
    }
    track.channelCount = static_cast<int32_t>(util.ReadBE32(stszBytes + 4) / 2u);
    // The per-sample size table, if any, is skipped unread.
    return MoveBy(stream, static_cast<int64_t>(size) - 20);
}

bool MovieReader::ReadChunkOffsets() {
    const std::optional<uint64_t> payload = StreamPosition(stream);
    if (!payload || *payload < 8) {
        return false;
    }
    stream.read(reinterpret_cast<char*>(co64Header), sizeof co64Header);
    if (stream.gcount() != sizeof co64Header) {
        return false;
    }
    const uint32_t count = util.ReadBE32(co64Header + 4);
    if (count == 0 || !TableFits(util.ReadBE32(boxHeader), *payload - 8, inputLength, count, 8)) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(count) * 8);
    if (!ReadTable(stream, bytes)) {
        return false;
    }
    track.chunkOffsets.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        track.chunkOffsets[i] = util.ReadBE64(bytes.data() + static_cast<std::size_t>(i) * 8);
    }
    return true;
}

int64_t MovieReader::TableSamples() const {
    int64_t total = 0;
    std::size_t run = 0;
    const std::size_t chunks = track.chunkOffsets.size();
    for (std::size_t chunk = 0; chunk < chunks && !track.chunkRuns.empty(); ++chunk) {
        // The same run bookkeeping as the frame reading's move to a chunk.
        if (chunk > 0 && run + 1 < track.chunkRuns.size() &&
            track.chunkRuns[run + 1].firstChunk == static_cast<int32_t>(chunk)) {
            ++run;
        }
        total += track.chunkRuns[run].samplesPerChunk;
    }
    return total;
}

}  // namespace spatialmux
