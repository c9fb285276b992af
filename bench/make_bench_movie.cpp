// Writes a camera movie of a chosen length and video bit rate for the
// benchmarks: few distinct encoded frames, each padded to the wanted size.
//
//   make_bench_movie PATH SECONDS VIDEO_BYTES_PER_FRAME
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixture/CameraMovieBuilder.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_bench_movie PATH SECONDS VIDEO_BYTES_PER_FRAME\n");
        return 2;
    }
    const long seconds = std::strtol(argv[2], nullptr, 10);
    const long videoBytes = std::strtol(argv[3], nullptr, 10);
    if (seconds <= 0 || seconds > 40000 || videoBytes < 0 || videoBytes > 64L * 1024 * 1024) {
        std::fprintf(stderr, "make_bench_movie: SECONDS or VIDEO_BYTES_PER_FRAME out of range\n");
        return 2;
    }
    spatialmux::fixture::CameraMovieOptions options;
    options.width = 320;
    options.height = 160;
    options.framesPerSecond = 30;
    options.distinctFrames = 30;
    options.videoBytesPerFrame = static_cast<uint32_t>(videoBytes);
    options.totalSamples = static_cast<int32_t>(seconds * 48000);
    // About a tenth of a second of audio per chunk, interleaved with video.
    options.chunkRuns = {{1, 4800}};
    spatialmux::fixture::CameraMovieLayout layout;
    std::string error;
    if (!spatialmux::fixture::WriteCameraMovie(argv[1], options, &layout, &error)) {
        std::fprintf(stderr, "make_bench_movie: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %llu bytes, %ld s, %zu audio chunks\n", argv[1],
                static_cast<unsigned long long>(layout.fileSize), seconds,
                layout.audioChunkOffsets.size());
    return 0;
}
