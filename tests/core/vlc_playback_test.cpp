// Our outputs heard in a real 360 player: VLC 3 with its spatial audio
// renderer plays movies with one tone at a known direction, and what it
// renders must come from there. Both engines and all three codecs are
// played; controls that are wrong in known ways (the unconverted camera
// movie, Y negated, the chan box that named speakers) must fail the same
// checks. The renders go through tests/players/vlc_render (libvlc).
//
// Without VLC the tests skip; with SPATIALMUX_REQUIRE_VLC=1 (tools/test.sh)
// they fail instead.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/ByteOrder.h"
#include "fixture/CameraMovieBuilder.h"
#include "support/BoxTree.h"
#include "support/FoaVariants.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::BoxRef;
using testing::FindBoxPath;
using testing::ReadFileBytes;
using testing::ShellQuote;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

// VLC's stereo decode changes with frequency up to about 1.5 kHz and is
// flat above; a 2 kHz tone keeps the checks clear of its crossover.
constexpr double kToneHz = 2000.0;
constexpr int kSeconds = 2;
constexpr double kEdgeSeconds = 0.25;  // left out at both ends of a render
// The checks: a side source at least this much louder on its side, a front
// source louder than one behind and one above (total of both channels).
constexpr double kSideDb = 15.0;
constexpr double kFrontOverBackDb = 6.0;
constexpr double kFrontOverUpDb = 3.0;
// VLC's binaural decode separates left and right by about 6.5 dB at 2 kHz.
constexpr double kBinauralSideDb = 3.0;
// Renders are paced by playback, not by the processor.
constexpr int kRendersAtOnce = 4;
// VLC 3 now and then renders at full scale throughout: render again.
constexpr int kRenderAttempts = 3;
constexpr const char* kHrtf = "/usr/share/libmysofa/default.sofa";

struct Direction {
    const char* name;
    double azimuth;  // +90: left
    double elevation;
};
const Direction kLeft{"left", 90, 0};
const Direction kRight{"right", -90, 0};
const Direction kFront{"front", 0, 0};
const Direction kBack{"back", 180, 0};
const Direction kUp{"up", 0, 90};
const Direction kDirections[] = {kLeft, kRight, kFront, kBack, kUp};

struct OutputKind {
    const char* name;
    const char* extension;
    std::vector<std::string> options;
};
const OutputKind kOutputs[] = {
    {"edit engine, PCM .mov", ".mov", {}},
    {"remux, PCM .mov", ".mov", {"--remux"}},
    {"AAC .mp4", ".mp4", {}},
    {"Opus .mp4", ".mp4", {"--audio", "opus"}},
};

bool VlcRequired() {
    const char* required = std::getenv("SPATIALMUX_REQUIRE_VLC");
    return required != nullptr && std::string(required) == "1";
}

std::optional<std::string> VlcMissing() {
    const std::string renderer = SPATIALMUX_VLC_RENDER;
    if (renderer.empty()) {
        return "libvlc was not found when the build was configured (apt-get install vlc-bin "
               "vlc-plugin-base libvlc-dev)";
    }
    const std::string probe = ShellQuote(renderer) + " --probe >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        return "libvlc or VLC's file audio output is missing (apt-get install vlc-bin "
               "vlc-plugin-base)";
    }
    return std::nullopt;
}

// What VLC rendered: mean squares of both channels over the render less its
// edges, as dB of full scale.
struct Levels {
    double left = -200.0;
    double right = -200.0;
    double total = -200.0;
};

double Decibels(double meanSquare) {
    return meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : -200.0;
}

