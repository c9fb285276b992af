// The check's probe read from the boxes (the browser's) against libavformat's
// (the desktop's): over the fixture builder's movies, the report of either
// is the same, as JSON and as text.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "control/check/CheckReportPrinting.h"
#include "control/movieinfo/BoxProbe.h"
#include "control/movieinfo/MovieCheck.h"
#include "fixture/CameraMovieBuilder.h"
#include "support/ConversionExpectations.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using fixture::AmbisonicConvention;
using fixture::CameraMovieOptions;

struct ProbeRow {
    const char* name;
    std::function<void(CameraMovieOptions&)> change;
};

const ProbeRow kRows[] = {
    {"camera-h264.mp4", [](CameraMovieOptions&) {}},
    {"camera-hevc.mp4", [](CameraMovieOptions& o) { o.codec = fixture::VideoCodec::HEVC; }},
    {"camera-bframes.mp4", [](CameraMovieOptions& o) { o.bFrames = 2; }},
    {"camera-moov-first.mov", [](CameraMovieOptions& o) { o.moovBeforeMdat = true; }},
    {"ambix.mov", [](CameraMovieOptions& o) { o.convention = AmbisonicConvention::AmbiX; }},
    {"undeclared.mov",
     [](CameraMovieOptions& o) {
         o.convention = AmbisonicConvention::AmbiX;
         o.writeSa3d = false;
     }},
    {"fuma.mov", [](CameraMovieOptions& o) { o.convention = AmbisonicConvention::FuMa; }},
    {"mapped.mov", [](CameraMovieOptions& o) { o.convention = AmbisonicConvention::MappedWxyz; }},
    {"ambix-no-uuid.mov",
     [](CameraMovieOptions& o) {
         o.convention = AmbisonicConvention::AmbiX;
         o.writeUuid = false;
     }},
};

// The report of `path` with each probe, as JSON and as text.
void ExpectSameReports(const std::string& path) {
    const CheckReport desktop = CheckMovieFile(path);
    const CheckReport boxes = CheckMovieFile(path, ProbeMediaFromBoxes);
    EXPECT_EQ(CheckReportJson(boxes), CheckReportJson(desktop)) << path;
    EXPECT_EQ(CheckReportText(boxes), CheckReportText(desktop)) << path;
}

void CutAt(const std::string& from, const std::string& to, uint64_t length) {
    std::filesystem::copy_file(from, to);
    std::filesystem::resize_file(to, length);
}

TEST(BoxProbe, ReportsAsLibavformatsProbe) {
    testing::TempDir dir;
    for (const ProbeRow& row : kRows) {
        CameraMovieOptions options = testing::SmallMovie(4096);
        row.change(options);
        const testing::TestMovie movie = testing::MakeMovie(dir, row.name, options);
        ExpectSameReports(movie.path);
    }
    // A converted movie (chan and SA3D boxes, V1 and V2), a movie cut before
    // its index and one whose index outlives its data, and no movie at all.
    const std::string camera = dir.Path("camera-h264.mp4");
    const std::string converted = dir.Path("converted.mov");
    ASSERT_EQ(testing::RunProgram({camera, converted}).status, 0);
    ExpectSameReports(converted);
    const auto size = std::filesystem::file_size(camera);
    CutAt(camera, dir.Path("cut.mp4"), size / 2);
    ExpectSameReports(dir.Path("cut.mp4"));
    CutAt(dir.Path("camera-moov-first.mov"), dir.Path("cut-moov-first.mov"), size / 2);
    ExpectSameReports(dir.Path("cut-moov-first.mov"));
    CutAt(dir.Path("ambix.mov"), dir.Path("cut-ambix.mov"), size / 2);
    ExpectSameReports(dir.Path("cut-ambix.mov"));
    std::ofstream(dir.Path("notes.mov")) << "not a movie";
    ExpectSameReports(dir.Path("notes.mov"));
}

}  // namespace
}  // namespace spatialmux
