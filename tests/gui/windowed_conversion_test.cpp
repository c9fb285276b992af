#include <gtest/gtest.h>

#include <ostream>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "GuiTestSupport.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/TemporaryNames.h"
#include "control/movieinfo/MovieCheck.h"
#include "shell/SoundMapOffer.h"
#include "support/MediaPackets.h"

namespace spatialmux::guitest {
namespace {

// What the test saw of the progress window while the session ran.
struct SeenWindow {
    bool visibleAtStart = false;
    std::string labelAtStart;
    std::vector<std::string> startPaths;
    std::vector<double> progress;
    double lastShownProgress = -1.0;
};

class WindowedConversionTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        input = dir.filePath("trip 01.MP4").toStdString();
        output = dir.filePath("trip 01.mov").toStdString();
        wav = TemporaryWavPath(output);
    }

    // Records the window at the start of the conversion and every progress
    // value in the order of arrival. Called when the session has started, so
    // that these observers run after the window's own.
    void WatchWindow() {
        front = platform::NotificationCenter::Default().AddObserver(
            platform::kForOrderFrontNotification, [this](const platform::Notification& n) {
                seen.startPaths = n.paths;
                if (ViewController* window = CurrentProgressWindow()) {
                    seen.visibleAtStart = window->isVisible();
                    seen.labelAtStart = window->LabelText().toStdString();
                }
            });
        progress = platform::NotificationCenter::Default().AddObserver(
            platform::kProgressUpdateNotification, [this](const platform::Notification& n) {
                seen.progress.push_back(n.number);
                if (ViewController* window = CurrentProgressWindow()) {
                    seen.lastShownProgress = window->ProgressValue();
                }
            });
    }

    QTemporaryDir dir;
    std::string input, output, wav;
    RecordingBackend backend;
    SeenWindow seen;
    platform::Subscription front, progress;
};

// A movie that says neither what its four channels are nor that its video
// is 360: the droplet asks both before the save dialog and converts as the
// answers say; Cancel at a question says so, and nothing is written.
TEST_F(WindowedConversionTest, AsksWhatAMovieDoesNotSayBeforeTheSaveDialog) {
    const std::string foa = dir.filePath("foa.mp4").toStdString();
    ASSERT_NO_FATAL_FAILURE(WriteUndeclaredFumaMovie(foa));
    {
        RecordingBackend cancelling;
        FakeSaveDialog dialog(output);
        dialog.channels = AmbisonicsChoice::FuMa;  // and Cancel at the projection
        ASSERT_TRUE(RunSession(cancelling, dialog, std::vector<std::string>{foa}));
        EXPECT_EQ(dialog.asked, (std::vector<std::string>{"channels", "projection"}));
        EXPECT_EQ(cancelling.Notices(), Texts({"notice.cancelled"}));
        EXPECT_EQ(cancelling.Alerts(), std::vector<std::string>{});
        EXPECT_FALSE(FileExists(output));
    }
    FakeSaveDialog dialog(output);
    dialog.channels = AmbisonicsChoice::FuMa;
    dialog.equirectangular = true;
    ASSERT_TRUE(RunSession(backend, dialog, std::vector<std::string>{foa}));
    EXPECT_EQ(dialog.asked, (std::vector<std::string>{"channels", "projection", "save"}));
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);
    // Shown in the progress window as a camera movie is, it is said written.
    const std::vector<std::string> notices = backend.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(output), std::string::npos) << notices[0];
    const CheckReport report = CheckMovieFile(output);
    EXPECT_EQ(report.spatial, "first-order ambisonics, declared");
    EXPECT_TRUE(report.ready) << ::testing::PrintToString(report.notReady);
}

