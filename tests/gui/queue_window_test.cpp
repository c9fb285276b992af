// The window of spatialmux-gui on the offscreen platform, with the real
// command-line program behind it: movies and a text file added, converted,
// each row ending as it should with the outputs written and nothing else
// left; closed during a conversion, it asks, and then stops it cleanly.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>

#include "GuiTestSupport.h"
#include "control/movieinfo/MovieCheck.h"
#include "shell/queue/QueueDialogs.h"
#include "shell/queue/QueueText.h"
#include "shell/queue/QueueWindow.h"
#include "support/MediaPackets.h"

namespace spatialmux::guitest {
namespace {

namespace fs = std::filesystem;

class FakeQueueDialogs : public QueueDialogs {
public:
    std::vector<std::string> ChooseMovies(QWidget*, const std::string&) override { return {}; }
    std::optional<std::string> ChooseFolder(QWidget*, const std::string&,
                                            const std::string&) override {
        return std::nullopt;
    }
    bool Confirm(QWidget*, const std::string& question, const std::string&,
                 const std::string&) override {
        questions.push_back(question);
        return answer;
    }
    std::optional<AmbisonicRotation> ChooseRotation(QWidget*, const std::string&,
                                                    const AmbisonicRotation&) override {
        return rotation;
    }
    bool answer = false;
    std::vector<std::string> questions;
    std::optional<AmbisonicRotation> rotation;
};

// Handles events until `done` holds; false when the guard against a hang
// ran out first.
bool Until(const std::function<bool()>& done) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (!done()) {
        if (std::chrono::steady_clock::now() > guard) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class QueueWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && side.isValid());
        platform::InstallBackend(&backend);
    }
    void TearDown() override { platform::InstallBackend(nullptr); }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
    bool Checked(QueueWindow& window) {
        return Until([&window] {
            const auto& rows = window.Queue().Rows();
            return std::none_of(rows.begin(), rows.end(), [](const QueueRow& row) {
                return row.state == RowState::Checking;
            });
        });
    }

    QTemporaryDir dir;   // the movies and their outputs
    QTemporaryDir side;  // the settings
    RecordingBackend backend;
    FakeQueueDialogs dialogs;
};

TEST_F(QueueWindowTest, ConvertsTheMoviesAndSkipsTheTextFile) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("A.MP4"), 2, &error)) << error;
    ASSERT_TRUE(WriteTestMovie(Path("B.MP4"), 3, &error)) << error;
    WriteWholeFile(Path("notes.txt"), "not a movie");
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    {
        QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 2);
        window.show();
        window.AddPaths({Path("A.MP4"), Path("B.MP4"), Path("notes.txt")});
        ASSERT_TRUE(Checked(window));
        ASSERT_TRUE(window.ConvertButton().isEnabled());
        window.ConvertButton().click();
        ASSERT_TRUE(Until([&window] { return !window.Runner().Busy(); }));

        const auto& rows = window.Queue().Rows();
        ASSERT_EQ(rows.size(), 3u);
        for (const char* output : {"A.mov", "B.mov"}) {
            const QueueRow& row = rows[output[0] == 'A' ? 0 : 1];
            SCOPED_TRACE(output);
            EXPECT_EQ(row.state, RowState::Converted) << row.message;
            EXPECT_EQ(row.plan.output, Path(output));
            EXPECT_EQ(row.outputSize, fs::file_size(Path(output)));
            const auto streams = spatialmux::testing::ReadMediaPackets(Path(output));
            ASSERT_EQ(streams.size(), 2u);
            EXPECT_EQ(streams[1].codec, AV_CODEC_ID_PCM_S16LE);
            EXPECT_EQ(streams[1].channels, 4);
        }
        EXPECT_EQ(rows[2].state, RowState::NotConvertible);
        EXPECT_EQ(rows[2].message, QueueText("skip.notmovie"));
        // The summary line: the counts, then the size written and the time.
        const std::string summary = QueueText(
            "gui.summary",
            {{"{converted}", "2"}, {"{skipped}", "1"}, {"{failed}", "0"}, {"{cancelled}", "0"}});
        EXPECT_EQ(
            window.StatusText().toStdString().rfind(summary.substr(0, summary.find("{size}")), 0),
            0u)
            << window.StatusText().toStdString();
        EXPECT_EQ(Entries(dir.path().toStdString()),
                  (std::set<std::string>{"A.MP4", "B.MP4", "notes.txt", "A.mov", "B.mov"}));
        EXPECT_FALSE(window.ConvertButton().isEnabled()) << "nothing is left to convert";

        // Details: the check's report of the output, in a window of its own.
        const RowAction* details = nullptr;
        for (const RowAction* action : window.OfferedActions(rows[0].id)) {
            if (std::string(action->key) == "action.details") details = action;
        }
        ASSERT_NE(details, nullptr);
        window.RunAction(rows[0].id, *details);
        auto* report = window.findChild<QPlainTextEdit*>();
        ASSERT_NE(report, nullptr);
        ASSERT_TRUE(Until([report] { return report->isVisible(); }));
        EXPECT_NE(report->toPlainText().toStdString().find(Path("A.mov")), std::string::npos)
            << report->toPlainText().toStdString();
    }
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
    EXPECT_TRUE(settings.value(QStringLiteral("output/beside")).toBool());
    EXPECT_EQ(settings.value(QStringLiteral("format")).toString(), QStringLiteral("mov-pcm"));
}

