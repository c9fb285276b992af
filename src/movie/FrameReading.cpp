// Frame-by-frame reading of the audio: the read cursor moves through the
// chunks that the sample tables describe, never past the last one, and every
// frame is converted to four float channel arrays.

#include <algorithm>
#include <cstring>
#include <limits>

#include "movie/MovieReader.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

int32_t MovieReader::GetTotalSamples() const {
    return track.totalSamples;
}

int32_t MovieReader::GetCurrentSample() const {
    return cursor.currentSample;
}

// The target is computed in single precision: float(t) * float(timescale) /
// 1000, truncated. A time beyond the end lands 100 instants before the end.
void MovieReader::SeekToTime(uint32_t milliseconds) {
    if (track.chunkRuns.empty() || track.chunkOffsets.empty()) {
        return;
    }
    const float product =
        static_cast<float>(milliseconds) * static_cast<float>(track.timescale) / 1000.0f;
    int64_t target = 0;
    if (product >= 2147483648.0f) {
        target = std::numeric_limits<int64_t>::max();
    } else if (product <= -2147483648.0f) {
        target = std::numeric_limits<int64_t>::min();
    } else {
        target = static_cast<int32_t>(product);
    }
    if (target > track.totalSamples) {
        target = static_cast<int64_t>(track.totalSamples) - 100;
    }
    if (target < 0) {
        target = 0;
    }
    cursor.currentSample = static_cast<int32_t>(target);

    cursor.runIndex = 0;
    cursor.chunkIndex = 0;
    cursor.fileOffset = track.chunkOffsets[0];
    const auto runOf = [this](int32_t index) {
        return track.chunkRuns[static_cast<std::size_t>(index)];
    };
    // d: instants that the target lies beyond the end of the current chunk.
    int64_t d = target - runOf(0).samplesPerChunk;
    const auto chunkCount = static_cast<int64_t>(track.chunkOffsets.size());
    for (int64_t i = 1; d > 0 && i < chunkCount; ++i) {
        cursor.chunkIndex = static_cast<int32_t>(i);
        if (cursor.runIndex + 1 < track.chunkRunCount &&
            runOf(cursor.runIndex + 1).firstChunk == i) {
            ++cursor.runIndex;
        }
        d -= runOf(cursor.runIndex).samplesPerChunk;
    }
    cursor.samplesPerChunk = runOf(cursor.runIndex).samplesPerChunk;
    const uint64_t chunkStart = track.chunkOffsets[static_cast<std::size_t>(cursor.chunkIndex)];
    if (d > 0) {
        // The target lies beyond the last chunk: stand at its end.
        d = 0;
    }
    cursor.samplesLeftInChunk = static_cast<int32_t>(-d);
    cursor.fileOffset =
        chunkStart + static_cast<uint64_t>(d + cursor.samplesPerChunk) * kBytesPerInstant;
}

void MovieReader::NextChunk() {
    AdvanceChunk();
}

bool MovieReader::AdvanceChunk() {
    const int64_t next = static_cast<int64_t>(cursor.chunkIndex) + 1;
    if (next >= static_cast<int64_t>(track.chunkOffsets.size())) {
        return false;
    }
    cursor.chunkIndex = static_cast<int32_t>(next);
    if (cursor.runIndex + 1 < track.chunkRunCount) {
        const ChunkRun& following = track.chunkRuns[static_cast<std::size_t>(cursor.runIndex + 1)];
        if (following.firstChunk == cursor.chunkIndex) {
            ++cursor.runIndex;
            cursor.samplesPerChunk = following.samplesPerChunk;
        }
    }
    cursor.fileOffset = track.chunkOffsets[static_cast<std::size_t>(cursor.chunkIndex)];
    return true;
}

bool MovieReader::ReadAudioBytes(uint64_t offset, uint8_t* destination, std::size_t count) {
    if (count == 0) {
        return true;
    }
    lastFrameSpans.push_back({offset, static_cast<uint32_t>(count)});
    std::size_t got = 0;
    if (offset < inputLength) {
        const auto available =
            static_cast<std::size_t>(std::min<uint64_t>(count, inputLength - offset));
        stream.clear();
        if (!MoveTo(stream, offset)) {
            stream.clear();
            return false;
        }
        stream.read(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(available));
        got = static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0));
        stream.clear();
    }
    if (got < count) {
        std::memset(destination + got, 0, count - got);
        shortRead = true;
    }
    return true;
}

