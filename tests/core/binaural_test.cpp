// spatialmux --binaural: the decoder's matrix and turn, then the real
// program on camera movies whose noise comes from known directions. A head
// hears a source on its left louder in the left ear (above 1 kHz, where the
// head shades the far ear) and first in the left ear; the checks measure
// exactly that on the decoded output, so a render with a channel's sign or
// place wrong fails them.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <csignal>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "audio/CubeDecoder.h"
#include "control/CommandLine.h"
#include "control/binaural/BinauralCommand.h"
#include "fixture/CameraMovieBuilder.h"
#include "movie/SpatialMetadata.h"
#include "output/ffmpeg/BinauralRenderer.h"
#include "support/DecodedAudio.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/SpawnedProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::RunProgram;
using testing::ShellQuote;
using testing::TempDir;

// ---------------------------------------------------------------- decoder

double Dot(const std::array<double, 4>& feeds, const std::array<double, 4>& wave) {
    double sum = 0.0;
    for (std::size_t c = 0; c < 4; ++c) sum += feeds[c] * wave[c];
    return sum;
}

// The speakers' gains for a plane wave from `source`, heard facing `look`.
std::array<double, kCubeSpeakers> Gains(const Direction& source, const Direction& look = {}) {
    const SpeakerFeeds feeds = CubeDecoderFacing(look);
    std::array<double, kCubeSpeakers> gains{};
    for (std::size_t i = 0; i < gains.size(); ++i) gains[i] = Dot(feeds[i], PlaneWave(source));
    return gains;
}

