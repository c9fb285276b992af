// spatialmux --soundmap on real movies: a camera movie whose tones sit at
// known directions, its converted output, and the movies it must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "control/check/CheckReportPrinting.h"
#include "control/movieinfo/MovieCheck.h"
#include "control/soundmap/SoundMapCommand.h"
#include "fixture/CameraMovieBuilder.h"
#include "movie/AmbisonicLayout.h"
#include "movie/ffmpeg/VideoFrames.h"
#include "output/SoundMapDrawing.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

const Direction kLeft{90, 0};
const Direction kBehindRightAbove{-135, 30};

// Two seconds: a tone from the left, then one from behind on the right and above.
fixture::CameraMovieOptions TwoSources(fixture::VideoCodec codec = fixture::VideoCodec::H264) {
    fixture::CameraMovieOptions options;
    options.codec = codec;
    options.width = 256;
    options.height = 128;
    options.totalSamples = 2 * 48000;
    options.distinctFrames = 0;
    options.keyframeInterval = 15;
    options.sources = {{kLeft.azimuthDegrees, kLeft.elevationDegrees, 0.0, 1.0, 440.0, 0.3},
                       {kBehindRightAbove.azimuthDegrees, kBehindRightAbove.elevationDegrees, 1.0,
                        2.0, 660.0, 0.3}};
    return options;
}

