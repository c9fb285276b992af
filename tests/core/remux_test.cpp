// The remux: the movie's video and the temporary WAV's audio copied into the
// output without loss, every failure reported, progress and cancel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "audio/WavWriter.h"
#include "control/convert/JobState.h"
#include "control/convert/wrap_ffmpeg.h"
#include "output/Remux.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "support/CaptureStdout.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RecordingBackend.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::ReadMediaPackets;
using testing::StreamPackets;
using testing::TempDir;

// Writes `instants` sampling instants of a known pattern with the writer the
// conversion uses.
void WriteWav(const std::string& path, int32_t instants) {
    std::vector<std::vector<float>> channels(4, std::vector<float>(1024));
    WavWriter writer;
    testing::CaptureStdout();
    writer.Open(path);
    for (int32_t done = 0; done < instants; done += 1024) {
        for (int c = 0; c < 4; ++c) {
            for (int i = 0; i < 1024; ++i) {
                channels[c][i] = static_cast<float>(((done + i) * (c + 3)) % 2000 - 1000) / 1024.0f;
            }
        }
        writer.WriteFrame(channels[0].data(), channels[1].data(), channels[2].data(),
                          channels[3].data(), std::min(1024, instants - done));
    }
    const bool finished = writer.Finish();
    testing::CapturedStdout();
    ASSERT_TRUE(finished);
}

void ResetCancel() {
    job_state::TryBegin();
    job_state::End(JobResult::None);
}

class Remux : public ::testing::Test {
protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_QUIET);
        ResetCancel();
        subscription = platform::NotificationCenter::Default().AddObserver(
            platform::kProgressUpdateNotification, [this](const platform::Notification& n) {
                progress.push_back(n.number);
                if (cancelAtFirstProgress) wrap_ffmpeg::RequestCancel();
                if (onProgress) std::exchange(onProgress, nullptr)();
            });
    }
    void TearDown() override {
        subscription.Reset();
        ResetCancel();
    }

    // A one-second camera movie: 30 video frames.
    std::string Movie() {
        fixture::CameraMovieOptions options;
        options.totalSamples = 48000;
        return testing::MakeMovie(dir, "input.mov", options).path;
    }

    int32_t Run(const std::string& movie, const std::string& wav, const std::string& out,
                std::string* printed = nullptr) {
        testing::CaptureStdout();
        const int32_t result = controller.ffmpegMuxer(movie, wav, out, &outputOpened);
        std::fflush(stdout);
        const std::string text = testing::CapturedStdout();
        if (printed != nullptr) *printed = text;
        return result;
    }

    TempDir dir;
    testing::RecordingBackend backend;
    wrap_ffmpeg controller;
    std::vector<float> progress;
    bool cancelAtFirstProgress = false;
    std::function<void()> onProgress;  // run once, at the first progress
    bool outputOpened = false;
    platform::Subscription subscription;
};

// WAV lengths around the video's one second: both inputs must arrive whole.
class RemuxLengths : public Remux, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RemuxLengths, CopiesEveryPacketOfBothInputs) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mov.wav");
    const std::string out = dir.Path("out.mov");
    WriteWav(wav, GetParam());

    std::string printed;
    ASSERT_EQ(Run(movie, wav, out, &printed), 0);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(backend.Alerts().empty());
    EXPECT_TRUE(outputOpened);

    const std::vector<StreamPackets> input = ReadMediaPackets(movie);
    const std::vector<StreamPackets> output = ReadMediaPackets(out);
    ASSERT_EQ(output.size(), 2u);
    const StreamPackets& video = output[0];
    const StreamPackets& audio = output[1];
    EXPECT_EQ(video.type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(audio.type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio.codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(audio.channels, 4);
    EXPECT_EQ(audio.channelMask, uint64_t{AV_CH_LAYOUT_4POINT0});
    EXPECT_EQ(audio.sampleRate, 48000);

    const StreamPackets* source = nullptr;
    for (const StreamPackets& s : input) {
        if (s.type == AVMEDIA_TYPE_VIDEO) {
            source = &s;
            break;
        }
    }
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(video.codec, source->codec);
    ASSERT_EQ(video.packets.size(), source->packets.size());
    for (std::size_t i = 0; i < video.packets.size(); ++i) {
        EXPECT_EQ(video.packets[i].data, source->packets[i].data) << i;
        EXPECT_EQ(av_compare_ts(video.packets[i].pts, video.timeBase, source->packets[i].pts,
                                source->timeBase),
                  0)
            << i;
        EXPECT_EQ(av_compare_ts(video.packets[i].dts, video.timeBase, source->packets[i].dts,
                                source->timeBase),
                  0)
            << i;
    }
    const std::vector<uint8_t> wavBytes = ReadFileBytes(wav);
    EXPECT_EQ(audio.Bytes(), std::vector<uint8_t>(wavBytes.begin() + 44, wavBytes.end()));

    // Progress: the second half of the scale, never backwards, ending full.
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_GE(progress[i], 50.0f) << i;
        EXPECT_LE(progress[i], 100.0f) << i;
        if (i > 0) {
            EXPECT_GE(progress[i], progress[i - 1]) << i;
        }
    }
    EXPECT_EQ(progress.back(), 100.0f);
}