TEST(CubeDecoder, EachCornerDirectionGivesTheMaxReGains) {
    // The corners as signs of (x front, y left, z up), in the speakers' order.
    const int signs[kCubeSpeakers][3] = {{1, 1, 1},  {1, -1, 1},  {-1, 1, 1},  {-1, -1, 1},
                                         {1, 1, -1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, -1}};
    const SpeakerFeeds decoder = CubeDecoder();
    for (int i = 0; i < kCubeSpeakers; ++i) {
        const auto& s = signs[i];
        // W, Y, Z, X: every weight 1/8 with the corner's sign.
        const std::array<double, 4> expected{0.125, 0.125 * s[1], 0.125 * s[2], 0.125 * s[0]};
        for (std::size_t c = 0; c < 4; ++c) EXPECT_NEAR(decoder[i][c], expected[c], 1e-12);

        const auto gains = Gains(CubeSpeakers()[i]);
        double sum = 0.0;
        for (int j = 0; j < kCubeSpeakers; ++j) {
            const auto& t = signs[j];
            const int same = s[0] * t[0] + s[1] * t[1] + s[2] * t[2];  // 3, 1, -1 or -3
            EXPECT_NEAR(gains[j], (1.0 + same / std::sqrt(3.0)) / 8.0, 1e-9)
                << "wave from corner " << i << ", speaker " << j;
            sum += gains[j];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << "the pressure of the wave is kept";
        EXPECT_NEAR(gains[i], 0.3415, 1e-4);
    }
}

TEST(CubeDecoder, FacingADirectionBringsItToTheFront) {
    const auto front = Gains({0, 0});
    // Yaw first, then pitch: the other order puts (90, 45) faced from
    // (90, 45) on the side.
    for (const Direction look : {Direction{90, 0}, Direction{-90, 0}, Direction{30, 20},
                                 Direction{200, -45}, Direction{90, 45}}) {
        const auto faced = Gains(look, look);
        for (int j = 0; j < kCubeSpeakers; ++j) {
            EXPECT_NEAR(faced[j], front[j], 1e-9)
                << "facing " << look.azimuthDegrees << ":" << look.elevationDegrees;
        }
    }
    // Facing left, what was in front is on the right; facing right, on the left.
    const auto right = Gains({-90, 0});
    const auto left = Gains({90, 0});
    for (int j = 0; j < kCubeSpeakers; ++j) {
        EXPECT_NEAR(Gains({0, 0}, {90, 0})[j], right[j], 1e-9);
        EXPECT_NEAR(Gains({0, 0}, {-90, 0})[j], left[j], 1e-9);
    }
}

TEST(CubeDecoder, ATurnedFieldIsHeardWhereTheTurnPutIt) {
    // The field turned by yaw 90 and faced from the left sounds as the
    // field as it is faced from the front; a turn of pitch 90 puts the front
    // straight up, which facing up brings back.
    const SpeakerFeeds plain = CubeDecoder();
    struct Row {
        Direction look;
        AmbisonicRotation turn;
    };
    for (const Row& row : {Row{{90, 0}, {90, 0, 0}}, Row{{-30, 0}, {-30, 0, 0}},
                           Row{{0, 90}, {0, 90, 0}}, Row{{0, 0}, {360, -360, 720}}}) {
        const SpeakerFeeds feeds = CubeDecoderFacing(row.look, row.turn);
        for (std::size_t i = 0; i < feeds.size(); ++i) {
            for (std::size_t c = 0; c < 4; ++c) {
                EXPECT_NEAR(feeds[i][c], plain[i][c], 1e-12)
                    << AmbisonicRotationText(row.turn) << " speaker " << i;
            }
        }
    }
    // Not the identity: a field turned by 90 and faced from the front puts
    // a front source where the left one was.
    const SpeakerFeeds turned = CubeDecoderFacing({}, {90, 0, 0});
    const auto left = Gains({90, 0});
    for (std::size_t i = 0; i < turned.size(); ++i) {
        EXPECT_NEAR(Dot(turned[i], PlaneWave({0, 0})), left[i], 1e-12) << i;
    }
}

TEST(CubeDecoder, TheCommandLineTakesTheDirectionFaced) {
    auto parse = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "spatialmux");
        std::vector<const char*> argv;
        for (const std::string& a : arguments) argv.push_back(a.c_str());
        return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    };
    using Mode = CommandLineRequest::Mode;
    const auto plain = parse({"--binaural", "in.mp4", "out.m4a"});
    EXPECT_EQ(plain.mode, Mode::Binaural);
    EXPECT_EQ(plain.paths, (std::vector<std::string>{"in.mp4", "out.m4a"}));
    EXPECT_EQ(plain.lookAzimuth, 0.0);
    EXPECT_EQ(plain.hrtf, "");
    const auto turned = parse({"--binaural", "--look", "-90:12.5", "--hrtf", "a.sofa", "i", "o"});
    EXPECT_EQ(turned.mode, Mode::Binaural);
    EXPECT_EQ(turned.lookAzimuth, -90.0);
    EXPECT_EQ(turned.lookElevation, 12.5);
    EXPECT_EQ(turned.hrtf, "a.sofa");
    EXPECT_EQ(parse({"--binaural", "--look", "90", "i", "o"}).lookElevation, 0.0);
    EXPECT_EQ(parse({"--binaural", "--rotate-audio", "-90,5", "i", "o"}).rotateAudio,
              (AmbisonicRotation{-90, 5, 0}));
    for (const auto& wrong :
         std::vector<std::vector<std::string>>{{"--binaural", "in.mp4"},
                                               {"--binaural", "--look", "10:91", "i", "o"},
                                               {"--binaural", "--look", "left", "i", "o"},
                                               {"--binaural", "--look", "10:", "i", "o"},
                                               {"--binaural", "--audio", "aac", "i", "o"},
                                               {"--binaural", "--rotate-audio", "x", "i", "o"},
                                               {"--look", "90", "i", "o"},
                                               {"--hrtf", "a.sofa", "i", "o"}}) {
        EXPECT_EQ(parse(wrong).mode, Mode::Wrong) << wrong[0] << " " << wrong[1] << " " << wrong[2];
    }
}