// The camera movie and its conversion, made once for the tests below.
class SoundMapMovies : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir;
        std::string error;
        ASSERT_TRUE(fixture::WriteCameraMovie(Camera(), TwoSources(), nullptr, &error)) << error;
        const ProgramRun run = RunProgram({Camera(), Converted()});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static std::string Camera() { return folder->Path("camera.mp4"); }
    static std::string Converted() { return folder->Path("converted.mov"); }

    static TempDir* folder;
};
TempDir* SoundMapMovies::folder = nullptr;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    output::Rgb At(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// Decodes a PNG file with libavcodec, as RGB24.
bool DecodePng(const std::string& path, Picture* picture) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bytes.resize(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = bytes.data();
    packet->size = static_cast<int>(bytes.size() - AV_INPUT_BUFFER_PADDING_SIZE);
    bool ok = avcodec_open2(context, codec, nullptr) == 0 &&
              avcodec_send_packet(context, packet) == 0 &&
              avcodec_receive_frame(context, frame) == 0 && frame->format == AV_PIX_FMT_RGB24;
    if (ok) {
        picture->width = frame->width;
        picture->height = frame->height;
        picture->rgb.clear();
        for (int y = 0; y < frame->height; ++y) {
            const uint8_t* row =
                frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
            picture->rgb.insert(picture->rgb.end(), row, row + frame->width * 3);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return ok;
}

// The centre of the marker drawn in a tile, found from the PNG's pixels
// alone: the middle of the marker-coloured pixels near `near` (a pixel of
// the tile's picture). False when fewer than a marker's worth are there.
bool FindMarker(const Picture& png, int tileX, int tileY, int tileWidth, int tileHeight,
                double nearX, double nearY, double* x, double* y) {
    double sumX = 0;
    double sumY = 0;
    int count = 0;
    const int reach = output::kMarkerReach + 12;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const int px = static_cast<int>(nearX) + dx;
            const int py = static_cast<int>(nearY) + dy;
            if (px < 0 || py < 0 || px >= tileWidth || py >= tileHeight) continue;
            if (png.At(tileX + px, tileY + py) == output::kMarkerColour) {
                sumX += px;
                sumY += py;
                ++count;
            }
        }
    }
    if (count < 40) return false;
    *x = sumX / count + 0.5;
    *y = sumY / count + 0.5;
    return true;
}

SoundMapRequest At(const std::string& input, const std::string& output,
                   std::vector<double> moments) {
    SoundMapRequest request;
    request.input = input;
    request.output = output;
    request.at = std::move(moments);
    return request;
}

TEST_F(SoundMapMovies, PeaksSitWhereTheFixturePutTheSourcesInNumbersAndPixels) {
    TempDir out;
    std::string problem;
    const auto result = MakeSoundMap(At(Converted(), out.Path("map.png"), {0.5, 1.5}), &problem);
    ASSERT_TRUE(result) << problem;
    ASSERT_EQ(result->moments.size(), 2u);
    EXPECT_FALSE(result->cameraMovie);
    const Direction sources[2] = {kLeft, kBehindRightAbove};

    Picture png;
    ASSERT_TRUE(DecodePng(result->outputPath, &png));
    for (int i = 0; i < 2; ++i) {
        const EnergyMap& map = result->moments[static_cast<std::size_t>(i)].map;
        EXPECT_LT(AngleBetween(map.peak, sources[i]), 10.0)
            << "moment " << i << ": az " << map.peak.azimuthDegrees << " el "
            << map.peak.elevationDegrees;

        // In the PNG: the marker lies where the source is, found from the
        // pixels alone, searching around the source's own pixel.
        int tileX = 0;
        int tileY = 0;
        TileOrigin(*result, i, &tileX, &tileY);
        const PicturePoint expected =
            DirectionToPicture(sources[i], result->tileWidth, result->tileHeight);
        double x = 0;
        double y = 0;
        ASSERT_TRUE(FindMarker(png, tileX, tileY, result->tileWidth, result->tileHeight, expected.x,
                               expected.y, &x, &y))
            << "no marker near the source in tile " << i;
        const Direction marked = PictureToDirection({x, y}, result->tileWidth, result->tileHeight);
        EXPECT_LT(AngleBetween(marked, sources[i]), 10.0)
            << "marker of tile " << i << " at az " << marked.azimuthDegrees << " el "
            << marked.elevationDegrees;
        // And none where a left-right flip would put it.
        const PicturePoint mirrored =
            DirectionToPicture({-sources[i].azimuthDegrees, sources[i].elevationDegrees},
                               result->tileWidth, result->tileHeight);
        EXPECT_FALSE(FindMarker(png, tileX, tileY, result->tileWidth, result->tileHeight,
                                mirrored.x, mirrored.y, &x, &y));
    }

    // The check can fail: with any two output channels swapped, the peak
    // of at least one moment leaves the source.
    for (int a = 0; a < 4; ++a) {
        for (int b = a + 1; b < 4; ++b) {
            bool moved = false;
            for (int i = 0; i < 2; ++i) {
                const EnergyMap swapped = ComputeEnergyMap(
                    result->moments[static_cast<std::size_t>(i)].covariance.WithChannelsSwapped(a,
                                                                                                b),
                    180, 90);
                moved = moved || AngleBetween(swapped.peak, sources[i]) > 10.0;
            }
            EXPECT_TRUE(moved) << "a swap of output channels " << a + 1 << " and " << b + 1
                               << " would go unnoticed";
        }
    }
}

TEST_F(SoundMapMovies, TheCameraMovieAndItsConversionGiveTheSameMap) {
    TempDir out;
    std::string problem;
    const auto fromCamera = MakeSoundMap(At(Camera(), out.Path("camera.png"), {}), &problem);
    ASSERT_TRUE(fromCamera) << problem;
    const auto fromOutput = MakeSoundMap(At(Converted(), out.Path("output.png"), {}), &problem);
    ASSERT_TRUE(fromOutput) << problem;
    EXPECT_TRUE(fromCamera->cameraMovie);
    ASSERT_EQ(fromCamera->moments.size(), 6u);
    ASSERT_EQ(fromOutput->moments.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const EnergyMap& a = fromCamera->moments[i].map;
        const EnergyMap& b = fromOutput->moments[i].map;
        EXPECT_DOUBLE_EQ(fromCamera->moments[i].seconds, fromOutput->moments[i].seconds);
        EXPECT_LT(AngleBetween(a.peak, b.peak), 0.5) << "moment " << i;
        EXPECT_NEAR(a.peakDecibels, b.peakDecibels, 0.01) << "moment " << i;
        ASSERT_EQ(a.decibels.size(), b.decibels.size());
        float worst = 0;
        for (std::size_t k = 0; k < a.decibels.size(); ++k) {
            worst = std::max(worst, std::fabs(a.decibels[k] - b.decibels[k]));
        }
        EXPECT_LT(worst, 0.01f) << "moment " << i;
        // Six moments evenly spread over two seconds: the first three hear
        // the left source, the last three the one behind.
        EXPECT_LT(AngleBetween(a.peak, i < 3 ? kLeft : kBehindRightAbove), 10.0) << i;
    }
}

TEST_F(SoundMapMovies, TheProgramWritesTheDefaultNameAndTheCheckMentionsTheMap) {
    TempDir out;
    const std::string movie = out.Path("clip.mov");
    std::filesystem::copy_file(Converted(), movie);
    const ProgramRun run = RunProgram({"--soundmap", movie, "--moments", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(out.Path("clip.soundmap.png")));
    EXPECT_NE(run.out.find("loudest from azimuth +90, elevation +0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("written to " + out.Path("clip.soundmap.png")), std::string::npos);

    EXPECT_NE(CheckReportText(CheckMovieFile(Camera())).find("sound map: spatialmux --soundmap"),
              std::string::npos);
    EXPECT_NE(CheckReportText(CheckMovieFile(movie)).find("sound map: spatialmux --soundmap"),
              std::string::npos);
}

// Nothing but the inputs is in the folder: no map, no partial file.
void ExpectOnly(const TempDir& folder, std::vector<std::string> names) {
    std::vector<std::string> entries = folder.Entries();
    std::sort(entries.begin(), entries.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(entries, names);
}

TEST_F(SoundMapMovies, RefusalsSayWhyAndLeaveNoPicture) {
    TempDir out;
    // Cut short: a camera movie with its index in front of the media.
    const std::string cutCamera = out.Path("cut_camera.mp4");
    {
        fixture::CameraMovieOptions options = TwoSources();
        options.moovBeforeMdat = true;
        std::string error;
        ASSERT_TRUE(fixture::WriteCameraMovie(cutCamera, options, nullptr, &error)) << error;
        std::filesystem::resize_file(cutCamera, std::filesystem::file_size(cutCamera) / 2);
    }
    // The converted movie, with its index at the end as FFmpeg writes it,
    // and a copy with the index in front.
    const std::string cutOutput = out.Path("cut_output.mov");
    std::filesystem::copy_file(Converted(), cutOutput);
    std::filesystem::resize_file(cutOutput, std::filesystem::file_size(cutOutput) * 2 / 3);
    const std::string cutFront = out.Path("cut_front.mov");
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + testing::ShellQuote(Converted()) +
                           " -map 0 -c copy -movflags +faststart " + testing::ShellQuote(cutFront))
                              .c_str()),
              0);
    std::filesystem::resize_file(cutFront, std::filesystem::file_size(cutFront) * 2 / 3);
    // Four channels without an SA3D box: the video and audio copied by FFmpeg.
    const std::string plain = out.Path("plain.mov");
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + testing::ShellQuote(Converted()) +
                           " -map 0 -c copy " + testing::ShellQuote(plain))
                              .c_str()),
              0);
    const std::string copy = out.Path("copy.mov");
    std::filesystem::copy_file(Converted(), copy);
    const std::vector<std::string> inputs = {"cut_camera.mp4", "cut_output.mov", "cut_front.mov",
                                             "plain.mov", "copy.mov"};

    struct Case {
        std::vector<std::string> arguments;
        std::string says;
    };
    for (const Case& c : {
             Case{{"--soundmap", cutCamera}, "cut short"},
             Case{{"--soundmap", cutOutput}, "cut short before its index"},
             Case{{"--soundmap", cutFront}, "the movie is cut short: its"},
             Case{{"--soundmap", plain}, "no ambisonic audio (no SA3D box"},
             Case{{"--soundmap", copy, "--at", "0.5", "2.5"}, "the moment 2.50 s is past the end"},
             Case{{"--soundmap", copy, "-o", copy}, "would overwrite the movie itself"},
             Case{{"--soundmap", out.Path("missing.mov")}, "cannot be opened"},
         }) {
        const ProgramRun run = RunProgram(c.arguments);
        EXPECT_EQ(run.status, 1) << c.arguments[1] << ": " << run.err;
        EXPECT_NE(run.err.find(c.arguments[1] + ": "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        ExpectOnly(out, inputs);
    }
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(Converted()));

    // A PNG that cannot be written whole (a file size limit of 64 kB).
    const ProgramRun limited =
        RunProgram({"--soundmap", copy, "-o", out.Path("map.png")}, "ulimit -f 64;");
    EXPECT_EQ(limited.status, 1) << limited.err;
    EXPECT_NE(limited.err.find("cannot write the sound map"), std::string::npos) << limited.err;
    ExpectOnly(out, inputs);
}

