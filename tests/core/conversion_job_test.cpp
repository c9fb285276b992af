// The job checks and the whole conversion, run in this process with a
// recording back end: what is refused, what is written, what is reported.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <mutex>
#include <optional>

#include "control/convert/wrap_ffmpeg.h"
#include "control/job/HumanSize.h"
#include "control/job/SpaceNeeded.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "support/BoxTree.h"
#include "support/CaptureStdout.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RecordingBackend.h"
#include "support/TempDir.h"
#include "support/TestEngine.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::RecordingBackend;
using testing::TempDir;

class FakeSpace : public platform::FileFacts {
public:
    FakeSpace(uint64_t fileSize, uint64_t freeSpace) : size(fileSize), free(freeSpace) {
        platform::InstallFileFacts(this);
    }
    ~FakeSpace() override { platform::InstallFileFacts(nullptr); }
    std::optional<uint64_t> Size(const std::string&) const override { return size; }
    std::optional<uint64_t> FreeSpace(const std::string&) const override { return free; }

private:
    uint64_t size;
    uint64_t free;
};

// Records every notification of one name while alive.
class Observed {
public:
    explicit Observed(const char* name,
                      std::function<void(const platform::Notification&)> also = nullptr)
        : subscription(platform::NotificationCenter::Default().AddObserver(
              name, [this, also](const platform::Notification& n) {
                  {
                      std::lock_guard<std::mutex> lock(mutex);
                      seen.push_back(n);
                  }
                  if (also) also(n);
              })) {}
    std::vector<platform::Notification> All() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

private:
    std::mutex mutex;
    std::vector<platform::Notification> seen;
    platform::Subscription subscription;  // last: removed before the records go
};

using testing::SmallMovie;

class ConversionJob : public ::testing::Test {
protected:
    void SetUp() override { platform::SetLanguage("en"); }
    void TearDown() override { platform::SetLanguage(""); }

    int32_t Run(const std::string& input, const std::string& output) {
        return wrap_ffmpeg().AppMainFuncProc(input, output, true);
    }
    std::string Alert(const char* key) { return platform::LocalizedString(key); }

    RecordingBackend backend;
    TempDir dir;
};

// The need of the edit or the remux (by default the engine the tests run),
// for an input the file facts say is `size` bytes long.
uint64_t NeedFor(const std::string& input, const std::string& folder, uint64_t size,
                 bool edit = !testing::TestsForceRemux()) {
    FakeSpace space(size, 0);
    MovieReader reader(kFrameSize);
    EXPECT_EQ(reader.Open(input, kFrameSize), MovieReader::kOpenReady);
    return SpaceNeeded(input, folder, reader, edit);
}

TEST_F(ConversionJob, FreeSpaceOfExactlyTheNeedPasses) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const uint64_t need = NeedFor(movie.path, dir.Root().string(), 1000000);
    {
        FakeSpace space(1000000, need);
        testing::CaptureStdout();
        EXPECT_EQ(Run(movie.path, dir.Path("out.mov")), 1);
        const std::string out = testing::CapturedStdout();
        EXPECT_NE(out.find("1000000.000000 " + std::to_string(need) + ".000000\n"),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);
    EXPECT_TRUE(backend.Alerts().empty());
}

TEST_F(ConversionJob, OneByteLessFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    const uint64_t need = NeedFor(movie.path, dir.Root().string(), 1000000);
    FakeSpace space(1000000, need - 1);
    testing::CaptureStdout();
    EXPECT_EQ(Run(movie.path, dir.Path("out.mov")), 0);
    const std::string out = testing::CapturedStdout();
    EXPECT_NE(out.find("1000000.000000 " + std::to_string(need - 1) + ".000000\n"),
              std::string::npos)
        << out;
    // The figures: what it needs, what is free, and how much more to free.
    std::string text = Alert("alert2");
    text = platform::FillPlaceholder(text, "{needed}", HumanSize(need));
    text = platform::FillPlaceholder(text, "{free}", HumanSize(need - 1));
    text = platform::FillPlaceholder(text, "{more}", HumanSize(1));
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{text});
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Refused);
    EXPECT_EQ(backend.terminations, 0);
}