// The windowed converter runs in the user's locale, where a number may have
// a decimal comma; pan reads its gains with sscanf all the same.
TEST(BinauralRenderer, BuildsItsGraphUnderADecimalCommaLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    // A machine with only C.UTF-8 (a fresh one) gets the locale made for
    // the test from the definitions of Debian's locales package.
    TempDir locales;
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::system(("localedef -i de_DE -f UTF-8 " + ShellQuote(locales.Path("de_DE.UTF-8")) +
                     " >/dev/null 2>&1")
                        .c_str()) == 0) {
        setenv("LOCPATH", locales.Path("").c_str(), 1);
    }
    const bool commaLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!commaLocale) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale here, and localedef could not make one "
                        "(tools/setup.sh --tests installs Debian's locales)";
    }
    output::BinauralSettings settings;
    settings.hrtfPath = kDefaultHrtfPath;
    settings.feeds = CubeDecoderFacing({30, 10});
    settings.speakers = CubeSpeakers();
    settings.sampleRate = 48000;
    std::string problem;
    const auto renderer = output::BinauralRenderer::Open(settings, &problem);
    std::vector<float> ears;
    const std::vector<float> w(4096, 0.25f);
    const std::vector<float> silent(4096, 0.0f);
    const bool rendered = renderer &&
                          renderer->Render({w.data(), silent.data(), silent.data(), silent.data()},
                                           4096, &ears, &problem) &&
                          renderer->Finish(&ears, &problem);
    std::setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_TRUE(rendered) << problem;
    EXPECT_NEAR(static_cast<double>(ears.size()) / 2, 4096, 2) << "the resamplers' instant";
    EXPECT_GT(*std::max_element(ears.begin(), ears.end()), 0.0f);
}

// ---------------------------------------------------------------- the ears

constexpr int kRate = 48000;

struct Ears {
    std::vector<double> left;
    std::vector<double> right;
};

// The file's two channels as a player decodes them; empty when it has not two.
Ears ReadEars(const std::string& path) {
    const testing::DecodedAudio audio = testing::DecodeAudio(path);
    Ears ears;
    if (audio.channels != 2) return ears;
    for (int64_t i = 0; i < audio.Instants(); ++i) {
        ears.left.push_back(audio.samples[static_cast<std::size_t>(2 * i)] / 32768.0);
        ears.right.push_back(audio.samples[static_cast<std::size_t>(2 * i + 1)] / 32768.0);
    }
    return ears;
}