// Closing asks first; kept, the conversion goes on; stopped, it ends as
// Ctrl-C ends one: nothing of it is left. (The child waits before it
// verifies its output, at a pause point of the tests, until it is stopped.)
TEST_F(QueueWindowTest, ClosingDuringAConversionAsksAndLeavesNothing) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("clip.MP4"), 2, &error)) << error;
    const std::string paused = side.filePath("paused").toStdString();
    setenv("SPATIALMUX_TEST_PAUSE_AT", "verify", 1);
    setenv("SPATIALMUX_TEST_PAUSE_FILE", paused.c_str(), 1);
    // The format chosen in an earlier run.
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("format"), QStringLiteral("mp4-aac"));
    QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 1);
    window.show();
    window.AddPaths({Path("clip.MP4")});
    ASSERT_TRUE(Checked(window));
    window.Convert();
    unsetenv("SPATIALMUX_TEST_PAUSE_AT");
    unsetenv("SPATIALMUX_TEST_PAUSE_FILE");
    const QueueRow& row = window.Queue().Rows().front();
    ASSERT_TRUE(Until([&paused] { return FileExists(paused); }));
    ASSERT_EQ(row.state, RowState::Converting);
    EXPECT_EQ(row.plan.output, Path("clip.mp4"));

    dialogs.answer = false;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(row.state, RowState::Converting);

    dialogs.answer = true;
    EXPECT_TRUE(window.close());
    EXPECT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions.back(), QueueText("gui.ask.close.one"));
    EXPECT_EQ(row.state, RowState::Cancelled);
    EXPECT_FALSE(window.Runner().Busy());
    EXPECT_EQ(Entries(dir.path().toStdString()), std::set<std::string>{"clip.MP4"});
}

// Each row's actions are buttons: named for assistive technology with the
// movie, reached with Tab from the list in the rows' order, under a column
// header of their own. Delete leaves the next row selected; a row that
// converts is removed only after asking, once its child has stopped.
TEST_F(QueueWindowTest, RowButtonsAreControlsAndRemoveStopsABusyRow) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("clip.MP4"), 2, &error)) << error;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteWholeFile(Path(name), "text");
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 1);
    window.show();
    window.AddPaths({Path("a.txt"), Path("b.txt"), Path("c.txt"), Path("clip.MP4")});
    ASSERT_TRUE(Checked(window));
    QTreeView& list = window.List();
    EXPECT_FALSE(
        list.model()->headerData(QueueTableModel::Actions, Qt::Horizontal).toString().isEmpty());
    std::vector<QPushButton*> details;
    for (int row = 0; row < 3; ++row) {
        QWidget* cell = list.indexWidget(list.model()->index(row, QueueTableModel::Actions));
        ASSERT_NE(cell, nullptr) << row;
        const auto buttons = cell->findChildren<QPushButton*>();
        ASSERT_EQ(buttons.size(), 1) << row;
        EXPECT_EQ(buttons[0]->accessibleName().toStdString(),
                  QueueText("gui.action.named", {{"{action}", QueueText("action.details")},
                                                 {"{name}", window.Queue().Rows()[row].name}}));
        details.push_back(buttons[0]);
    }
    // The widget Tab goes to next: the next one in the chain that takes it.
    const auto nextTabStop = [&window](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (next != from && !((next->focusPolicy() & Qt::TabFocus) &&
                                 next->isVisibleTo(&window) && next->isEnabled())) {
            next = next->nextInFocusChain();
        }
        return next;
    };
    EXPECT_EQ(nextTabStop(&list), details[0]);
    EXPECT_EQ(nextTabStop(details[0]), details[1]);
    // The camera movie's row offers to turn its sound before it converts.
    QWidget* clipCell = list.indexWidget(list.model()->index(3, QueueTableModel::Actions));
    ASSERT_NE(clipCell, nullptr);
    const auto turn = clipCell->findChildren<QPushButton*>();
    ASSERT_EQ(turn.size(), 1);
    EXPECT_EQ(nextTabStop(details[2]), turn[0]);
    EXPECT_EQ(nextTabStop(turn[0]), details[2]->window()->findChild<QRadioButton*>());

    // Delete on b.txt: c.txt is selected next.
    list.setCurrentIndex(list.model()->index(1, 0));
    window.RemoveSelected();
    ASSERT_EQ(window.Queue().Rows().size(), 3u);
    EXPECT_EQ(list.currentIndex().row(), 1);
    EXPECT_EQ(window.Queue().Rows()[1].name, "c.txt");
    EXPECT_TRUE(list.selectionModel()->isRowSelected(1, QModelIndex()));

    // The movie converts (held before its verification); Remove asks.
    const std::string paused = side.filePath("paused").toStdString();
    setenv("SPATIALMUX_TEST_PAUSE_AT", "verify", 1);
    setenv("SPATIALMUX_TEST_PAUSE_FILE", paused.c_str(), 1);
    window.Convert();
    unsetenv("SPATIALMUX_TEST_PAUSE_AT");
    unsetenv("SPATIALMUX_TEST_PAUSE_FILE");
    ASSERT_TRUE(Until([&paused] { return FileExists(paused); }));
    list.setCurrentIndex(list.model()->index(2, 0));
    dialogs.answer = false;
    window.RemoveSelected();
    EXPECT_EQ(window.Queue().Rows().size(), 3u) << "kept, as answered";
    EXPECT_EQ(window.Queue().Rows()[2].state, RowState::Converting);
    dialogs.answer = true;
    list.setCurrentIndex(list.model()->index(2, 0));
    window.RemoveSelected();
    EXPECT_EQ(dialogs.questions.back(), QueueText("gui.ask.remove", {{"{name}", "clip.MP4"}}));
    ASSERT_TRUE(Until([&window] { return window.Queue().Rows().size() == 2; }));
    EXPECT_FALSE(window.Runner().Busy());
    EXPECT_EQ(Entries(dir.path().toStdString()),
              (std::set<std::string>{"a.txt", "c.txt", "clip.MP4", "b.txt"}));
}