// --rotate-audio on every path a conversion takes: a tone the fixture puts
// in front is found by the sound map where the turn moves it, W stays
// sample for sample, the video as it was; no turn writes what no option
// writes, and a wrong turn writes nothing.
TEST(RotateAudio, EveryPathTurnsTheFrontSourceWhereTheTurnSays) {
    TempDir dir;
    fixture::CameraMovieOptions options = TwoSources();
    options.totalSamples = 48000;
    options.sources = {{0.0, 0.0, 0.0, 1.0, 440.0, 0.3}};
    std::string error;
    ASSERT_TRUE(fixture::WriteCameraMovie(dir.Path("camera.mp4"), options, nullptr, &error))
        << error;
    for (const auto& [name, extra] : std::vector<std::pair<std::string, std::string>>{
             {"plain.mov", ""}, {"plain.mp4", ""}, {"zero.mov", "0"}}) {
        std::vector<std::string> arguments = {dir.Path("camera.mp4"), dir.Path(name)};
        if (!extra.empty()) arguments.insert(arguments.begin(), {"--rotate-audio", extra});
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << name << "\n" << run.out << run.err;
    }
    const Direction kFront{0, 0};
    const Direction kRight{-90, 0};
    const Direction kUp{0, 90};

    // Where a movie's tone is heard, as the sound map finds it.
    const auto peakOf = [&dir](const std::string& movie, AmbisonicRotation turn = {}) {
        SoundMapRequest request = At(movie, dir.Path("map.png"), {0.5});
        request.rotation = turn;
        std::string problem;
        const auto map = MakeSoundMap(request, &problem);
        EXPECT_TRUE(map) << movie << ": " << problem;
        return map ? map->moments.front().map.peak : Direction{0, -90};
    };
    // W of a PCM movie, instant by instant.
    const auto wOf = [](const std::string& movie) {
        const std::vector<uint8_t> pcm = testing::ReadMediaPackets(movie)[1].Bytes();
        std::vector<uint8_t> w;
        for (std::size_t at = 0; at + 8 <= pcm.size(); at += 8)
            w.insert(w.end(), {pcm[at], pcm[at + 1]});
        return w;
    };
    EXPECT_LT(AngleBetween(peakOf(dir.Path("plain.mov")), kFront), 5.0);
    EXPECT_EQ(ReadFileBytes(dir.Path("zero.mov")), ReadFileBytes(dir.Path("plain.mov")))
        << "no turn: the edit's bytes as without the option";

    const struct {
        std::string input;
        std::vector<std::string> options;
        std::string output;
        Direction heard;
        bool pcm;
    } rows[] = {
        {"camera.mp4", {"--rotate-audio", "90"}, "edit.mov", kLeft, true},
        {"camera.mp4", {"--remux", "--rotate-audio", "90"}, "remux.mov", kLeft, true},
        {"camera.mp4", {"--rotate-audio", "0,90"}, "pitch.mov", kUp, true},
        {"camera.mp4", {"--rotate-audio=-90"}, "camera-aac.mp4", kRight, false},
        {"plain.mov", {"--rotate-audio", "90"}, "foa.mov", kLeft, true},
        {"plain.mov", {"--rotate-audio", "0,90"}, "foa-up.mov", kUp, true},
        {"plain.mp4", {"--rotate-audio", "450"}, "foa-aac.mp4", kLeft, false},
        {"plain.mp4", {"--audio", "opus", "--rotate-audio", "0,90"}, "foa-opus.mp4", kUp, false},
    };
    const std::vector<uint8_t> w = wOf(dir.Path("plain.mov"));
    for (const auto& row : rows) {
        std::vector<std::string> arguments = row.options;
        arguments.push_back(dir.Path(row.input));
        arguments.push_back(dir.Path(row.output));
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << row.output << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find("the sound field turned by"), std::string::npos) << run.out;
        const Direction peak = peakOf(dir.Path(row.output));
        std::printf("%-16s %-28s peak azimuth %+7.2f elevation %+7.2f\n", row.output.c_str(),
                    (row.input + " " + row.options.back()).c_str(), peak.azimuthDegrees,
                    peak.elevationDegrees);
        EXPECT_LT(AngleBetween(peak, row.heard), 5.0)
            << row.output << ": az " << peak.azimuthDegrees << " el " << peak.elevationDegrees;
        if (row.pcm) {
            EXPECT_TRUE(wOf(dir.Path(row.output)) == w) << row.output << ": W changed";
        }
        const auto in = testing::ReadMediaPackets(dir.Path(row.input));
        const auto out = testing::ReadMediaPackets(dir.Path(row.output));
        ASSERT_EQ(out.size(), 2u);
        EXPECT_TRUE(out[0].packets.size() == in[0].packets.size() &&
                    std::equal(in[0].packets.begin(), in[0].packets.end(), out[0].packets.begin(),
                               [](const auto& a, const auto& b) { return a.data == b.data; }))
            << row.output << ": the video packets changed";
    }
    // A batch gives every child the turn.
    const ProgramRun batch =
        RunProgram({"-o", dir.Path("batch"), "--rotate-audio=-90", dir.Path("camera.mp4")});
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path("batch"))) {
        written.push_back(entry.path().string());
    }
    ASSERT_EQ(written.size(), 1u);
    EXPECT_LT(AngleBetween(peakOf(written.front()), kRight), 5.0);

    // The map of the movie as it is, turned, shows what the conversion writes.
    EXPECT_LT(AngleBetween(peakOf(dir.Path("plain.mov"), {90, 0, 0}), kLeft), 5.0);
    EXPECT_LT(AngleBetween(peakOf(dir.Path("camera.mp4"), {0, 90, 0}), kUp), 5.0);

    // No turn (0, or a whole one) copies what no option copies.
    for (const auto& [turn, output] :
         std::vector<std::pair<std::string, std::string>>{{"", "again.mov"},
                                                          {"0", "again-0.mov"},
                                                          {"360,0,-360", "again-360.mov"},
                                                          {"", "again.mp4"},
                                                          {"0", "again-0.mp4"}}) {
        std::vector<std::string> arguments = {
            dir.Path(output.back() == '4' ? "plain.mp4" : "plain.mov"), dir.Path(output)};
        if (!turn.empty()) arguments.insert(arguments.begin(), "--rotate-audio=" + turn);
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << output << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find("audio copied as it is"), std::string::npos) << run.out;
    }
    EXPECT_EQ(ReadFileBytes(dir.Path("again-0.mov")), ReadFileBytes(dir.Path("again.mov")));
    EXPECT_EQ(ReadFileBytes(dir.Path("again-360.mov")), ReadFileBytes(dir.Path("again.mov")));
    EXPECT_EQ(ReadFileBytes(dir.Path("again-0.mp4")), ReadFileBytes(dir.Path("again.mp4")));

    // A wrong turn is a wrong command line: nothing written.
    const std::vector<std::string> before = dir.Entries();
    for (const char* turn : {"left", "nan", "inf", "1e999", "90,", "1,2,3,4", "9O"}) {
        const ProgramRun run =
            RunProgram({"--rotate-audio", turn, dir.Path("plain.mov"), dir.Path("wrong.mov")});
        EXPECT_EQ(run.status, 2) << turn << ": " << run.err;
        EXPECT_NE(run.err.find("YAW[,PITCH[,ROLL]]"), std::string::npos) << run.err;
    }
    const ProgramRun map = RunProgram(
        {"--soundmap", dir.Path("plain.mov"), "--rotate-audio", "x", "-o", dir.Path("m.png")});
    EXPECT_EQ(map.status, 2) << map.err;
    EXPECT_EQ(dir.Entries(), before);
}

