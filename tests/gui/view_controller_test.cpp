#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <thread>

#include "GuiTestSupport.h"
#include "control/convert/wrap_ffmpeg.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux::guitest {
namespace {

platform::Notification Front(const std::string& input, const std::string& output,
                             const std::string& wav) {
    platform::Notification n;
    n.name = platform::kForOrderFrontNotification;
    n.paths = {input, output, wav};
    return n;
}

platform::Notification Progress(float percent) {
    platform::Notification n;
    n.name = platform::kProgressUpdateNotification;
    n.number = percent;
    return n;
}

class ViewControllerTest : public testing::Test {
protected:
    void SetUp() override { platform::InstallBackend(&backend); }
    void TearDown() override {
        backend.WaitForDetachedThreads();
        platform::InstallBackend(nullptr);
    }
    void Post(const platform::Notification& n) {
        platform::NotificationCenter::Default().PostOnMainThread(n);
        QCoreApplication::processEvents();
    }

    RecordingBackend backend;
};

TEST_F(ViewControllerTest, HidesAtItsFirstAppearanceButNotLater) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isVisible());

    Post(Front("/Volumes/card/trip01.MP4", "/home/me/Movies/trip01.mov",
               "/home/me/Movies/.trip01.mov.wav"));
    EXPECT_TRUE(window.isVisible());
    // Really on the screen this time, not only shown to itself.
    EXPECT_FALSE(window.testAttribute(Qt::WA_DontShowOnScreen));
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.windowHandle()->isVisible());

    platform::Notification out;
    out.name = platform::kForOrderOutNotification;
    Post(out);
    EXPECT_FALSE(window.isVisible());
}

// The start of a conversion that overtakes the launch appearance must not
// be hidden by it.
TEST_F(ViewControllerTest, AConversionStartingBeforeTheLaunchHidingStaysShown) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    platform::NotificationCenter::Default().Post(
        Front("/in/a.MP4", "/out/a.mov", "/out/.a.mov.wav"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.testAttribute(Qt::WA_DontShowOnScreen));
}

TEST_F(ViewControllerTest, LabelNamesTheFilesOnlyAndTheBarShowsFractionalPercentages) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    QCoreApplication::processEvents();

    Post(Front("/Volumes/card/trip01.MP4", "/home/me/Movies/trip01.mov",
               "/home/me/Movies/.trip01.mov.wav"));
    EXPECT_EQ(window.LabelText().toStdString(), "input: trip01.MP4\noutput: trip01.mov");

    Post(Progress(62.5f));
    EXPECT_DOUBLE_EQ(window.ProgressValue(), 62.5);
    EXPECT_EQ(window.ProgressText().toStdString(), "62.5%");

    // A second start replaces the paths and the label.
    Post(Front("/in/b c.mp4", "/out/<b>d.mov", "/out/.<b>d.mov.wav"));
    EXPECT_EQ(window.LabelText().toStdString(), "input: b c.mp4\noutput: <b>d.mov");
    EXPECT_EQ(window.OutputPath(), "/out/<b>d.mov");
    EXPECT_EQ(window.WavPath(), "/out/.<b>d.mov.wav");
}

// However long the names, the window keeps its size and each line fits it,
// the name cut in the middle; the labels speak the user's language.
TEST_F(ViewControllerTest, LongNamesAreElidedInTheMiddleOfAFixedSizeWindow) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    QCoreApplication::processEvents();
    const QSize size = window.size();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());

    const std::string longName = "trip-" + std::string(300, 'x') + "-end.MP4";
    Post(Front("/card/" + longName, "/out/" + std::string(200, 'y') + "-tail.mov", "/out/.w"));
    EXPECT_EQ(window.size(), size);
    const QStringList lines = window.LabelText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("input: trip-xx")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("xx-end.MP4")));
    EXPECT_TRUE(lines[0].contains(QChar(0x2026)));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("output: yy")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("-tail.mov")));
    auto* label = window.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    for (const QString& line : lines) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width())
            << line.toStdString();
    }

    platform::SetLanguage("ja");
    Post(Front("/card/a.MP4", "/out/a.mov", "/out/.a.mov.wav"));
    platform::SetLanguage("");
    EXPECT_EQ(window.LabelText().toStdString(), "入力: a.MP4\n出力: a.mov");
}

TEST_F(ViewControllerTest, ProgressFollowsTheOrderOfArrival) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    const float values[] = {0.0f, 12.25f, 50.0f, 99.5f, 100.0f};
    for (float v : values) {
        Post(Progress(v));
        EXPECT_DOUBLE_EQ(window.ProgressValue(), static_cast<double>(v));
    }
    EXPECT_EQ(window.ProgressText().toStdString(), "100.0%");
}

class CancelTest : public ViewControllerTest {
protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        input = dir.filePath("trip 01.MP4").toStdString();
        output = dir.filePath("trip 01.mov").toStdString();
        wav = dir.filePath(".trip 01.mov.wav").toStdString();
        WriteWholeFile(input, "input bytes");
    }

    QTemporaryDir dir;
    std::string input, output, wav;
};

// Cancel stops the job, which removes the hidden files it created itself;
// the window never removes a file by the output's name: that may be an
// earlier output (or other file) the user keeps until a conversion succeeds.
TEST_F(CancelTest, StopsTheJobAndNeverRemovesTheFileNamedAsTheOutput) {
    WriteWholeFile(output, "earlier output");
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    Post(Front(input, output, wav));

    window.CancelBtn();
    EXPECT_EQ(ReadWholeFile(output), "earlier output");
    EXPECT_EQ(ReadWholeFile(input), "input bytes");
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_TRUE(wrap_ffmpeg::CancelRequested());
}

// A worker that only notices the cancel request late and is then held up by
// an alert: Cancel returns only once it has ended (and cleaned up).
TEST_F(CancelTest, WaitsForTheWorkerToEnd) {
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    Post(Front(input, output, wav));
    std::atomic<bool> workerEnded{false};
    backend.DetachThread([this, &workerEnded] {
        while (!wrap_ffmpeg::CancelRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        backend.ShowAlert("late alert");
        workerEnded = true;
    });

    window.CancelBtn();
    EXPECT_TRUE(workerEnded);
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{"late alert"});
    EXPECT_EQ(ReadWholeFile(input), "input bytes");
}

TEST_F(CancelTest, ClosingTheWindowOfAConversionCancelsIt) {
    WriteWholeFile(output, "earlier output");
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    QCoreApplication::processEvents();
    Post(Front(input, output, wav));
    window.close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(wrap_ffmpeg::CancelRequested());
    EXPECT_EQ(ReadWholeFile(output), "earlier output");
    EXPECT_EQ(backend.terminations, 1);
}

// Escape reaches the window from the focused Cancel button, as a user's key
// press does, and cancels like the button.
TEST_F(CancelTest, EscapeCancelsLikeTheButton) {
    WriteWholeFile(output, "partial output");
    WriteWholeFile(wav, "partial wav");
    ViewController window([this] { backend.WaitForDetachedThreads(); });
    window.show();
    QCoreApplication::processEvents();
    Post(Front(input, output, wav));
    auto* button = window.findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(button, &other);
    QCoreApplication::processEvents();
    EXPECT_EQ(backend.terminations, 0);

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(ReadWholeFile(output), "partial output");
    EXPECT_EQ(ReadWholeFile(input), "input bytes");
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_TRUE(wrap_ffmpeg::CancelRequested());
}

}  // namespace
}  // namespace spatialmux::guitest