const RowAction* Offered(QueueWindow& window, int id, const std::string& key) {
    for (const RowAction* action : window.OfferedActions(id)) {
        if (action->key == key) return action;
    }
    return nullptr;
}

// Listen on a converted movie: the render shows its progress in the row,
// where Listen has become its stop. Closing the window meanwhile asks, then
// stops the render as Ctrl-C would: nothing of it is left, nor what a
// render killed earlier had left for that name. (The render waits at a
// pause point of the tests once its first block is written.)
TEST_F(QueueWindowTest, ClosingDuringListenAsksAndLeavesNothing) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("clip.MP4"), 3, &error)) << error;
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 1);
    window.show();
    window.AddPaths({Path("clip.MP4")});
    ASSERT_TRUE(Checked(window));
    window.Convert();
    ASSERT_TRUE(Until([&window] { return !window.Runner().Busy(); }));
    const QueueRow& row = window.Queue().Rows().front();
    ASSERT_EQ(row.state, RowState::Converted) << row.message;
    EXPECT_EQ(window.focusWidget(), &window.List()) << "the keyboard stays with the list";
    // What a render killed outright left beside the movie.
    WriteWholeFile(Path(".clip.binaural.m4a.spatialmux-lock"), "");
    WriteWholeFile(Path(".clip.binaural.m4a.spatialmux-k1ll3d.m4a"), "");

    const std::string paused = side.filePath("paused").toStdString();
    setenv("SPATIALMUX_TEST_PAUSE_AT", "binaural-render", 1);
    setenv("SPATIALMUX_TEST_PAUSE_FILE", paused.c_str(), 1);
    const RowAction* listen = Offered(window, row.id, "notice.listen");
    ASSERT_NE(listen, nullptr);
    window.RunAction(row.id, *listen);
    unsetenv("SPATIALMUX_TEST_PAUSE_AT");
    unsetenv("SPATIALMUX_TEST_PAUSE_FILE");
    ASSERT_TRUE(Until([&paused] { return FileExists(paused); }));
    ASSERT_TRUE(Until([&row] { return row.listening && *row.listening > 0.0; }));
    EXPECT_EQ(Offered(window, row.id, "notice.listen"), nullptr);
    EXPECT_NE(Offered(window, row.id, "action.listen.stop"), nullptr);

    dialogs.answer = false;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(row.listening.has_value());
    dialogs.answer = true;
    EXPECT_TRUE(window.close());
    EXPECT_EQ(dialogs.questions.back(), QueueText("gui.ask.close.listen", {{"{count}", "1"}}));
    EXPECT_FALSE(row.listening.has_value());
    EXPECT_EQ(window.Runner().Listening(), 0);
    EXPECT_EQ(Entries(dir.path().toStdString()), (std::set<std::string>{"clip.MP4", "clip.mov"}));
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{}) << "a stop is no failure";
}