TEST(SoundMapCommandLine, WrongCommandLinesExitTwo) {
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"--soundmap"},
             std::vector<std::string>{"--soundmap", "a.mov", "--moments", "0"},
             std::vector<std::string>{"--soundmap", "a.mov", "--moments", "3", "--at", "1"},
             std::vector<std::string>{"--soundmap", "a.mov", "--at", "-1"},
             std::vector<std::string>{"--soundmap", "a.mov", "--at", "nan"},
             std::vector<std::string>{"--soundmap", "a.mov", "--at", "1", "b.mov"},
             std::vector<std::string>{"--soundmap", "a.mov", "b.mov"},
             std::vector<std::string>{"--soundmap", "a.mov", "--check"},
             std::vector<std::string>{"--at", "1", "a.mov", "b.mov"},
         }) {
        const ProgramRun run = RunProgram(args);
        EXPECT_EQ(run.status, 2) << args[1] << " " << run.err;
        EXPECT_NE(run.err.find("usage: spatialmux"), std::string::npos) << run.err;
    }
}

TEST(AmbisonicLayout, TheSa3dChannelMapSaysWhichChannelCarriesEachComponent) {
    Sa3dFacts sa3d;
    sa3d.order = 1;
    sa3d.channelCount = 4;
    sa3d.channelMap = {0, 1, 2, 3};
    std::string problem;
    EXPECT_EQ(FirstOrderAcnChannels(sa3d, &problem), (AcnChannels{0, 1, 2, 3}));
    // FuMa channel order W, X, Y, Z, as the camera writes it.
    sa3d.channelMap = {0, 3, 1, 2};
    EXPECT_EQ(FirstOrderAcnChannels(sa3d, &problem), (AcnChannels{0, 2, 3, 1}));

    struct Case {
        void (*spoil)(Sa3dFacts&);
        const char* says;
    };
    for (const Case& c : {
             Case{[](Sa3dFacts& f) { f.normalization = 1; }, "not SN3D"},
             Case{[](Sa3dFacts& f) { f.channelOrdering = 1; }, "not ACN"},
             Case{[](Sa3dFacts& f) { f.order = 2; }, "order 2"},
             Case{[](Sa3dFacts& f) { f.ambisonicType = 1; }, "not periphonic"},
             Case{[](Sa3dFacts& f) {
                      f.channelMap = {0, 1, 1, 3};
                  },
                  "each of the four"},
             Case{[](Sa3dFacts& f) {
                      f.channelMap = {0, 1, 2, 4};
                  },
                  "each of the four"},
             Case{[](Sa3dFacts& f) { f.channelMap.pop_back(); }, "not 4"},
         }) {
        Sa3dFacts spoilt = sa3d;
        c.spoil(spoilt);
        problem.clear();
        EXPECT_FALSE(FirstOrderAcnChannels(spoilt, &problem));
        EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    }
}

