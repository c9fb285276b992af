// The reading half of a conversion alone: every frame of the input's audio
// through MovieReader::ReadFrame and the float conversions of the WAV phase
// (gain, reorder, back to 16 bits), against a plain read of the same audio
// bytes chunk by chunk.
//
//   bench_read_path MOVIE [REPEATS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteUtil.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Pass {
    double seconds = 0;
    uint64_t bytes = 0;
    uint64_t frames = 0;
    uint32_t check = 0;  // keeps the work from being optimised away
};

Pass ReadThroughReader(const std::string& path) {
    Pass pass;
    spatialmux::MovieReader reader(spatialmux::kFrameSize);
    if (reader.Open(path, spatialmux::kFrameSize) != spatialmux::MovieReader::kOpenReady) {
        std::fprintf(stderr, "bench_read_path: the reader refused %s\n", path.c_str());
        std::exit(1);
    }
    const spatialmux::ByteUtil util;
    spatialmux::AudioFrame frame;
    std::vector<uint8_t> wavBytes(spatialmux::kFrameSize * spatialmux::kBytesPerInstant);
    const auto start = Clock::now();
    reader.SeekToTime(0);
    for (;;) {
        const bool ended = reader.ReadFrame(frame.Channel(1), frame.Channel(2), frame.Channel(3),
                                            frame.Channel(4));
        const int32_t instants = ended ? reader.GetLastFrameSamples() : spatialmux::kFrameSize;
        util.ApplyGain(frame.Channel(1), instants, 1.4125376f);
        util.InterleaveFloatToPcm16(wavBytes.data(), frame.Channel(1), frame.Channel(3),
                                    frame.Channel(4), frame.Channel(2), instants);
        pass.check += wavBytes[static_cast<std::size_t>(pass.frames % wavBytes.size())];
        pass.bytes += static_cast<uint64_t>(instants) * spatialmux::kBytesPerInstant;
        ++pass.frames;
        if (ended) break;
    }
    pass.seconds = Seconds(start);
    return pass;
}

// The same chunks read with a seek and one read of at most a frame's bytes
// at a time, and nothing else.
Pass ReadPlain(const std::string& path, const spatialmux::AudioTrackInfo& track) {
    Pass pass;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(spatialmux::kFrameSize * spatialmux::kBytesPerInstant);
    const auto start = Clock::now();
    uint64_t left = static_cast<uint64_t>(track.totalSamples) * spatialmux::kBytesPerInstant;
    std::size_t run = 0;
    for (std::size_t chunk = 0; chunk < track.chunkOffsets.size() && left > 0; ++chunk) {
        if (run + 1 < track.chunkRuns.size() &&
            static_cast<std::size_t>(track.chunkRuns[run + 1].firstChunk) == chunk) {
            ++run;
        }
        uint64_t chunkBytes = static_cast<uint64_t>(track.chunkRuns[run].samplesPerChunk) *
                              spatialmux::kBytesPerInstant;
        if (chunkBytes > left) chunkBytes = left;
        in.seekg(static_cast<std::streamoff>(track.chunkOffsets[chunk]));
        for (uint64_t done = 0; done < chunkBytes;) {
            const uint64_t piece = std::min<uint64_t>(buffer.size(), chunkBytes - done);
            in.read(buffer.data(), static_cast<std::streamsize>(piece));
            pass.check += static_cast<uint8_t>(buffer[0]);
            done += piece;
        }
        pass.bytes += chunkBytes;
        left -= chunkBytes;
    }
    pass.frames = pass.bytes / (spatialmux::kFrameSize * spatialmux::kBytesPerInstant);
    pass.seconds = Seconds(start);
    return pass;
}

void Print(const char* name, const Pass& pass) {
    std::printf("%-22s %8.3f s  %10.1f frames/s  %8.1f MB/s  (check %u)\n", name, pass.seconds,
                static_cast<double>(pass.frames) / pass.seconds,
                static_cast<double>(pass.bytes) / pass.seconds / 1e6, pass.check);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_read_path MOVIE [REPEATS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    spatialmux::MovieReader probe(spatialmux::kFrameSize);
    if (probe.Open(path, spatialmux::kFrameSize) != spatialmux::MovieReader::kOpenReady) {
        std::fprintf(stderr, "bench_read_path: the reader refused %s\n", path.c_str());
        return 1;
    }
    Pass bestReader;
    Pass bestPlain;
    for (int i = 0; i < repeats; ++i) {
        const Pass plain = ReadPlain(path, probe.Track());
        const Pass reader = ReadThroughReader(path);
        if (i == 0 || plain.seconds < bestPlain.seconds) bestPlain = plain;
        if (i == 0 || reader.seconds < bestReader.seconds) bestReader = reader;
    }
    std::printf("best of %d, audio of %s (%.1f MB)\n", repeats, path.c_str(),
                static_cast<double>(bestReader.bytes) / 1e6);
    Print("plain chunk reads", bestPlain);
    Print("reader + conversions", bestReader);
    std::printf("reader / plain time: %.2f\n", bestReader.seconds / bestPlain.seconds);
    return 0;
}