// Reads a 16-bit stereo WAV; `fullScale` says whether most samples sit at
// full scale (the broken render). Nothing, with `problem`, when the file is
// not such a WAV or holds too little.
std::optional<Levels> ReadLevels(const std::string& path, bool* fullScale, std::string* problem) {
    const Bytes wav = ReadFileBytes(path);
    if (wav.size() < 12 || std::string(wav.begin(), wav.begin() + 4) != "RIFF" ||
        std::string(wav.begin() + 8, wav.begin() + 12) != "WAVE") {
        *problem = "not a WAV file";
        return std::nullopt;
    }
    uint32_t rate = 0;
    bool stereo16 = false;
    const uint8_t* data = nullptr;
    std::size_t dataBytes = 0;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::string id(wav.begin() + at, wav.begin() + at + 4);
        const std::size_t size = std::min<std::size_t>(ReadLE32(&wav[at + 4]), wav.size() - at - 8);
        if (id == "fmt " && size >= 16) {
            stereo16 = ReadLE16(&wav[at + 10]) == 2 && ReadLE16(&wav[at + 22]) == 16;
            rate = ReadLE32(&wav[at + 12]);
        } else if (id == "data") {
            data = &wav[at + 8];
            dataBytes = size;
        }
        at += 8 + size + (size & 1);
    }
    const std::size_t frames = dataBytes / 4;
    const std::size_t edge = static_cast<std::size_t>(kEdgeSeconds * rate);
    if (!stereo16 || data == nullptr || rate == 0 || frames < 4 * edge) {
        *problem = "not 16-bit stereo, or less than a second of it";
        return std::nullopt;
    }
    double sumLeft = 0.0;
    double sumRight = 0.0;
    std::size_t atFullScale = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto left = static_cast<int16_t>(ReadLE16(data + 4 * i));
        const auto right = static_cast<int16_t>(ReadLE16(data + 4 * i + 2));
        for (int16_t sample : {left, right}) {
            atFullScale += sample == INT16_MAX || sample == INT16_MIN;
        }
        if (i < edge || i >= frames - edge) continue;
        sumLeft += static_cast<double>(left) * left;
        sumRight += static_cast<double>(right) * right;
    }
    *fullScale = atFullScale > frames;
    const double scale = (frames - 2.0 * edge) * 32768.0 * 32768.0;
    return Levels{Decibels(sumLeft / scale), Decibels(sumRight / scale),
                  Decibels((sumLeft + sumRight) / 2.0 / scale)};
}

struct Render {
    Render(std::string movieFile = "", std::string hrtfFile = "", double yawDegrees = 0.0)
        : movie(std::move(movieFile)), hrtf(std::move(hrtfFile)), yaw(yawDegrees) {}
    std::string movie;
    std::string hrtf;  // binaural with this HRTF, else for two loudspeakers
    double yaw = 0.0;
    // Filled in by RenderAll.
    std::optional<Levels> levels;
    std::string problem;
};

void RenderOne(Render& render, const std::string& wav, const std::string& home) {
    std::string command =
        "HOME=" + ShellQuote(home) + " timeout -k 5 120 " + ShellQuote(SPATIALMUX_VLC_RENDER);
    if (!render.hrtf.empty()) command += " --binaural " + ShellQuote(render.hrtf);
    command += " --yaw " + std::to_string(render.yaw) + " " + ShellQuote(render.movie) + " " +
               ShellQuote(wav) + " >" + ShellQuote(wav + ".log") + " 2>&1";
    for (int attempt = 1; attempt <= kRenderAttempts; ++attempt) {
        std::remove(wav.c_str());
        if (std::system(command.c_str()) != 0) {
            const Bytes log = ReadFileBytes(wav + ".log");
            render.problem = "VLC could not play it: " + std::string(log.begin(), log.end());
            return;
        }
        bool fullScale = false;
        render.levels = ReadLevels(wav, &fullScale, &render.problem);
        if (!render.levels || !fullScale) return;
        render.levels.reset();
        render.problem = "every render came out at full scale";
    }
}

