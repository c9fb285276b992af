// Times the verification that ends every conversion (output::VerifyOutput:
// both movies' headers, indexes and video tables, and the output's moov) on
// a converted movie, fastest of REPEATS runs. With "edited" the output is
// checked as the edit engine's (its video packets where the input's are).
//
//   bench_verify_output INPUT OUTPUT [REPEATS [edited]]

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
    if (argc < 3 || argc > 5 || (argc == 5 && std::string(argv[4]) != "edited")) {
        std::fprintf(stderr, "usage: bench_verify_output INPUT OUTPUT [REPEATS [edited]]\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];
    const long repeats = argc >= 4 ? std::max(1L, std::strtol(argv[3], nullptr, 10)) : 5;

    spatialmux::SilenceMediaLog();
    spatialmux::MovieReader reader(spatialmux::kFrameSize);
    if (reader.Open(input, spatialmux::kFrameSize) != spatialmux::MovieReader::kOpenReady) {
        std::fprintf(stderr, "bench_verify_output: %s is not a camera movie\n", input.c_str());
        return 1;
    }
    spatialmux::output::OutputExpectations expected{input, reader.GetTotalSamples(),
                                                    !reader.UuidBox().empty()};
    if (argc == 5) expected.editWrites.emplace();
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