TEST_F(WindowedConversionTest, ConvertsLikeTheCommandLineWithTheProgressWindowShown) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(input, 3, &error)) << error;
    FakeSaveDialog dialog(dir.filePath("trip 01").toStdString());  // bare name: ".mov" added

    ASSERT_TRUE(
        RunSession(backend, dialog, std::vector<std::string>{input}, [this] { WatchWindow(); }));

    EXPECT_EQ(dialog.lastProposedName, "trip 01");
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
    // Success is said before the application quits, naming the movie.
    const std::vector<std::string> notices = backend.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(dir.filePath("trip 01.mov").toStdString()), std::string::npos)
        << notices[0];
    EXPECT_EQ(backend.terminations, 1);  // the worker's, at its end
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);
    EXPECT_FALSE(wrap_ffmpeg::JobRunning());

    EXPECT_TRUE(seen.visibleAtStart);
    EXPECT_EQ(seen.labelAtStart, "input: trip 01.MP4\noutput: trip 01.mov");
    ASSERT_EQ(seen.startPaths.size(), 3u);
    EXPECT_EQ(seen.startPaths[0], input);
    EXPECT_EQ(seen.startPaths[1], output);
    wav = seen.startPaths[2];  // this run's own hidden WAV
    EXPECT_EQ(wav.rfind(dir.filePath(".trip 01.mov.spatialmux-").toStdString(), 0), 0u) << wav;
    ASSERT_FALSE(seen.progress.empty());
    EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));
    EXPECT_GE(seen.progress.front(), 0.0);
    EXPECT_EQ(seen.progress.back(), 100.0);
    EXPECT_TRUE(std::any_of(seen.progress.begin(), seen.progress.end(),
                            [](double v) { return v > 0 && v < 50; }));
    EXPECT_TRUE(std::any_of(seen.progress.begin(), seen.progress.end(),
                            [](double v) { return v > 50 && v < 100; }));
    EXPECT_EQ(seen.lastShownProgress, 100.0);

    EXPECT_FALSE(FileExists(wav));
    ASSERT_TRUE(FileExists(output));

    // The same movie converted on the command line gives the same bytes.
    const std::string cliOutput = dir.filePath("cli.mov").toStdString();
    QProcess cli;
    cli.start(QStringLiteral(SPATIALMUX_BINARY),
              {QString::fromStdString(input), QString::fromStdString(cliOutput)});
    ASSERT_TRUE(cli.waitForFinished(300000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0);
    const std::string windowed = ReadWholeFile(output);
    EXPECT_FALSE(windowed.empty());
    EXPECT_TRUE(windowed == ReadWholeFile(cliOutput)) << "the outputs differ";
}

// After a conversion the notice offers the sound map and the headphone
// render (the finished window behind it has nothing left to cancel);
// chosen, the map or the render is written beside the movie and handed to
// the desktop's viewer or player, and when none opens it the user is told
// where it is.
class RecordingSoundMapOffer : public SoundMapOffer {
public:
    RecordingSoundMapOffer(Choice chosen, bool desktopOpens)
        : choice(chosen), opens(desktopOpens) {}
    Choice Ask(const std::string& text) override {
        asked.push_back(text);
        if (const ViewController* window = CurrentProgressWindow()) {
            cancelEnabled = window->CancelEnabled();
        }
        return choice;
    }
    bool Open(const std::string& path) override {
        opened.push_back(path);
        return opens;
    }
    bool Rendering(float percent) override {
        rendering.push_back(percent);
        return true;
    }
    void RenderingEnded() override { ++ended; }
    bool Play(const std::string& path) override {
        played.push_back(path);
        return opens;
    }
    Choice choice;
    bool opens;
    bool cancelEnabled = true;
    std::vector<std::string> asked;
    std::vector<std::string> opened;
    std::vector<float> rendering;
    int ended = 0;
    std::vector<std::string> played;
};

TEST_F(WindowedConversionTest, TheSoundMapAndTheHeadphoneRenderAreOfferedAndOpenedWhenChosen) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(input, 2, &error)) << error;
    const std::string map = dir.filePath("trip 01.soundmap.png").toStdString();
    const std::string render = dir.filePath("trip 01.binaural.m4a").toStdString();
    using Choice = SoundMapOffer::Choice;
    const struct {
        Choice choice;
        bool opens;
        const char* what;
    } cases[] = {{Choice::Dismiss, true, "declined"},
                 {Choice::SoundMap, true, "sound map"},
                 {Choice::SoundMap, false, "sound map without a viewer"},
                 {Choice::Listen, true, "listen"},
                 {Choice::Listen, false, "listen without a player"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(QString::fromStdString(map));
        QFile::remove(QString::fromStdString(render));
        FakeSaveDialog dialog(output);
        RecordingSoundMapOffer offer(c.choice, c.opens);
        const std::size_t alertsBefore = backend.Alerts().size();
        const std::size_t noticesBefore = backend.Notices().size();
        ASSERT_TRUE(RunSession(backend, dialog, std::vector<std::string>{input}, nullptr, &offer));
        ASSERT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);
        ASSERT_EQ(offer.asked.size(), 1u);
        EXPECT_NE(offer.asked[0].find(output), std::string::npos) << offer.asked[0];
        EXPECT_FALSE(offer.cancelEnabled);
        std::vector<std::string> alerts = backend.Alerts();
        alerts.erase(alerts.begin(), alerts.begin() + static_cast<std::ptrdiff_t>(alertsBefore));
        std::vector<std::string> notices = backend.Notices();
        notices.erase(notices.begin(),
                      notices.begin() + static_cast<std::ptrdiff_t>(noticesBefore));
        const bool mapped = c.choice == Choice::SoundMap;
        const bool listened = c.choice == Choice::Listen;
        EXPECT_EQ(offer.opened,
                  mapped ? std::vector<std::string>{map} : std::vector<std::string>{});
        EXPECT_EQ(FileExists(map), mapped);
        EXPECT_EQ(FileExists(render), listened);
        EXPECT_EQ(offer.played,
                  listened ? std::vector<std::string>{render} : std::vector<std::string>{});
        EXPECT_EQ(offer.ended, listened ? 1 : 0);
        if (listened) {
            EXPECT_TRUE(std::is_sorted(offer.rendering.begin(), offer.rendering.end()));
            ASSERT_FALSE(offer.rendering.empty());
            EXPECT_EQ(offer.rendering.back(), 100.0f);
        }
        // The offer is the notice; a map no viewer opened is named in an
        // alert, a render no player took in a notice of its own.
        if (mapped && !c.opens) {
            ASSERT_EQ(alerts.size(), 1u);
            EXPECT_NE(alerts[0].find(map), std::string::npos) << alerts[0];
        } else {
            EXPECT_EQ(alerts, std::vector<std::string>{});
        }
        if (listened && !c.opens) {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_NE(notices[0].find(render), std::string::npos) << notices[0];
        } else {
            EXPECT_EQ(notices, std::vector<std::string>{});
        }
    }
}