TEST(SoundMapCommandLine, DefaultNameAndMoments) {
    EXPECT_EQ(DefaultSoundMapPath("R0010042.MP4"), "R0010042.soundmap.png");
    EXPECT_EQ(DefaultSoundMapPath("dir.v2/movie"), "dir.v2/movie.soundmap.png");
    EXPECT_EQ(DefaultSoundMapPath("a/.hidden"), "a/.hidden.soundmap.png");
    EXPECT_EQ(SpreadMoments(6.0, 3), (std::vector<double>{1.0, 3.0, 5.0}));
}

}  // namespace
}  // namespace spatialmux

namespace spatialmux {
namespace {

// Frames whose brightness counts them (frame N has luma 16 + 7 N), encoded with
// B-frames so that decoding order and display order differ.
class BFrameMovies : public ::testing::TestWithParam<const char*> {};

TEST_P(BFrameMovies, ThePictureAtATimeIsTheFrameShownThen) {
    TempDir folder;
    const std::string movie = folder.Path("counted.mov");
    const std::string encoder = GetParam();
    const std::string options = encoder == "libx264"
                                    ? "-x264-params bframes=2:b-adapt=0:keyint=10:log=-1"
                                    : "-x265-params bframes=3:keyint=10:log-level=none -tag:v hvc1";
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i "
                     "\"nullsrc=s=64x32:r=10:d=3,geq=lum='16+N*7':cb=128:cr=128\" -c:v " +
                     encoder + " " + options + " -pix_fmt yuv420p " + testing::ShellQuote(movie))
                        .c_str()),
        0);
    VideoFrameDecoder decoder;
    std::string problem;
    ASSERT_TRUE(decoder.Open(movie, &problem)) << problem;
    EXPECT_NEAR(decoder.DurationSeconds(), 3.0, 0.01);
    // Times in any order: each seeks on its own. A time between frames
    // takes the next frame; past the last frame's start, the last frame.
    struct Case {
        double seconds;
        int frame;
    };
    for (const Case& c : {Case{1.31, 14}, Case{0.0, 0}, Case{0.25, 3}, Case{1.0, 10},
                          Case{2.95, 29}, Case{0.5, 5}, Case{2.41, 25}}) {
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(decoder.DecodePictureAt(c.seconds, 32, 16, &rgb, &problem)) << problem;
        ASSERT_EQ(rgb.size(), 32u * 16u * 3u);
        // RGB back to limited-range luma, then to the frame number.
        const double luma = rgb[(8 * 32 + 16) * 3 + 1] * 219.0 / 255.0 + 16.0;
        EXPECT_EQ(std::lround((luma - 16.0) / 7.0), c.frame)
            << encoder << " at " << c.seconds << " s";
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, BFrameMovies, ::testing::Values("libx264", "libx265"));

TEST(SoundMapOfHevc, AnHevcCameraMovieMapsItsSources) {
    TempDir folder;
    std::string error;
    fixture::CameraMovieOptions options = TwoSources(fixture::VideoCodec::HEVC);
    ASSERT_TRUE(fixture::WriteCameraMovie(folder.Path("hevc.mp4"), options, nullptr, &error))
        << error;
    const auto result =
        MakeSoundMap(At(folder.Path("hevc.mp4"), folder.Path("map.png"), {0.2, 1.9}), &error);
    ASSERT_TRUE(result) << error;
    EXPECT_LT(AngleBetween(result->moments[0].map.peak, kLeft), 10.0);
    EXPECT_LT(AngleBetween(result->moments[1].map.peak, kBehindRightAbove), 10.0);
}

}  // namespace
}  // namespace spatialmux