// A second-order Butterworth high-pass or low-pass (RBJ's biquad), in place.
void Filter(std::vector<double>& x, bool highPass, double corner) {
    const double w = 2.0 * std::numbers::pi * corner / kRate;
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double c = std::cos(w);
    const double b0 = highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    const double b1 = highPass ? -(1.0 + c) : 1.0 - c;
    const double a0 = 1.0 + alpha;
    const double a1 = -2.0 * c;
    const double a2 = 1.0 - alpha;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : x) {
        const double y = (b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2) / a0;
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

struct Cues {
    double levelDecibels = 0.0;     // left over right, 1 to 4 kHz
    double leadMicroseconds = 0.0;  // the left ear's lead (cross-correlation peak)
};

// The interaural cues over the middle of the file (a quarter second left
// out at both ends).
Cues Measure(const Ears& ears) {
    Cues cues;
    const std::size_t n = std::min(ears.left.size(), ears.right.size());
    const std::size_t from = kRate / 4;
    if (n < 2 * from + kRate / 4) return cues;
    const std::size_t to = n - from;
    std::vector<double> band[2] = {ears.left, ears.right};
    double energy[2] = {0.0, 0.0};
    for (int ear = 0; ear < 2; ++ear) {
        Filter(band[ear], true, 1000.0);
        Filter(band[ear], true, 1000.0);
        Filter(band[ear], false, 4000.0);
        Filter(band[ear], false, 4000.0);
        for (std::size_t i = from; i < to; ++i) energy[ear] += band[ear][i] * band[ear][i];
    }
    cues.levelDecibels = 10.0 * std::log10(energy[0] / energy[1]);
    // Right = left delayed by d: the correlation peaks at lag d.
    const int most = kRate / 1000;  // 1 ms
    double best = -1e300;
    for (int lag = -most; lag <= most; ++lag) {
        double sum = 0.0;
        for (std::size_t i = from; i < to; ++i) {
            sum += ears.left[i] * ears.right[static_cast<std::size_t>(static_cast<long>(i) + lag)];
        }
        if (sum > best) {
            best = sum;
            cues.leadMicroseconds = lag * 1e6 / kRate;
        }
    }
    return cues;
}

enum class Side { Left, Front, Right };

// Empty when the cues put the source on `side`: a near ear at least 6 dB
// louder from 1 to 4 kHz and ahead by 100 to 800 microseconds, or, in
// front, both ears within 1 dB and 50 microseconds. Else what is wrong.
std::string Judge(const Cues& cues, Side side) {
    const double sign = side == Side::Left ? 1.0 : -1.0;
    char text[160];
    std::snprintf(text, sizeof text, "level %+.2f dB, lead %+.0f us", cues.levelDecibels,
                  cues.leadMicroseconds);
    if (side == Side::Front) {
        const bool centred =
            std::fabs(cues.levelDecibels) < 1.0 && std::fabs(cues.leadMicroseconds) < 50.0;
        return centred ? "" : std::string("not in front: ") + text;
    }
    const bool near = sign * cues.levelDecibels >= 6.0 && sign * cues.leadMicroseconds >= 100.0 &&
                      sign * cues.leadMicroseconds <= 800.0;
    return near ? ""
                : std::string("not on the ") + (side == Side::Left ? "left: " : "right: ") + text;
}

// The peak of both ears in dBFS.
double PeakDecibels(const Ears& ears) {
    double peak = 0.0;
    for (const auto* ear : {&ears.left, &ears.right}) {
        for (const double v : *ear) peak = std::max(peak, std::fabs(v));
    }
    return 20.0 * std::log10(peak);
}

// Camera movies with white noise from the left, the right and the front, made
// once for the tests below.
class BinauralRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir;
        // The sides' noise loud enough to be brought to -1 dBFS, the front's
        // (-46 dBFS) too quiet for that within the most gain.
        const struct {
            const char* name;
            double azimuth;
            double amplitude;
        } movies[] = {{"left.mp4", 90, 0.5}, {"right.mp4", -90, 0.5}, {"front.mp4", 0, 0.005}};
        for (const auto& movie : movies) {
            fixture::CameraMovieOptions options;
            options.width = 128;
            options.height = 64;
            options.totalSamples = kRate * 3 / 2;
            options.distinctFrames = 4;
            options.sources = {{movie.azimuth, 0.0, 0.0, 2.0, 0.0, movie.amplitude}};
            std::string error;
            ASSERT_TRUE(
                fixture::WriteCameraMovie(folder->Path(movie.name), options, nullptr, &error))
                << error;
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static std::string In(const std::string& name) { return folder->Path(name); }

    // Renders `input` to `output` in the test's own folder; the cues of the
    // result, with the run's output in `run`.
    Cues Render(const std::string& input, const std::string& output,
                std::vector<std::string> more = {}, ProgramRun* run = nullptr) {
        std::vector<std::string> arguments{"--binaural", input, dir.Path(output)};
        arguments.insert(arguments.end(), more.begin(), more.end());
        const ProgramRun ran = RunProgram(arguments);
        EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
        if (run != nullptr) *run = ran;
        return Measure(ReadEars(dir.Path(output)));
    }

    static TempDir* folder;
    TempDir dir;
};
TempDir* BinauralRender::folder = nullptr;

TEST_F(BinauralRender, EachEarHearsTheSideItsSourceIsOnWhereverTheListenerFaces) {
    ProgramRun run;
    const Cues left = Render(In("left.mp4"), "left.wav", {}, &run);
    EXPECT_EQ(Judge(left, Side::Left), "");
    // The level: the loudest sample at -1 dBFS, and said so.
    const double peak = PeakDecibels(ReadEars(dir.Path("left.wav")));
    EXPECT_NEAR(peak, -1.0, 0.1);
    EXPECT_NE(run.out.find("peak -1.0 dBFS"), std::string::npos) << run.out;

    const Cues right = Render(In("right.mp4"), "right.wav");
    EXPECT_EQ(Judge(right, Side::Right), "");
    EXPECT_EQ(Judge(Render(In("front.mp4"), "front.wav", {}, &run), Side::Front), "");
    // A near-silent movie gets no more than +40 dB: its peak stays below -1 dBFS.
    EXPECT_NE(run.out.find("after a gain of +40.0 dB"), std::string::npos) << run.out;
    EXPECT_LT(PeakDecibels(ReadEars(dir.Path("front.wav"))), -1.5);
    EXPECT_EQ(Judge(Render(In("front.mp4"), "look90.wav", {"--look", "90"}), Side::Right), "");
    EXPECT_EQ(Judge(Render(In("front.mp4"), "look-90.wav", {"--look", "-90"}), Side::Left), "");
    // Facing the source brings it to the front.
    EXPECT_EQ(Judge(Render(In("left.mp4"), "facing.wav", {"--look", "90:0"}), Side::Front), "");

    // Negating Y turns every direction (a, e) into (-a, e): the left movie
    // with Y negated is the right movie. The checks must fail on it.
    EXPECT_NE(Judge(right, Side::Left), "");
    EXPECT_NE(Judge(left, Side::Right), "");
}

TEST_F(BinauralRender, ConvertedAndEncodedMoviesSoundAsTheCameraMovie) {
    const Cues camera = Measure(ReadEars([&] {
        Render(In("left.mp4"), "camera.wav");
        return dir.Path("camera.wav");
    }()));
    // The conversion's outputs: PCM with SA3D, AAC with SA3D, and its Opus
    // (channel mapping family 2) moved into Matroska, which has no SA3D.
    for (const auto& [name, more] :
         {std::pair<const char*, std::vector<std::string>>{"converted.mov", {}},
          {"converted.mp4", {}},
          {"opus.mp4", {"--audio", "opus"}}}) {
        std::vector<std::string> arguments = more;
        arguments.push_back(In("left.mp4"));
        arguments.push_back(dir.Path(name));
        const ProgramRun converted = RunProgram(arguments);
        ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
    }
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + ShellQuote(dir.Path("opus.mp4")) +
                           " -map 0:a -c copy " + ShellQuote(dir.Path("opus.mkv")))
                              .c_str()),
              0);
    for (const char* movie : {"converted.mov", "converted.mp4", "opus.mkv"}) {
        SCOPED_TRACE(movie);
        const Cues cues = Render(dir.Path(movie), std::string(movie) + ".wav");
        EXPECT_EQ(Judge(cues, Side::Left), "");
        EXPECT_NEAR(cues.levelDecibels, camera.levelDecibels, 1.0);
    }
}

