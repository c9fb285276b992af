// Replays every seed and every saved finding of the fuzz targets through the
// code the fuzzers run, without libFuzzer: under the sanitizer build a
// finding that comes back fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "../../fuzz/FuzzTargets.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

struct FuzzInput {
    std::string target;  // the fuzz target's name (fuzz/run_fuzzers.sh lists them)
    std::string path;
    std::string name;  // for the test's name
};

// Shown in test listings instead of the object's bytes.
void PrintTo(const FuzzInput& input, std::ostream* out) {
    *out << std::filesystem::path(input.path).filename().string();
}

std::vector<FuzzInput> ListInputs() {
    const std::filesystem::path fuzz = std::filesystem::path(SPATIALMUX_SOURCE_DIR) / "fuzz";
    std::vector<FuzzInput> inputs;
    for (const char* target : {"movie_reader", "transplant", "maker_note", "spatial_metadata",
                               "input_checks", "edit_plan", "check_report"}) {
        for (const char* kind : {"corpus", "regressions"}) {
            const std::filesystem::path folder = fuzz / kind / target;
            std::error_code error;
            if (!std::filesystem::is_directory(folder, error)) continue;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                if (!entry.is_regular_file()) continue;
                std::string name =
                    std::string(target) + "_" + kind + "_" + entry.path().filename().string();
                std::replace_if(
                    name.begin(), name.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
                inputs.push_back({target, entry.path().string(), name});
            }
        }
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const FuzzInput& a, const FuzzInput& b) { return a.name < b.name; });
    return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<FuzzInput> {};

TEST_P(FuzzReplay, RunsCleanlyThroughItsTarget) {
    const FuzzInput& input = GetParam();
    const std::vector<uint8_t> bytes = ReadFileBytes(input.path);
    TempDir dir;
    const std::string scratch = dir.Path("input");
    if (input.target == "maker_note") {
        fuzzing::ParseMakerNotePayload(bytes.data(), bytes.size());
    } else if (input.target == "spatial_metadata") {
        fuzzing::ParseSpatialMetadata(bytes.data(), bytes.size());
    } else if (input.target == "input_checks") {
        fuzzing::CheckInputMetadata(bytes.data(), bytes.size());
    } else if (input.target == "movie_reader") {
        ASSERT_TRUE(fuzzing::WriteWholeFile(scratch, bytes.data(), bytes.size()));
        fuzzing::ReadMovieAudio(scratch);
    } else if (input.target == "edit_plan") {
        ASSERT_TRUE(fuzzing::WriteWholeFile(scratch, bytes.data(), bytes.size()));
        fuzzing::PrepareEditOf(scratch, bytes.size());
    } else if (input.target == "check_report") {
        ASSERT_TRUE(fuzzing::WriteWholeFile(scratch, bytes.data(), bytes.size()));
        fuzzing::CheckReportOf(scratch, bytes.data(), bytes.size());
    } else {
        ASSERT_TRUE(fuzzing::WriteWholeFile(scratch, bytes.data(), bytes.size()));
        fuzzing::TransplantInto(std::string(SPATIALMUX_SOURCE_DIR) + "/fuzz/data/camera_movie.mp4",
                                scratch);
    }
}

INSTANTIATE_TEST_SUITE_P(SavedInputs, FuzzReplay, ::testing::ValuesIn(ListInputs()),
                         [](const ::testing::TestParamInfo<FuzzInput>& param) {
                             return param.param.name;
                         });

// The transplant target is only meaningful while its source movie is one
// the reader accepts and its seeds are outputs it really rewrites.
TEST(FuzzReplay, TransplantSeedsAreRewrittenWithTheSourceMetadata) {
    const std::filesystem::path fuzz = std::filesystem::path(SPATIALMUX_SOURCE_DIR) / "fuzz";
    MovieReader reader(kFrameSize);
    ASSERT_EQ(reader.Open((fuzz / "data" / "camera_movie.mp4").string(), kFrameSize),
              MovieReader::kOpenReady);
    int rewritten = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fuzz / "corpus" / "transplant")) {
        TempDir dir;
        const auto bytes = ReadFileBytes(entry.path().string());
        ASSERT_TRUE(fuzzing::WriteWholeFile(dir.Path("out.mov"), bytes.data(), bytes.size()));
        if (reader.TransplantMetadata(dir.Path("out.mov")) == 0) ++rewritten;
    }
    EXPECT_GE(rewritten, 3);
}

}  // namespace
}  // namespace spatialmux