// Either engine needs about what it writes: the remux the output, the WAV
// beside it and a margin, the edit one copy and the new moov. Not three
// times the input, which kept a 4 GB clip from a disk with 6 GB free.
TEST_F(ConversionJob, TheNeedIsWhatTheEngineWritesAndLittleMore) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(48000 * 4));
    const uint64_t size = movie.layout.fileSize;
    const uint64_t wav = 48000 * 4 * 8;
    for (const bool edit : {false, true}) {
        const uint64_t need = NeedFor(movie.path, dir.Root().string(), size, edit);
        EXPECT_GE(need, edit ? size : size + wav) << edit;
        EXPECT_LE(need, size + wav + (32u << 20)) << edit;
    }
    const uint64_t clip = uint64_t{4123} * 1000 * 1000;
    const uint64_t remux = NeedFor(movie.path, dir.Root().string(), clip, false);
    EXPECT_GE(remux, clip + wav);
    EXPECT_LE(remux, clip + clip / 20);
}

TEST_F(ConversionJob, MoviesTheReaderRefusesGetAlert3AndNothingIsWritten) {
    std::vector<std::pair<std::string, fixture::CameraMovieOptions>> refused;
    auto add = [&](const char* name, auto change) {
        auto options = SmallMovie(2048);
        change(options);
        refused.emplace_back(name, options);
    };
    add("stco.mp4", [](auto& o) { o.useStco = true; });
    add("44100.mp4", [](auto& o) { o.audioTimescale = 44100; });
    add("stereo.mp4", [](auto& o) { o.stszSampleSize = 4; });
    add("twos.mp4", [](auto& o) { o.audioFormat = "twos"; });
    add("mp4v.mp4", [](auto& o) { o.videoFormatOverride = "mp4v"; });
    for (const auto& [name, options] : refused) {
        TempDir own;
        const auto movie = testing::MakeMovie(own, name, options);
        const auto before = ReadFileBytes(movie.path);
        RecordingBackend local;
        testing::CaptureStdout();
        EXPECT_EQ(Run(movie.path, own.Path("out.mov")), 0) << name;
        const std::string out = testing::CapturedStdout();
        EXPECT_NE(out.find("error!!\n"), std::string::npos) << name;
        EXPECT_EQ(local.Alerts(), std::vector<std::string>{Alert("alert3")}) << name;
        EXPECT_EQ(own.Entries(), std::vector<std::string>{name}) << name;
        EXPECT_EQ(ReadFileBytes(movie.path), before) << name;
    }
}

TEST_F(ConversionJob, MissingInputIsRefusedNamingIt) {
    testing::CaptureStdout();
    EXPECT_EQ(Run(dir.Path("nothing.mp4"), dir.Path("out.mov")), 0);
    const std::string out = testing::CapturedStdout();
    EXPECT_NE(out.find("error!! " + dir.Path("nothing.mp4") + ": does not exist\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{"The input " + dir.Path("nothing.mp4") +
                                                         " does not exist. Nothing was written."});
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ConversionJob, AnOutputThatIsTheInputIsRefusedUnderAnyName) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(2048));
    const auto before = ReadFileBytes(movie.path);
    std::filesystem::create_symlink(movie.path, dir.Path("link.mov"));
    std::filesystem::create_directory(dir.Path("sub"));
    for (const std::string& output :
         {movie.path, dir.Path("link.mov"), dir.Path("sub/../in.mp4"), dir.Path("./in.mp4")}) {
        RecordingBackend local;
        testing::CaptureStdout();
        EXPECT_EQ(Run(movie.path, output), 0) << output;
        testing::CapturedStdout();
        EXPECT_EQ(local.Alerts(), std::vector<std::string>{Alert("alert7")}) << output;
        EXPECT_EQ(ReadFileBytes(movie.path), before) << output;
    }
    // Nor may the temporary WAV beside the output be the input.
    const auto wavNamed = testing::MakeMovie(dir, ".x.mov.wav", SmallMovie(2048));
    testing::CaptureStdout();
    EXPECT_EQ(Run(wavNamed.path, dir.Path("x.mov")), 0);
    testing::CapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(dir.Path("x.mov")));
}