TEST_F(BinauralRender, MovieOutputsCopyTheVideoAndKeepTheSphericalMetadata) {
    const auto input = testing::ReadMediaPackets(In("left.mp4"));
    ASSERT_FALSE(input.empty());
    ASSERT_EQ(input[0].type, AVMEDIA_TYPE_VIDEO);
    for (const char* name : {"left.mp4", "left.mov", "left.m4a"}) {
        SCOPED_TRACE(name);
        Render(In("left.mp4"), name);
        const std::string output = dir.Path(name);
        const auto streams = testing::ReadMediaPackets(output);
        const bool movie = std::string(name) != "left.m4a";
        ASSERT_EQ(streams.size(), movie ? 2u : 1u);
        const testing::StreamPackets& audio = streams.back();
        EXPECT_EQ(audio.type, AVMEDIA_TYPE_AUDIO);
        EXPECT_EQ(audio.channels, 2);
        EXPECT_EQ(audio.codec,
                  std::string(name) == "left.mov" ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC);
        // Every instant of the input's audio, within one codec frame.
        const int64_t instants = testing::DecodeAudio(output).Instants();
        EXPECT_LE(std::llabs(instants - kRate * 3 / 2), 1024) << instants;
        const Cues cues = Measure(ReadEars(output));
        EXPECT_EQ(Judge(cues, Side::Left), "");
        if (!movie) continue;

        ASSERT_EQ(streams[0].packets.size(), input[0].packets.size());
        for (std::size_t i = 0; i < input[0].packets.size(); ++i) {
            ASSERT_EQ(streams[0].packets[i].data, input[0].packets[i].data) << "packet " << i;
        }
        std::string problem;
        const auto metadata = ReadMovieMetadata(output, &problem);
        ASSERT_TRUE(metadata) << problem;
        ASSERT_EQ(metadata->tracks.size(), 2u);
        EXPECT_TRUE(metadata->tracks[0].sphericalUuid);
        EXPECT_FALSE(metadata->tracks[1].sa3d) << "the ears are no ambisonics";
    }
}

