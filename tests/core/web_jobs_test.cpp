// The browser's front end run natively: its conversions give the desktop
// program's bytes, and its check of what it wrote finds a changed byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "control/edit/CameraEdit.h"
#include "control/edit/EditWrites.h"
#include "control/edit/OnePassEdit.h"
#include "fixture/CameraMovieBuilder.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "platform/FileCopy.h"
#include "platform/UniqueFd.h"
#include "support/ConversionExpectations.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "web/WebJobs.h"

namespace spatialmux {
namespace {

std::vector<char> Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

TEST(WebJobs, ConvertsAsTheDesktopProgram) {
    testing::TempDir dir;
    struct Row {
        const char* name;
        fixture::AmbisonicConvention convention;
        const char* options;
        std::vector<std::string> phases;
    };
    const Row rows[] = {
        {"camera.mp4", fixture::AmbisonicConvention::Camera, "{}",
         {"copy", "audio", "metadata", "verify"}},
        {"ambix.mov", fixture::AmbisonicConvention::AmbiX, R"({"language":"ja"})",
         {"copy", "metadata", "verify"}},
    };
    for (const Row& row : rows) {
        auto options = testing::SmallMovie(6000);
        options.convention = row.convention;
        const auto movie = testing::MakeMovie(dir, row.name, options);
        const std::string desktop = dir.Path(std::string("desktop-") + row.name + ".mov");
        const std::string web = dir.Path(std::string("web-") + row.name + ".mov");
        ASSERT_EQ(testing::RunProgram({movie.path, desktop}).status, 0);
        std::vector<std::string> phases;
        const web::ConvertHooks hooks{[&phases](const char* phase, double) {
                                          if (phases.empty() || phases.back() != phase) {
                                              phases.push_back(phase);
                                          }
                                      },
                                      [] { return false; }};
        const auto answer =
            nlohmann::json::parse(web::ConvertJson(movie.path, web, row.options, hooks));
        EXPECT_EQ(answer["ok"], true) << answer.dump();
        EXPECT_EQ(answer["report"]["verified"], true) << answer.dump();
        EXPECT_EQ(phases, row.phases) << row.name;
        EXPECT_TRUE(Bytes(desktop) == Bytes(web)) << row.name;
    }
}

// Overwrites the byte at `offset` of `path` with its complement.
void FlipByte(const std::string& path, uint64_t offset) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(static_cast<std::streamoff>(offset));
    const int byte = file.get();
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(~byte));
}

TEST(WebJobs, TheCheckOfTheWrittenOutputFindsAChangedByte) {
    testing::TempDir dir;
    const auto movie = testing::MakeMovie(dir, "camera.mp4", testing::SmallMovie(6000));
    MovieReader reader(kFrameSize);
    ASSERT_EQ(reader.Open(movie.path, kFrameSize), MovieReader::kOpenReady);
    auto in = EditInput::Open(movie.path);
    ASSERT_TRUE(in);
    std::string why;
    const auto edit = PrepareCameraEdit(reader, *in, &why);
    ASSERT_TRUE(edit) << why;
    const std::string output = dir.Path("out.mov");
    platform::UniqueFd out(open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
    WrittenAudio audio;
    const OnePassHooks hooks{[](const char*, double) {}, [] { return false; }};
    ASSERT_EQ(WriteCameraEditInOnePass(reader, *edit, in->fd.Get(), out.Get(), hooks, &audio, &why),
              OnePassEnd::Written)
        << why;
    const int64_t audioBytes = audio.instants * kBytesPerInstant;
    EXPECT_EQ(CheckEditedOutput(out.Get(), *edit, audioBytes, audio.digest), std::nullopt);

    // A changed audio byte, a changed byte of the new moov, a shorter file.
    const uint64_t audioAt = edit->audio.front().offset + 3;
    const uint64_t moovAt = edit->plan.copyLength + edit->moov.size() / 2;
    for (const uint64_t at : {audioAt, moovAt}) {
        FlipByte(output, at);
        EXPECT_NE(CheckEditedOutput(out.Get(), *edit, audioBytes, audio.digest), std::nullopt)
            << "byte " << at;
        FlipByte(output, at);
    }
    EXPECT_EQ(CheckEditedOutput(out.Get(), *edit, audioBytes, audio.digest), std::nullopt);
    std::filesystem::resize_file(output, edit->plan.copyLength + edit->moov.size() - 1);
    EXPECT_NE(CheckEditedOutput(out.Get(), *edit, audioBytes, audio.digest), std::nullopt);
}

}  // namespace
}  // namespace spatialmux