TEST_F(ConversionJob, ProgressRisesInOrderFromTheWavPhaseToTheEnd) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(10240));
    Observed progress(platform::kProgressUpdateNotification);
    Observed start(platform::kForOrderFrontNotification);
    testing::CaptureStdout();
    ASSERT_EQ(Run(movie.path, dir.Path("out.mov")), 1);
    testing::CapturedStdout();
    ASSERT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);

    const auto starts = start.All();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].paths.size(), 3u);
    EXPECT_EQ(starts[0].paths[0], movie.path);
    EXPECT_EQ(starts[0].paths[1], dir.Path("out.mov"));
    // The run's own hidden file beside the output: the remux's temporary
    // WAV, or the copy the edit works in.
    const std::string scratch = starts[0].paths[2];
    EXPECT_EQ(scratch.rfind(dir.Path(".out.mov.spatialmux-"), 0), 0u) << scratch;
    EXPECT_EQ(scratch.substr(scratch.size() - 4), testing::TestsForceRemux() ? ".wav" : ".mov");

    const auto values = progress.All();
    if (!testing::TestsForceRemux()) {
        // The edit: the copy (running alongside) up to 20 percent and the
        // frames up to 80 more, at least one report per frame.
        ASSERT_GE(values.size(), 10u);
        EXPECT_LE(values.front().number, 28.0f);
        for (std::size_t i = 1; i < values.size(); ++i)
            EXPECT_GE(values[i].number, values[i - 1].number) << i;
        EXPECT_FLOAT_EQ(values.back().number, 100.0f);
        EXPECT_EQ(backend.terminations, 1);
        return;
    }
    ASSERT_GE(values.size(), 11u);
    // Nine ordinary frames, then the final frame that completes the WAV.
    const uint32_t wavPhase[] = {
        std::bit_cast<uint32_t>(5.0f),       std::bit_cast<uint32_t>(10.0f),
        std::bit_cast<uint32_t>(15.000001f), std::bit_cast<uint32_t>(20.0f),
        std::bit_cast<uint32_t>(25.0f),      std::bit_cast<uint32_t>(30.000002f),
        std::bit_cast<uint32_t>(35.0f),      std::bit_cast<uint32_t>(40.0f),
        std::bit_cast<uint32_t>(45.0f),      std::bit_cast<uint32_t>(50.0f)};
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(std::bit_cast<uint32_t>(values[i].number), wavPhase[i]) << i;
    for (std::size_t i = 1; i < values.size(); ++i)
        EXPECT_GE(values[i].number, values[i - 1].number) << i;
    EXPECT_FLOAT_EQ(values.back().number, 100.0f);
    EXPECT_EQ(backend.terminations, 1);
}

// An engine that falls back to the remux after work of its own: the
// remux's 0 to 100 % continues from where the progress stood.
TEST_F(ConversionJob, ProgressContinuesAcrossAFallbackInsteadOfStartingAgain) {
    Observed progress(platform::kProgressUpdateNotification);
    wrap_ffmpeg controller;
    controller.myProgRate_update(40.0f);
    controller.ContinueProgress();
    for (const float remux : {0.0f, 50.0f, 100.0f}) controller.myProgRate_update(remux);
    std::vector<float> shown;
    for (const auto& value : progress.All()) shown.push_back(value.number);
    EXPECT_EQ(shown, (std::vector<float>{40.0f, 40.0f, 70.0f, 100.0f}));
}

