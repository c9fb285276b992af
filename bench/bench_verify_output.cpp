// Times the verification that ends every conversion (output::VerifyOutput:
// both movies' headers and indexes, and the output's moov) on a converted
// movie, fastest of REPEATS runs.
//
//   bench_verify_output INPUT OUTPUT [REPEATS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "movie/AudioFrame.h"
#include "movie/MediaProbe.h"
#include "movie/MovieReader.h"
#include "output/OutputVerification.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: bench_verify_output INPUT OUTPUT [REPEATS]\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];
    const long repeats = argc == 4 ? std::max(1L, std::strtol(argv[3], nullptr, 10)) : 5;

    spatialmux::SilenceMediaLog();
    spatialmux::MovieReader reader(spatialmux::kFrameSize);
    if (reader.Open(input, spatialmux::kFrameSize) != spatialmux::MovieReader::kOpenReady) {
        std::fprintf(stderr, "bench_verify_output: %s is not a camera movie\n", input.c_str());
        return 1;
    }
    const spatialmux::output::OutputExpectations expected{input, reader.GetTotalSamples(),
                                                          !reader.UuidBox().empty()};
    double best = 1e9;
    for (long run = 0; run < repeats; ++run) {
        const auto began = std::chrono::steady_clock::now();
        const auto verdict = spatialmux::output::VerifyOutput(output, expected);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        if (!verdict.ok) {
            std::fprintf(stderr, "bench_verify_output: %s\n", verdict.reason.c_str());
            return 1;
        }
        best = std::min(best, seconds);
    }
    std::printf("verification: %.4f s (fastest of %ld)\n", best, repeats);
    return 0;
}