INSTANTIATE_TEST_SUITE_P(WavAgainstVideo, RemuxLengths,
                         ::testing::Values(72 * 1024,          // 1.5 s: audio outlasts the video
                                           24 * 1024,          // 0.5 s: video outlasts the audio
                                           47 * 1024 + 500));  // a partial last frame

TEST_F(Remux, EveryFailureIsReportedOnceWithTheAlert) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mov.wav");
    WriteWav(wav, 4096);
    const std::string missing = dir.Path("missing.mov");
    const std::string noFolder = dir.Path("no folder/out.mov");
    const struct {
        const char* what;
        std::string movie, wav, out;
        std::string message;
        bool opened;
    } cases[] = {
        {"missing movie", missing, wav, dir.Path("a.mov"),
         "Could not open input file:" + missing + "\n", false},
        {"missing WAV", movie, missing, dir.Path("b.mov"),
         "Could not open input file:" + missing + "\n", false},
        {"unknown extension", movie, wav, dir.Path("out.xyz"), "Could not create output context.\n",
         false},
        {"folder that does not exist", movie, wav, noFolder,
         "Could not open output file '" + noFolder + "'\n", false},
        {"movie without video", wav, wav, dir.Path("c.mov"), "", false},
    };
    const std::string alert = platform::LocalizedString("alert5");
    ASSERT_FALSE(alert.empty());
    for (const auto& c : cases) {
        const std::size_t alertsBefore = backend.Alerts().size();
        std::string printed;
        EXPECT_EQ(Run(c.movie, c.wav, c.out, &printed), -1) << c.what;
        EXPECT_EQ(printed, c.message + "Error occurred.\n") << c.what;
        const std::vector<std::string> alerts = backend.Alerts();
        ASSERT_EQ(alerts.size(), alertsBefore + 1) << c.what;
        EXPECT_EQ(alerts.back(), alert) << c.what;
        EXPECT_EQ(outputOpened, c.opened) << c.what;
        EXPECT_FALSE(std::filesystem::exists(c.out)) << c.what;
    }
    EXPECT_TRUE(progress.empty());
}

TEST_F(Remux, AContainerRefusingTheStreamsIsReported) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mp4.wav");
    WriteWav(wav, 4096);
    std::string printed;
    // MP4 has no tag for 16-bit PCM: the header cannot be written.
    EXPECT_EQ(Run(movie, wav, dir.Path("out.mp4"), &printed), -1);
    EXPECT_EQ(printed, "Error occurred when opening output file\nError occurred.\n");
    EXPECT_EQ(backend.Alerts().size(), 1u);
    EXPECT_TRUE(outputOpened);
}

TEST_F(Remux, APacketThatCannotBeWrittenFailsTheRemux) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mov.wav");
    WriteWav(wav, 48 * 1024);
    const std::string out = dir.Path("out.mov");
    const std::string printedPath = dir.Path("printed.txt");
    // A file size limit lets the header through and stops the packets.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int printedFile = open(printedPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (printedFile < 0 || dup2(printedFile, STDOUT_FILENO) < 0) _exit(1);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const int32_t result = controller.ffmpegMuxer(movie, wav, out);
        std::fflush(stdout);
        _exit((result == -1 ? 10 : 20) + static_cast<int>(backend.Alerts().size()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 11);  // failure, one alert
    const std::vector<uint8_t> printed = ReadFileBytes(printedPath);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "Error muxing packet\n");
}

TEST_F(Remux, AMovieCutShortDuringTheCopyFailsTheRemux) {
    fixture::CameraMovieOptions options;
    options.totalSamples = 96000;
    options.videoBytesPerFrame = 20000;
    const testing::TestMovie movie = testing::MakeMovie(dir, "input.mov", options);
    const std::string wav = dir.Path(".out.mov.wav");
    WriteWav(wav, 94 * 1024);
    ASSERT_GT(movie.layout.moovOffset, movie.layout.mdatOffset);
    onProgress = [&movie] {
        std::filesystem::resize_file(
            movie.path,
            movie.layout.mdatOffset + (movie.layout.moovOffset - movie.layout.mdatOffset) / 2);
    };
    std::string printed;
    EXPECT_EQ(Run(movie.path, wav, dir.Path("out.mov"), &printed), -1);
    EXPECT_EQ(printed, "Error reading packet\n");
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{platform::LocalizedString("alert5")});
}

TEST_F(Remux, CancelStopsWritingWithoutAnAlert) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mov.wav");
    WriteWav(wav, 48 * 1024);
    cancelAtFirstProgress = true;
    std::string printed;
    EXPECT_EQ(Run(movie, wav, dir.Path("out.mov"), &printed), -2);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(backend.Alerts().empty());
    EXPECT_EQ(progress.size(), 1u);
    EXPECT_TRUE(outputOpened);
}