bool MovieReader::TakeInstants(int32_t wanted, bool stepPastFullChunk, int32_t* taken) {
    *taken = 0;
    uint8_t* bytes = frameBytes.data();
    const int32_t first = std::min(cursor.samplesLeftInChunk, wanted);
    if (!ReadAudioBytes(cursor.fileOffset, bytes,
                        static_cast<std::size_t>(first) * kBytesPerInstant)) {
        return false;
    }
    *taken = first;
    if (wanted <= cursor.samplesLeftInChunk) {
        cursor.fileOffset += static_cast<uint64_t>(wanted) * kBytesPerInstant;
        cursor.samplesLeftInChunk -= wanted;
        return true;
    }
    // The current chunk is used up; the rest comes from the following ones.
    cursor.fileOffset += static_cast<uint64_t>(first) * kBytesPerInstant;
    cursor.samplesLeftInChunk = 0;
    while (*taken < wanted) {
        if (!AdvanceChunk()) {
            // No further chunk: the cursor stays at the end of the last one.
            cursor.fileOffset = track.chunkOffsets[static_cast<std::size_t>(cursor.chunkIndex)] +
                                static_cast<uint64_t>(cursor.samplesPerChunk) * kBytesPerInstant;
            return true;
        }
        const int32_t chunk = cursor.samplesPerChunk;
        const int32_t n = std::min(wanted - *taken, chunk);
        if (!ReadAudioBytes(cursor.fileOffset,
                            bytes + static_cast<std::size_t>(*taken) * kBytesPerInstant,
                            static_cast<std::size_t>(n) * kBytesPerInstant)) {
            return false;
        }
        *taken += n;
        cursor.fileOffset += static_cast<uint64_t>(n) * kBytesPerInstant;
        cursor.samplesLeftInChunk = chunk - n;
    }
    if (cursor.samplesLeftInChunk == 0 && stepPastFullChunk && AdvanceChunk()) {
        cursor.samplesLeftInChunk = cursor.samplesPerChunk;
    }
    return true;
}

bool MovieReader::ReadFrame(float* channel1, float* channel2, float* channel3, float* channel4) {
    const int32_t frameSize = cursor.frameSize;
    lastFrameSamples = 0;
    lastFrameSpans.clear();
    if (frameSize <= 0 || track.chunkOffsets.empty() || track.chunkRuns.empty()) {
        return true;
    }
    const int64_t old = cursor.currentSample;
    const int64_t advanced = old + frameSize;
    cursor.currentSample =
        static_cast<int32_t>(std::min<int64_t>(advanced, std::numeric_limits<int32_t>::max()));
    const int32_t frameByteCount = frameSize * kBytesPerInstant;

    bool ended = false;
    int32_t wanted = frameSize;
    if (advanced >= track.totalSamples) {
        // The final frame: the remaining instants, then zeros.
        ended = true;
        util.ZeroFill(frameBytes.data(), frameByteCount);
        wanted = static_cast<int32_t>(std::max<int64_t>(track.totalSamples - old, 0));
    }
    int32_t taken = 0;
    if (!TakeInstants(wanted, !ended, &taken)) {
        // The stream could not be moved: the reading ends, nothing converted.
        shortRead = true;
        return true;
    }
    if (taken < wanted) {
        // The chunks ran out before the audio's length: that is its end.
        ended = true;
        util.ZeroFill(frameBytes.data() + static_cast<std::size_t>(taken) * kBytesPerInstant,
                      (frameSize - taken) * kBytesPerInstant);
    }
    lastFrameSamples = taken;
    util.DeinterleavePcm16ToFloat(frameBytes.data(), channel1, channel2, channel3, channel4,
                                  frameByteCount);
    return ended;
}

}  // namespace spatialmux