// Renders every movie, a few at once, into WAVs in `dir`.
void RenderAll(std::vector<Render>& renders, const TempDir& dir) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kRendersAtOnce; ++w) {
        workers.emplace_back([&renders, &dir, &next] {
            for (std::size_t i = next++; i < renders.size(); i = next++) {
                RenderOne(renders[i], dir.Path("render" + std::to_string(i) + ".wav"),
                          dir.Path("home"));
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    for (const Render& render : renders) {
        ASSERT_TRUE(render.levels) << render.movie << ": " << render.problem;
    }
}

// A camera movie of a 2 kHz tone from `direction`.
std::string CameraMovie(const TempDir& dir, const Direction& direction) {
    fixture::CameraMovieOptions options;
    options.totalSamples = kSeconds * 48000;
    options.distinctFrames = 2;
    options.sources = {{direction.azimuth, direction.elevation, 0.0, kSeconds, kToneHz, 0.3}};
    const std::string path = dir.Path(std::string(direction.name) + ".camera.mp4");
    std::string error;
    EXPECT_TRUE(fixture::WriteCameraMovie(path, options, nullptr, &error)) << error;
    return path;
}

std::string Convert(const TempDir& dir, const std::string& camera, const Direction& direction,
                    const OutputKind& output) {
    static std::atomic<int> made{0};
    const std::string path =
        dir.Path(std::string(direction.name) + "." + std::to_string(made++) + output.extension);
    std::vector<std::string> arguments = output.options;
    arguments.insert(arguments.end(), {camera, path});
    const testing::ProgramRun run = testing::RunProgram(arguments);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    return path;
}

// The checks on the stereo renders of the five directions, one table row.
struct DirectionChecks {
    Levels left, right, front, back, up;

    bool Pass() const {
        return left.left - left.right >= kSideDb && right.right - right.left >= kSideDb &&
               front.total - back.total >= kFrontOverBackDb &&
               front.total - up.total >= kFrontOverUpDb;
    }
    std::string Row(const std::string& name) const {
        char text[320];
        std::snprintf(text, sizeof text,
                      "| %-24s | %6.2f/%6.2f | %6.2f/%6.2f | %6.2f | %6.2f | %6.2f | %6.2f | "
                      "%6.2f | %6.2f | %6.2f | %s |",
                      name.c_str(), left.left, left.right, right.left, right.right, front.total,
                      back.total, up.total, left.left - left.right, right.right - right.left,
                      front.total - back.total, front.total - up.total, Pass() ? "pass" : "FAIL");
        return text;
    }
};

void PrintTableHead() {
    std::printf(
        "| movie | left src L/R | right src L/R | front | back | up | left L-R | right R-L | "
        "front-back | front-up | checks |\n");
}

// Five stereo renders (in kDirections order) as the checks' input.
DirectionChecks ChecksOf(const std::vector<Render>& renders, std::size_t first) {
    return {*renders[first].levels, *renders[first + 1].levels, *renders[first + 2].levels,
            *renders[first + 3].levels, *renders[first + 4].levels};
}

// The audio sample entry of a .mov output.
std::optional<BoxRef> AudioEntry(const Bytes& bytes) {
    const auto stsd = FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    return stsd ? testing::FindSampleEntry(bytes, *stsd) : std::nullopt;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    EXPECT_EQ(std::fclose(file), 0);
}

// A copy of a PCM .mov output whose chan box says 4.0 by bitmap (left,
// right, centre, back centre), as the outputs once did.
std::string WithSpeakerChan(const std::string& movie, const std::string& copy) {
    Bytes bytes = ReadFileBytes(movie);
    const auto entry = AudioEntry(bytes);
    const auto chan = entry ? testing::FindSoundEntryChild(bytes, *entry, "chan") : std::nullopt;
    EXPECT_TRUE(chan && chan->size == 24) << movie;
    if (chan && chan->size == 24) {
        WriteBE32(&bytes[chan->offset + 12], 0x00010000);
        WriteBE32(&bytes[chan->offset + 16], 0x107);
    }
    WriteBytes(copy, bytes);
    return copy;
}

// A copy of a PCM .mov output with its second channel (Y, left minus
// right) negated: left and right swapped. The chunks are found through
// stsc and stco or co64 (16-bit samples of four channels).
std::string WithYNegated(const std::string& movie, const std::string& copy) {
    Bytes bytes = ReadFileBytes(movie);
    const std::string stbl = "moov/trak#2/mdia/minf/stbl";
    const auto stsc = FindBoxPath(bytes, stbl + "/stsc");
    auto offsets = FindBoxPath(bytes, stbl + "/stco");
    const bool wide = !offsets;
    if (wide) offsets = FindBoxPath(bytes, stbl + "/co64");
    EXPECT_TRUE(stsc && offsets) << movie;
    if (!stsc || !offsets) return copy;
    const uint32_t runs = ReadBE32(&bytes[stsc->offset + 12]);
    const uint32_t chunks = ReadBE32(&bytes[offsets->offset + 12]);
    if (runs == 0 || 16 + 12 * uint64_t{runs} > stsc->size ||
        16 + (wide ? 8 : 4) * uint64_t{chunks} > offsets->size) {
        ADD_FAILURE() << movie << ": the audio's chunk tables do not fit their boxes";
        return copy;
    }
    uint32_t run = 0;
    for (uint32_t chunk = 1; chunk <= chunks; ++chunk) {
        while (run + 1 < runs && ReadBE32(&bytes[stsc->offset + 16 + 12 * (run + 1)]) <= chunk) {
            ++run;
        }
        const uint32_t instants = ReadBE32(&bytes[stsc->offset + 16 + 12 * run + 4]);
        const uint8_t* entry = &bytes[offsets->offset + 16 + (wide ? 8 : 4) * (chunk - 1)];
        const uint64_t at = wide ? ReadBE64(entry) : ReadBE32(entry);
        EXPECT_LE(at + 8 * uint64_t{instants}, bytes.size());
        for (uint64_t i = 0; i < instants && at + 8 * i + 8 <= bytes.size(); ++i) {
            uint8_t* y = &bytes[at + 8 * i + 2];
            const auto value = static_cast<int16_t>(ReadLE16(y));
            WriteLE16(y, static_cast<uint16_t>(value == INT16_MIN ? INT16_MAX : -value));
        }
    }
    WriteBytes(copy, bytes);
    return copy;
}

class VlcPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto missing = VlcMissing()) {
            if (VlcRequired()) FAIL() << *missing;
            GTEST_SKIP() << *missing;
        }
    }
    TempDir dir;
};