// The remux on its own, with a job that records what it is told: the
// progress stays inside its total and never goes back, and a failure names
// its cause without any alert (alerts belong to the controller).
class RecordingRemuxJob final : public output::RemuxJob {
public:
    void Progress(int64_t done, int64_t total) override { progress.emplace_back(done, total); }
    bool Cancelled() override { return cancelAfter >= 0 && progress.size() >= size_t(cancelAfter); }
    void Diagnostic(const std::string& text) override { diagnostics += text; }

    std::vector<std::pair<int64_t, int64_t>> progress;
    std::string diagnostics;
    int cancelAfter = -1;
};

// Every report within its total and none going back; the last one reached.
int64_t ExpectProgressRises(const RecordingRemuxJob& job) {
    int64_t last = 0;
    for (const auto& [reached, total] : job.progress) {
        EXPECT_GT(total, 0);
        EXPECT_LE(reached, total);
        EXPECT_GE(reached, last);
        last = reached;
    }
    return last;
}

TEST_F(Remux, ReportsProgressDiagnosticsAndCancelThroughItsJob) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mov.wav");
    WriteWav(wav, 48 * 1024);

    RecordingRemuxJob whole;
    // Written into a file of any name; the container follows the name given
    // for it (the final output's).
    const auto done =
        output::Remux({movie, wav, dir.Path(".whole.partial"), dir.Path("whole.mov"), -1}, whole);
    EXPECT_EQ(done.status, output::RemuxStatus::Completed);
    EXPECT_EQ(testing::ReadMediaPackets(dir.Path(".whole.partial")).size(), 2u);
    // Through a descriptor of the caller's: the same bytes, the descriptor
    // left open, and the name given only for messages.
    {
        const int fd = open(dir.Path(".by-fd").c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        RecordingRemuxJob byFd;
        const auto written = output::Remux(
            {movie, wav, dir.Path("never-opened.mov"), dir.Path("whole.mov"), fd}, byFd);
        EXPECT_EQ(written.status, output::RemuxStatus::Completed) << byFd.diagnostics;
        EXPECT_EQ(fcntl(fd, F_GETFD), 0) << "the descriptor was closed";
        close(fd);
        EXPECT_FALSE(std::filesystem::exists(dir.Path("never-opened.mov")));
        EXPECT_EQ(testing::ReadFileBytes(dir.Path(".by-fd")),
                  testing::ReadFileBytes(dir.Path(".whole.partial")));
    }
    EXPECT_TRUE(done.outputCreated);
    EXPECT_EQ(whole.diagnostics, "");
    ASSERT_FALSE(whole.progress.empty());
    ExpectProgressRises(whole);

    RecordingRemuxJob cancelled;
    cancelled.cancelAfter = 2;
    const auto stopped = output::Remux({movie, wav, dir.Path("stopped.mov"), {}, -1}, cancelled);
    EXPECT_EQ(stopped.status, output::RemuxStatus::Cancelled);
    EXPECT_TRUE(stopped.outputCreated);
    EXPECT_EQ(cancelled.progress.size(), 2u);

    RecordingRemuxJob missing;
    const std::string gone = dir.Path("gone.wav");
    const auto failed = output::Remux({movie, gone, dir.Path("never.mov"), {}, -1}, missing);
    EXPECT_EQ(failed.status, output::RemuxStatus::Failed);
    EXPECT_FALSE(failed.outputCreated);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("never.mov")));
    EXPECT_EQ(missing.diagnostics, "Could not open input file:" + gone + "\nError occurred.\n");
    EXPECT_TRUE(backend.Alerts().empty());
    EXPECT_TRUE(progress.empty());
}

// Encoding runs inside the remux's packet loop: the same progress through
// the whole WAV, the same cancel between packets.
TEST_F(Remux, EncodingReportsProgressToTheEndAndStopsWhenCancelled) {
    const std::string movie = Movie();
    const std::string wav = dir.Path(".out.mp4.wav");
    WriteWav(wav, 48 * 1024);
    const output::AudioEncoding aac{output::AudioCodec::Aac, 512000};

    RecordingRemuxJob whole;
    const auto done = output::Remux({movie, wav, dir.Path("whole.mp4"), "", -1, aac}, whole);
    EXPECT_EQ(done.status, output::RemuxStatus::Completed);
    EXPECT_EQ(whole.diagnostics, "");
    ASSERT_FALSE(whole.progress.empty());
    const int64_t last = ExpectProgressRises(whole);
    EXPECT_GT(last, whole.progress.back().second * 9 / 10) << "progress must reach the end";
    const auto out = ReadMediaPackets(dir.Path("whole.mp4"));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].codec, AV_CODEC_ID_AAC);

    RecordingRemuxJob cancelled;
    cancelled.cancelAfter = 2;
    const auto stopped =
        output::Remux({movie, wav, dir.Path("stopped.mp4"), "", -1, aac}, cancelled);
    EXPECT_EQ(stopped.status, output::RemuxStatus::Cancelled);
}

}  // namespace
}  // namespace spatialmux
