// The desktop's file-open events (on macOS, a movie dropped on the
// application's icon) reach the delegate as drops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFileOpenEvent>
#include <QUrl>

#include "GuiTestSupport.h"
#include "shell/FileOpenEvents.h"

namespace spatialmux::guitest {
namespace {

using Drops = std::vector<std::vector<std::string>>;

void SendFileOpen(const QString& file) {
    QFileOpenEvent event(file);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
}

class FileOpenEventsTest : public testing::Test {
protected:
    void SetUp() override { qApp->installEventFilter(&filter); }
    void TearDown() override { qApp->removeEventFilter(&filter); }

    Drops drops;
    FileOpenEvents filter{
        [this](const std::vector<std::string>& files) { drops.push_back(files); }};
};

TEST_F(FileOpenEventsTest, EventsOfOneTurnBecomeOneDropAndLaterOnesAnother) {
    SendFileOpen(QStringLiteral("/movies/a.MP4"));
    SendFileOpen(QStringLiteral("/movies/b c.MP4"));
    EXPECT_TRUE(drops.empty());  // handed over only once the turn is done
    QCoreApplication::processEvents();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (std::vector<std::string>{"/movies/a.MP4", "/movies/b c.MP4"}));

    SendFileOpen(QStringLiteral("/movies/d.MP4"));
    QCoreApplication::processEvents();
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[1], (std::vector<std::string>{"/movies/d.MP4"}));
}

TEST_F(FileOpenEventsTest, UrlsThatAreNoFilesAndOtherEventsAreNotDrops) {
    QFileOpenEvent web(QUrl(QStringLiteral("https://example.com/movie.mp4")));
    QCoreApplication::sendEvent(QCoreApplication::instance(), &web);
    QEvent other(QEvent::User);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &other);
    QCoreApplication::processEvents();
    EXPECT_TRUE(drops.empty());
}

class FileOpenSessionTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }

    QTemporaryDir dir;
    RecordingBackend backend;
};

// Launched without a file, the application takes a movie the desktop opens
// with it as the drop: the save dialog asks, proposing the movie's name.
TEST_F(FileOpenSessionTest, FileOpenEventStartsTheSaveDialog) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("trip01.MP4"), 1, &error)) << error;
    FakeSaveDialog dialog(std::nullopt);
    const QString file = QString::fromStdString(Path("trip01.MP4"));
    ASSERT_TRUE(RunSession(backend, dialog, std::nullopt, [file] { SendFileOpen(file); }));
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_EQ(dialog.lastProposedName, "trip01");
    EXPECT_EQ(dialog.lastFolder, dir.path().toStdString());
    EXPECT_EQ(backend.Alerts(), Texts({"alert4"}));  // the cancelled dialog, no "alert1"
}

// Two movies dropped on the icon at once arrive as two events: one drop of
// two files, refused as such.
TEST_F(FileOpenSessionTest, TwoFileOpenEventsAtOnceAreRefusedAsOneDrop) {
    WriteWholeFile(Path("a.MP4"), "a");
    WriteWholeFile(Path("b.MP4"), "b");
    FakeSaveDialog dialog(Path("out.mov"));
    const QString a = QString::fromStdString(Path("a.MP4"));
    const QString b = QString::fromStdString(Path("b.MP4"));
    ASSERT_TRUE(RunSession(backend, dialog, std::nullopt, [a, b] {
        SendFileOpen(a);
        SendFileOpen(b);
    }));
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(backend.Alerts(), Texts({"alert6"}));
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(ReadWholeFile(Path("a.MP4")), "a");
}

}  // namespace
}  // namespace spatialmux::guitest