TEST_F(VlcPlayback, EveryOutputIsHeardFromItsSourcesDirection) {
    std::vector<std::string> cameras;
    for (const Direction& direction : kDirections) cameras.push_back(CameraMovie(dir, direction));
    std::vector<Render> renders;
    for (const OutputKind& output : kOutputs) {
        for (std::size_t d = 0; d < cameras.size(); ++d) {
            renders.push_back({Convert(dir, cameras[d], kDirections[d], output)});
        }
    }
    ASSERT_NO_FATAL_FAILURE(RenderAll(renders, dir));
    PrintTableHead();
    for (std::size_t k = 0; k < std::size(kOutputs); ++k) {
        const DirectionChecks checks = ChecksOf(renders, 5 * k);
        std::printf("%s\n", checks.Row(kOutputs[k].name).c_str());
        EXPECT_TRUE(checks.Pass()) << checks.Row(kOutputs[k].name);
    }
}

// Movies that are not the camera's: an AmbiX and a FuMa movie without SA3D,
// converted with --ambisonics ambix and fuma, are heard from their sources'
// directions as the camera's conversions are.
TEST_F(VlcPlayback, AmbixAndFumaMoviesAreHeardFromTheirSourcesDirection) {
    const char* names[] = {"AmbiX .mov, --ambisonics ambix", "FuMa .mov, --ambisonics fuma"};
    std::vector<Render> renders(10);
    for (std::size_t d = 0; d < 5; ++d) {
        const Direction& direction = kDirections[d];
        const std::string output =
            Convert(dir, CameraMovie(dir, direction), direction, kOutputs[0]);
        const std::string name = direction.name;
        Bytes ambix = ReadFileBytes(output);
        Bytes fuma = ambix;
        testing::RenameAway(ambix, {"SA3D", "chan"});
        testing::RewriteInstants(output, fuma, testing::ToFuma);
        testing::RenameAway(fuma, {"SA3D", "chan"});
        WriteBytes(dir.Path(name + ".ambix.mov"), ambix);
        WriteBytes(dir.Path(name + ".fuma.mov"), fuma);
        renders[d].movie = Convert(dir, dir.Path(name + ".ambix.mov"), direction,
                                   {"", ".mov", {"--ambisonics", "ambix"}});
        renders[5 + d].movie = Convert(dir, dir.Path(name + ".fuma.mov"), direction,
                                       {"", ".mov", {"--ambisonics", "fuma"}});
    }
    ASSERT_NO_FATAL_FAILURE(RenderAll(renders, dir));
    PrintTableHead();
    for (std::size_t k = 0; k < 2; ++k) {
        const DirectionChecks checks = ChecksOf(renders, 5 * k);
        std::printf("%s\n", checks.Row(names[k]).c_str());
        EXPECT_TRUE(checks.Pass()) << checks.Row(names[k]);
    }
}