TEST_F(ConversionJob, WavDeletedDuringTheWavPhaseStopsTheJobAndLeavesNothing) {
    if (!testing::TestsForceRemux()) GTEST_SKIP() << "the WAV belongs to the remux engine";
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(48000));
    const auto before = ReadFileBytes(movie.path);
    int count = 0;
    std::string wav;
    Observed start(platform::kForOrderFrontNotification,
                   [&](const platform::Notification& n) { wav = n.paths.at(2); });
    Observed progress(platform::kProgressUpdateNotification, [&](const platform::Notification&) {
        if (++count == 3) std::filesystem::remove(wav);
    });
    testing::CaptureStdout();
    EXPECT_EQ(Run(movie.path, dir.Path("out.mov")), 1);
    testing::CapturedStdout();
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Failed);
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{Alert("alert5")});
    EXPECT_LE(progress.All().size(), 3u);
    EXPECT_GE(backend.terminations, 1);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
    EXPECT_EQ(ReadFileBytes(movie.path), before);
}

TEST_F(ConversionJob, InputRemovedAfterTheWavPhaseFailsCleanly) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(8192));
    Observed progress(platform::kProgressUpdateNotification, [&](const platform::Notification& n) {
        if (n.number >= 50.0f) std::filesystem::remove(movie.path);
    });
    testing::CaptureStdout();
    EXPECT_EQ(Run(movie.path, dir.Path("out.mov")), 1);
    testing::CapturedStdout();
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Failed);
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{Alert("alert5")});
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(ConversionJob, MissingOutputFolderIsRefusedBeforeAnyWork) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    testing::CaptureStdout();
    EXPECT_EQ(Run(movie.path, dir.Path("no/such/folder/out.mov")), 0);
    const std::string out = testing::CapturedStdout();
    EXPECT_NE(
        out.find("error!! " + dir.Path("no/such/folder/out.mov") + ": the folder does not exist\n"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("write file name"), std::string::npos) << out;
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Refused);
    EXPECT_EQ(backend.Alerts(),
              std::vector<std::string>{"The folder " + dir.Path("no/such/folder") +
                                       " of the output " + dir.Path("no/such/folder/out.mov") +
                                       " does not exist. Nothing was written."});
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
}

TEST_F(ConversionJob, CancelStopsTheJobAndRemovesWhatItWrote) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(48000));
    Observed progress(platform::kProgressUpdateNotification, [&](const platform::Notification& n) {
        if (n.number > 10.0f) wrap_ffmpeg::RequestCancel();
    });
    testing::CaptureStdout();
    EXPECT_EQ(Run(movie.path, dir.Path("out.mov")), 1);
    testing::CapturedStdout();
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Cancelled);
    EXPECT_TRUE(backend.Alerts().empty());
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mp4"});
}

TEST_F(ConversionJob, AnOutputNameOfNoKnownContainerIsRefusedAndAFileThereStays) {
    const auto movie = testing::MakeMovie(dir, "in.mp4", SmallMovie(4096));
    for (const std::string name : {"keep.unknownext", "keep.mkv", "keep"}) {
        const std::string output = dir.Path(name);
        { std::ofstream(output) << "precious"; }
        RecordingBackend local;
        testing::CaptureStdout();
        EXPECT_EQ(Run(movie.path, output), 0) << name;
        const std::string out = testing::CapturedStdout();
        EXPECT_NE(out.find("name the output .mov (PCM audio) or .mp4 (AAC or Opus audio)"),
                  std::string::npos)
            << out;
        EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Refused);
        ASSERT_EQ(local.Alerts().size(), 1u);
        EXPECT_NE(local.Alerts()[0].find(output), std::string::npos);
        const auto kept = ReadFileBytes(output);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");
        EXPECT_EQ(dir.Entries().size(), 2u) << name;  // the input and the file kept
        std::filesystem::remove(output);
    }
}

}  // namespace
}  // namespace spatialmux