// A movie that says neither what its four channels are nor that its video
// is 360: its row says what it waits for and Convert skips it; chosen on
// the row (FuMa, Equirectangular 360), it converts into a movie that
// declares both.
TEST_F(QueueWindowTest, AMovieThatDoesNotSayWhatItIsConvertsAsChosenOnItsRow) {
    ASSERT_NO_FATAL_FAILURE(WriteUndeclaredFumaMovie(Path("foa.mp4")));
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 1);
    window.show();
    window.AddPaths({Path("foa.mp4")});
    ASSERT_TRUE(Checked(window));
    const QueueRow& row = window.Queue().Rows().front();
    ASSERT_EQ(row.state, RowState::Ready) << row.message;
    EXPECT_EQ(ConversionQueue::StateText(row), QueueText("state.choose.both"));
    window.Convert();
    ASSERT_TRUE(Until([&window] { return !window.Runner().Busy(); }));
    EXPECT_EQ(row.state, RowState::Skipped);
    EXPECT_FALSE(window.ConvertButton().isEnabled());

    for (const char* key : {"action.fuma", "action.equirect"}) {
        const RowAction* choice = Offered(window, row.id, key);
        ASSERT_NE(choice, nullptr) << key;
        window.RunAction(row.id, *choice);
    }
    EXPECT_EQ(row.channels, AmbisonicsChoice::FuMa);
    EXPECT_TRUE(row.equirectangular);
    ASSERT_TRUE(window.ConvertButton().isEnabled());
    window.ConvertButton().click();
    ASSERT_TRUE(Until([&window] { return !window.Runner().Busy(); }));
    ASSERT_EQ(row.state, RowState::Converted) << row.message;
    EXPECT_EQ(Offered(window, row.id, "action.fuma"), nullptr) << "nothing to choose once done";
    const CheckReport report = CheckMovieFile(Path("foa.mov"));
    EXPECT_EQ(report.spatial, "first-order ambisonics, declared");
    EXPECT_TRUE(report.ready) << ::testing::PrintToString(report.notReady);
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>{});
}

// Turn Sound on a row: the dialog's turn is said on the row and given to the
// child, whose output has the sound turned (a half turn: X and Y negated,
// W and Z as a plain conversion writes them); Cancel in the dialog changes
// nothing.
TEST_F(QueueWindowTest, TheSoundTurnedOnItsRowIsTurnedInTheOutput) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("A.MP4"), 1, &error)) << error;
    ASSERT_EQ(std::system((std::string(SPATIALMUX_BINARY) + " '" + Path("A.MP4") + "' '" +
                           Path("plain.mov") + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    QSettings settings(side.filePath("gui.ini"), QSettings::IniFormat);
    QueueWindow window(SPATIALMUX_BINARY, settings, dialogs, 1);
    window.show();
    window.AddPaths({Path("A.MP4")});
    ASSERT_TRUE(Checked(window));
    const QueueRow& row = window.Queue().Rows().front();
    const RowAction* turn = Offered(window, row.id, "action.turn");
    ASSERT_NE(turn, nullptr);
    window.RunAction(row.id, *turn);  // Cancel
    EXPECT_TRUE(row.rotateAudio.IsIdentity());
    dialogs.rotation = AmbisonicRotation{180, 0, 0};
    window.RunAction(row.id, *turn);
    EXPECT_EQ(row.rotateAudio, (AmbisonicRotation{180, 0, 0}));
    EXPECT_NE(ConversionQueue::StateText(row).find("180"), std::string::npos);
    window.ConvertButton().click();
    ASSERT_TRUE(Until([&window] { return !window.Runner().Busy(); }));
    ASSERT_EQ(row.state, RowState::Converted) << row.message;
    EXPECT_EQ(Offered(window, row.id, "action.turn"), nullptr) << "nothing to turn once done";

    const std::vector<uint8_t> plain =
        spatialmux::testing::ReadMediaPackets(Path("plain.mov"))[1].Bytes();
    const std::vector<uint8_t> turned =
        spatialmux::testing::ReadMediaPackets(Path("A.mov"))[1].Bytes();
    ASSERT_EQ(turned.size(), plain.size());
    int differing = 0;
    for (std::size_t at = 0; at + 8 <= plain.size(); at += 8) {
        int16_t p[4], t[4];
        for (std::size_t c = 0; c < 4; ++c) {
            p[c] = static_cast<int16_t>(plain[at + 2 * c] | plain[at + 2 * c + 1] << 8);
            t[c] = static_cast<int16_t>(turned[at + 2 * c] | turned[at + 2 * c + 1] << 8);
        }
        // W Y Z X; the turned -32768 is held at full scale, 32767.
        const auto negated = [](int16_t s) { return s == -32768 ? 32767 : -s; };
        if (t[0] != p[0] || t[2] != p[2] || t[1] != negated(p[1]) || t[3] != negated(p[3])) {
            ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace spatialmux::guitest