TEST_F(VlcPlayback, ControlsFailTheSameChecks) {
    const char* names[] = {"control: camera movie", "control: Y negated", "control: speaker chan"};
    std::vector<Render> renders(15);
    for (std::size_t d = 0; d < 5; ++d) {
        const Direction& direction = kDirections[d];
        const std::string camera = CameraMovie(dir, direction);
        const std::string output = Convert(dir, camera, direction, kOutputs[0]);
        const std::string name = direction.name;
        renders[d].movie = camera;
        renders[5 + d].movie = WithYNegated(output, dir.Path(name + ".negated.mov"));
        renders[10 + d].movie = WithSpeakerChan(output, dir.Path(name + ".speakers.mov"));
    }
    ASSERT_NO_FATAL_FAILURE(RenderAll(renders, dir));
    PrintTableHead();
    for (std::size_t c = 0; c < 3; ++c) {
        const DirectionChecks checks = ChecksOf(renders, 5 * c);
        std::printf("%s\n", checks.Row(names[c]).c_str());
        EXPECT_FALSE(checks.Pass()) << checks.Row(names[c]);
    }
}

TEST_F(VlcPlayback, HeadphonesHearLeftAndRight) {
    // VLC's binaural decode tells front from back too weakly to check; left
    // and right it keeps.
    std::vector<Render> renders;
    std::vector<std::string> names;
    for (const Direction& direction : {kLeft, kRight}) {
        const std::string camera = CameraMovie(dir, direction);
        const std::string edited = Convert(dir, camera, direction, kOutputs[0]);
        for (std::size_t k = 0; k < std::size(kOutputs); ++k) {
            renders.push_back(
                {k == 0 ? edited : Convert(dir, camera, direction, kOutputs[k]), kHrtf});
            names.push_back(std::string(kOutputs[k].name) + ", " + direction.name + " source");
        }
        renders.push_back(
            {WithYNegated(edited, dir.Path(std::string(direction.name) + ".negated.mov")), kHrtf});
        names.push_back(std::string("control: Y negated, ") + direction.name + " source");
    }
    ASSERT_NO_FATAL_FAILURE(RenderAll(renders, dir));
    for (std::size_t i = 0; i < renders.size(); ++i) {
        const Levels& heard = *renders[i].levels;
        const bool left = i < renders.size() / 2;
        const double margin = left ? heard.left - heard.right : heard.right - heard.left;
        std::printf("| %-40s | L %6.2f | R %6.2f | toward the source %6.2f |\n", names[i].c_str(),
                    heard.left, heard.right, margin);
        if (names[i].rfind("control", 0) == 0) {
            EXPECT_LT(margin, kBinauralSideDb) << names[i];
        } else {
            EXPECT_GE(margin, kBinauralSideDb) << names[i];
        }
    }
}

TEST_F(VlcPlayback, TurningTheViewMovesTheFrontSourceToTheSide) {
    // Turned 90 degrees to the right, the listener has the front source on
    // the left; turned to the left, on the right.
    const std::string camera = CameraMovie(dir, kFront);
    std::vector<Render> renders;
    std::vector<std::string> names;
    for (const OutputKind& output : kOutputs) {
        const std::string movie = Convert(dir, camera, kFront, output);
        renders.push_back({movie, "", 90.0});
        renders.push_back({movie, "", -90.0});
        names.push_back(output.name);
    }
    renders.push_back({WithSpeakerChan(renders[0].movie, dir.Path("speakers.mov")), "", 90.0});
    renders.push_back({renders.back().movie, "", -90.0});
    names.push_back("control: speaker chan");
    ASSERT_NO_FATAL_FAILURE(RenderAll(renders, dir));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Levels& right = *renders[2 * i].levels;  // turned right: heard on the left
        const Levels& left = *renders[2 * i + 1].levels;
        const bool pass = right.left - right.right >= kSideDb && left.right - left.left >= kSideDb;
        std::printf("| %-24s | yaw +90 L/R %6.2f/%6.2f | yaw -90 L/R %6.2f/%6.2f | %s |\n",
                    names[i].c_str(), right.left, right.right, left.left, left.right,
                    pass ? "pass" : "FAIL");
        EXPECT_EQ(pass, names[i].rfind("control", 0) != 0) << names[i];
    }
}

}  // namespace
}  // namespace spatialmux