// A refused or stopped render leaves the folder as it was, an earlier
// output included.
TEST_F(BinauralRender, RefusalsAndStopsLeaveNothingBehind) {
    const std::string output = dir.Path("ears.m4a");
    std::ofstream(output) << "earlier output";
    std::ofstream(dir.Path("junk.sofa")) << "not a SOFA file";
    const auto before = dir.Entries();
    const auto unchanged = [&](const std::string& what) {
        auto now = dir.Entries();
        std::sort(now.begin(), now.end());
        auto then = before;
        std::sort(then.begin(), then.end());
        EXPECT_EQ(now, then) << what;
        std::ifstream in(output);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text, "earlier output") << what;
    };
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* said;
    } cases[] = {
        {{"--hrtf", dir.Path("missing.sofa")}, 1, "missing.sofa does not exist"},
        {{"--hrtf", dir.Path("junk.sofa")}, 1, "junk.sofa cannot be used"},
        {{"--look", "0:120"}, 2, "--look"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"--binaural", In("left.mp4"), output};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = RunProgram(arguments);
        EXPECT_EQ(run.status, c.status) << c.said << "\n" << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        unchanged(c.said);
    }
    // A movie without ambisonics: a stereo render is one.
    Render(In("left.mp4"), "stereo.mp4");
    const ProgramRun stereo = RunProgram({"--binaural", dir.Path("stereo.mp4"), output});
    EXPECT_EQ(stereo.status, 1);
    EXPECT_NE(stereo.err.find("no first-order ambisonic audio"), std::string::npos) << stereo.err;
    std::filesystem::remove(dir.Path("stereo.mp4"));
    unchanged("no ambisonics");

    // Stopped while it writes, in the middle of its work.
    TempDir side;
    for (const char* point : {"binaural-measured", "binaural-render", "binaural-mux"}) {
        const std::string marker = side.Path("paused");
        testing::SpawnedProgram program(
            {"--binaural", In("left.mp4"), output},
            {"LANGUAGE=en", std::string("SPATIALMUX_TEST_PAUSE_AT=") + point,
             "SPATIALMUX_TEST_PAUSE_FILE=" + marker},
            side.Path("printed"));
        ASSERT_TRUE(testing::WaitForFile(marker)) << point;
        program.Signal(SIGINT);
        EXPECT_EQ(program.Wait(), 128 + SIGINT) << point;
        std::filesystem::remove(marker);
        unchanged(point);
    }
}

}  // namespace
}  // namespace spatialmux
