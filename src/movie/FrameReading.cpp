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

namespace {

// Where the reading stands at `milliseconds`: the target is computed in
// single precision, float(t) * float(timescale) / 1000, truncated. A time
// beyond the end lands 100 instants before the end.
ReadCursor CursorAt(const AudioTrackInfo& track, int32_t frameSize, uint32_t milliseconds) {
    ReadCursor cursor;
    cursor.frameSize = frameSize;
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
    const auto runOf = [&track](int32_t index) {
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
    return cursor;
}

// Moves the cursor to the start of the next chunk; false (cursor kept) when
// the chunk table holds no further chunk.
bool AdvanceChunk(const AudioTrackInfo& track, ReadCursor& cursor) {
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

// `count` instants at the cursor's file offset, in its chunk.
void AddSpan(const ReadCursor& cursor, int32_t count, std::vector<FileSpan>* spans) {
    if (count > 0) {
        spans->push_back({cursor.fileOffset, static_cast<uint64_t>(count) * kBytesPerInstant,
                          cursor.chunkIndex});
    }
}

// Takes `wanted` instants from the cursor, chunk by chunk and never past the
// last chunk, adding where they lie to `spans`; returns the instants found.
// When the frame ends exactly at the end of a chunk that it moved on to,
// `stepPastFullChunk` puts the cursor at the start of the next chunk.
int32_t TakeInstants(const AudioTrackInfo& track, ReadCursor& cursor, int32_t wanted,
                     bool stepPastFullChunk, std::vector<FileSpan>* spans) {
    const int32_t first = std::min(cursor.samplesLeftInChunk, wanted);
    AddSpan(cursor, first, spans);
    int32_t taken = first;
    if (wanted <= cursor.samplesLeftInChunk) {
        cursor.fileOffset += static_cast<uint64_t>(wanted) * kBytesPerInstant;
        cursor.samplesLeftInChunk -= wanted;
        return taken;
    }
    // The current chunk is used up; the rest comes from the following ones.
    cursor.fileOffset += static_cast<uint64_t>(first) * kBytesPerInstant;
    cursor.samplesLeftInChunk = 0;
    while (taken < wanted) {
        if (!AdvanceChunk(track, cursor)) {
            // No further chunk: the cursor stays at the end of the last one.
            cursor.fileOffset = track.chunkOffsets[static_cast<std::size_t>(cursor.chunkIndex)] +
                                static_cast<uint64_t>(cursor.samplesPerChunk) * kBytesPerInstant;
            return taken;
        }
        const int32_t chunk = cursor.samplesPerChunk;
        const int32_t n = std::min(wanted - taken, chunk);
        AddSpan(cursor, n, spans);
        taken += n;
        cursor.fileOffset += static_cast<uint64_t>(n) * kBytesPerInstant;
        cursor.samplesLeftInChunk = chunk - n;
    }
    if (cursor.samplesLeftInChunk == 0 && stepPastFullChunk && AdvanceChunk(track, cursor)) {
        cursor.samplesLeftInChunk = cursor.samplesPerChunk;
    }
    return taken;
}

struct FrameStep {
    int32_t taken = 0;  // instants of real audio
    bool ended = false;
};

// One frame's walk through the chunks: the cursor moves on by a frame and
// `spans` receives where its instants lie, nothing is read. The final frame
// takes what is left of the audio's length; chunks that run out first end
// the audio there.
FrameStep StepFrame(const AudioTrackInfo& track, ReadCursor& cursor, std::vector<FileSpan>* spans) {
    const int64_t old = cursor.currentSample;
    const int64_t advanced = old + cursor.frameSize;
    cursor.currentSample =
        static_cast<int32_t>(std::min<int64_t>(advanced, std::numeric_limits<int32_t>::max()));
    FrameStep step;
    int32_t wanted = cursor.frameSize;
    if (advanced >= track.totalSamples) {
        step.ended = true;
        wanted = static_cast<int32_t>(std::max<int64_t>(track.totalSamples - old, 0));
    }
    step.taken = TakeInstants(track, cursor, wanted, !step.ended, spans);
    step.ended = step.ended || step.taken < wanted;
    return step;
}

}  // namespace

void MovieReader::SeekToTime(uint32_t milliseconds) {
    if (track.chunkRuns.empty() || track.chunkOffsets.empty()) {
        return;
    }
    cursor = CursorAt(track, cursor.frameSize, milliseconds);
}

void MovieReader::NextChunk() {
    AdvanceChunk(track, cursor);
}

bool MovieReader::ReadAudioBytes(uint64_t offset, uint8_t* destination, std::size_t count) {
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

bool MovieReader::ReadFrame(float* channel1, float* channel2, float* channel3, float* channel4) {
    lastFrameSamples = 0;
    lastFrameSpans.clear();
    if (cursor.frameSize <= 0 || track.chunkOffsets.empty() || track.chunkRuns.empty()) {
        return true;
    }
    const int32_t frameByteCount = cursor.frameSize * kBytesPerInstant;
    const FrameStep step = StepFrame(track, cursor, &lastFrameSpans);
    std::size_t at = 0;
    for (const FileSpan& span : lastFrameSpans) {
        if (!ReadAudioBytes(span.offset, frameBytes.data() + at,
                            static_cast<std::size_t>(span.bytes))) {
            // The stream could not be moved: the reading ends, nothing converted.
            shortRead = true;
            return true;
        }
        at += static_cast<std::size_t>(span.bytes);
    }
    // The instants that are not there (at the audio's end) are silence.
    util.ZeroFill(frameBytes.data() + at, frameByteCount - static_cast<int32_t>(at));
    lastFrameSamples = step.taken;
    util.DeinterleavePcm16ToFloat(frameBytes.data(), channel1, channel2, channel3, channel4,
                                  frameByteCount);
    return step.ended;
}

std::vector<FileSpan> MovieReader::AudioSpans() const {
    std::vector<FileSpan> spans;
    if (cursor.frameSize <= 0 || track.chunkOffsets.empty() || track.chunkRuns.empty()) {
        return spans;
    }
    ReadCursor walk = CursorAt(track, cursor.frameSize, 0);
    std::vector<FileSpan> frame;
    for (;;) {
        frame.clear();
        const FrameStep step = StepFrame(track, walk, &frame);
        for (const FileSpan& span : frame) {
            FileSpan* last = spans.empty() ? nullptr : &spans.back();
            if (last != nullptr && last->chunk == span.chunk &&
                last->bytes <= UINT64_MAX - last->offset &&
                last->offset + last->bytes == span.offset) {
                last->bytes += span.bytes;
            } else {
                spans.push_back(span);
            }
        }
        if (step.ended) break;
    }
    return spans;
}

}  // namespace spatialmux
