#pragma once
// The audio track's sample tables as the reader holds them, and the read
// cursor that walks the audio chunk by chunk.

#include <array>
#include <cstdint>
#include <vector>

namespace spatialmux {

// One entry of the sample-to-chunk table. A run covers its first chunk and
// every following chunk up to the first chunk of the next run.
struct ChunkRun {
    int32_t firstChunk = 0;       // counted from 0 (the file counts from 1)
    int32_t samplesPerChunk = 0;  // sampling instants in each chunk of the run
};

// What the box walk learned about the audio track.
struct AudioTrackInfo {
    std::array<char, 4> audioFormat{};   // format code of the first sample entry, as stored
    int32_t timescale = 0;               // units per second (mdhd)
    int32_t totalSamples = 0;            // duration in those units (mdhd)
    int32_t channelCount = 0;            // stsz sample size / 2
    std::vector<ChunkRun> chunkRuns;     // stsc
    std::vector<uint64_t> chunkOffsets;  // co64, one absolute offset per chunk
    int32_t chunkRunCount = 0;
};

// The audio read position. Between operations:
//   fileOffset == chunkOffsets[chunkIndex] + (samplesPerChunk - samplesLeftInChunk) * 8
struct ReadCursor {
    int32_t currentSample = 0;       // sampling instants consumed
    uint64_t fileOffset = 0;         // absolute offset of the next audio byte
    int32_t frameSize = 0;           // sampling instants per frame
    int32_t runIndex = 0;            // run holding the current chunk
    int32_t chunkIndex = 0;          // current chunk, counted from 0
    int32_t samplesPerChunk = 0;     // instants in the current chunk
    int32_t samplesLeftInChunk = 0;  // instants from fileOffset to the chunk's end
};

}  // namespace spatialmux