// The save dialog's MP4 (AAC) filter gives a name ending in .mp4: the same
// worker thread encodes the audio, with progress through the remux half.
TEST_F(WindowedConversionTest, AnMp4NameFromTheDialogGetsAacAudioWithProgress) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(input, 3, &error)) << error;
    const std::string mp4 = dir.filePath("trip 01.mp4").toStdString();
    FakeSaveDialog dialog(mp4);

    ASSERT_TRUE(
        RunSession(backend, dialog, std::vector<std::string>{input}, [this] { WatchWindow(); }));

    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Succeeded);
    ASSERT_FALSE(seen.progress.empty());
    EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));
    EXPECT_EQ(seen.progress.back(), 100.0);
    EXPECT_TRUE(std::any_of(seen.progress.begin(), seen.progress.end(),
                            [](double v) { return v > 50 && v < 100; }));
    EXPECT_FALSE(FileExists(TemporaryWavPath(mp4)));
    const auto streams = spatialmux::testing::ReadMediaPackets(mp4);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[1].codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(streams[1].channels, 4);
}

struct CancelCase {
    const char* name;
    double cancelAbove;  // the progress value after which Cancel is pressed
};

void PrintTo(const CancelCase& c, std::ostream* os) {
    *os << c.name;
}

class CancelDuringConversionTest : public WindowedConversionTest,
                                   public testing::WithParamInterface<CancelCase> {};

TEST_P(CancelDuringConversionTest, LeavesNoWavNoOutputAndTheInputUnchanged) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(input, 60, &error)) << error;
    const std::string before = ReadWholeFile(input);
    FakeSaveDialog dialog(output);
    std::atomic<bool> pressed{false};
    // A worker faster than the user: once Cancel is being pressed, it cannot
    // go past its next progress report before the press has reached it.
    backend.onPostFromWorker = [&pressed] {
        while (pressed && !wrap_ffmpeg::CancelRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    double pressedAt = -1.0;
    platform::Subscription press;
    auto onStart = [&] {
        WatchWindow();
        press = platform::NotificationCenter::Default().AddObserver(
            platform::kProgressUpdateNotification, [&](const platform::Notification& n) {
                ViewController* window = CurrentProgressWindow();
                if (pressed || window == nullptr || n.number <= GetParam().cancelAbove) return;
                pressed = true;
                pressedAt = n.number;
                // Pressed as the user would: once this delivery is over.
                QMetaObject::invokeMethod(
                    window, [window] { window->CancelBtn(); }, Qt::QueuedConnection);
            });
    };

    ASSERT_TRUE(RunSession(backend, dialog, std::vector<std::string>{input}, onStart));
    press.Reset();

    ASSERT_TRUE(pressed);
    EXPECT_LT(pressedAt, GetParam().cancelAbove + 50.0);
    EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Cancelled);
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
    // Cancel is no success: the one word after it says that nothing was kept.
    EXPECT_EQ(backend.Notices(), Texts({"notice.cancelled"}));
    EXPECT_GE(backend.terminations, 1);
    EXPECT_FALSE(FileExists(output));
    // Nothing of the run is left, hidden files included.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("trip 01.MP4")});
    EXPECT_TRUE(ReadWholeFile(input) == before) << "the input changed";
    EXPECT_LT(seen.progress.back(), 100.0);
}

INSTANTIATE_TEST_SUITE_P(Phases, CancelDuringConversionTest,
                         testing::Values(CancelCase{"WhileWritingTheWav", 0.0},
                                         CancelCase{"WhileRemuxing", 50.0}),
                         [](const testing::TestParamInfo<CancelCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace spatialmux::guitest
