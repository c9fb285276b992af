#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include <QCoreApplication>
#include <QDir>

#include "GuiTestSupport.h"
#include "control/convert/JobState.h"
#include "control/convert/wrap_ffmpeg.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "shell/AppDelegate.h"

namespace spatialmux::guitest {
namespace {

class DropletTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = dir.filePath("My Movies").toStdString();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    }
    std::string Path(const std::string& name) const { return folder + "/" + name; }

    QTemporaryDir dir;
    std::string folder;
    RecordingBackend backend;
};

TEST_F(DropletTest, LaunchWithoutAFileShowsAlert1AndQuits) {
    FakeSaveDialog dialog;
    WindowWatcher watcher;
    ASSERT_TRUE(RunSession(backend, dialog, std::nullopt));
    EXPECT_EQ(backend.Alerts(), Texts({"alert1"}));
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(watcher.shows, 1);  // only the launch appearance
}

TEST_F(DropletTest, TwoFilesShowAlert6WithoutSaveDialog) {
    WriteWholeFile(Path("a.MP4"), "a");
    WriteWholeFile(Path("b.MP4"), "b");
    FakeSaveDialog dialog(Path("out.mov"));
    ASSERT_TRUE(
        RunSession(backend, dialog, std::vector<std::string>{Path("a.MP4"), Path("b.MP4")}));
    EXPECT_EQ(backend.Alerts(), Texts({"alert6"}));
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(backend.terminations, 1);
    // Neither file is written over.
    EXPECT_EQ(ReadWholeFile(Path("a.MP4")), "a");
    EXPECT_EQ(ReadWholeFile(Path("b.MP4")), "b");
}

TEST_F(DropletTest, CancelledSaveDialogShowsAlert4) {
    std::string error;
    ASSERT_TRUE(WriteTestMovie(Path("trip01.MP4"), 1, &error)) << error;
    FakeSaveDialog dialog(std::nullopt);
    WindowWatcher watcher;
    ASSERT_TRUE(RunSession(backend, dialog, std::vector<std::string>{Path("trip01.MP4")}));
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_EQ(dialog.lastFolder, folder);  // the input's folder, spaces and all
    EXPECT_EQ(dialog.lastProposedName, "trip01");
    EXPECT_EQ(backend.Alerts(), Texts({"alert4"}));
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(watcher.shows, 1);
}

// The free space a test chooses, on every volume.
class TightDisk : public platform::FileFacts {
public:
    std::optional<uint64_t> FreeSpace(const std::string&) const override { return 10; }
};

struct RefusalCase {
    const char* name;
    const char* alertKey;
    bool notAMovie;      // the input is a text file, not a camera movie
    bool tightDisk;      // too little free space
    bool outputIsInput;  // the dialog answers with the input itself
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedJobTest : public DropletTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedJobTest, ShowsTheControllersAlertAndQuitsWithoutProgressWindow) {
    const RefusalCase& c = GetParam();
    const std::string input = Path("clip.mov");
    if (c.notAMovie) {
        WriteWholeFile(input, "this is not a movie");
    } else {
        std::string error;
        ASSERT_TRUE(WriteTestMovie(input, 1, &error)) << error;
    }
    const std::string before = ReadWholeFile(input);
    TightDisk tight;
    if (c.tightDisk) platform::InstallFileFacts(&tight);
    FakeSaveDialog dialog(c.outputIsInput ? input : Path("out.mov"));
    WindowWatcher watcher;
    int fronts = 0;
    const auto front = platform::NotificationCenter::Default().AddObserver(
        platform::kForOrderFrontNotification, [&](const platform::Notification&) { ++fronts; });

    const bool ended = RunSession(backend, dialog, std::vector<std::string>{input});
    platform::InstallFileFacts(nullptr);
    ASSERT_TRUE(ended);
    // A file that is not a camera movie is refused before the dialog; for a
    // movie the dialog proposes a name other than the input's own, and asks
    // again after a name the droplet refuses (cancelled here).
    EXPECT_EQ(dialog.runs, c.notAMovie ? 0 : c.outputIsInput ? 2 : 1);
    EXPECT_EQ(dialog.lastProposedName, c.notAMovie ? "" : "clip-360.mov");
    if (c.tightDisk) {
        // The text, with the figures filled in: 10 bytes free.
        const std::string text = platform::LocalizedString(c.alertKey);
        ASSERT_EQ(backend.Alerts().size(), 1u);
        EXPECT_EQ(backend.Alerts()[0].rfind(text.substr(0, text.find('{')), 0), 0u);
        EXPECT_NE(backend.Alerts()[0].find(" 10 bytes"), std::string::npos) << backend.Alerts()[0];
    } else {
        EXPECT_EQ(backend.Alerts(),
                  c.outputIsInput ? Texts({c.alertKey, "alert4"}) : Texts({c.alertKey}));
    }
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(fronts, 0);
    EXPECT_EQ(watcher.shows, 1);
    EXPECT_FALSE(FileExists(Path("out.mov")));
    EXPECT_FALSE(FileExists(Path(".out.mov.wav")));
    EXPECT_EQ(ReadWholeFile(input), before);
    // The movie check before the dialog starts no job at all; the input
    // given as the output is refused by the droplet itself, before a job.
    if (!c.notAMovie && !c.outputIsInput) {
        EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Refused);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedJobTest,
    testing::Values(RefusalCase{"NotAMovie", "alert3", true, false, false},
                    RefusalCase{"TooLittleSpace", "alert2", false, true, false},
                    RefusalCase{"OutputIsTheInput", "alert.sameasinput", false, false, true}),
    [](const testing::TestParamInfo<RefusalCase>& param) { return std::string(param.param.name); });

// A missing file and a folder handed to the droplet are refused with the
// texts the command line gives them, before any question.
TEST_F(DropletTest, AMissingFileAndAFolderGetTheirOwnTexts) {
    for (const std::string& handed : {Path("gone.MP4"), folder}) {
        SCOPED_TRACE(handed);
        RecordingBackend recording;
        FakeSaveDialog dialog(Path("out.mov"));
        ASSERT_TRUE(RunSession(recording, dialog, std::vector<std::string>{handed}));
        const std::vector<std::string> alerts = recording.Alerts();
        ASSERT_EQ(alerts.size(), 1u);
        const std::string key = handed == folder ? "refuse.input.notfile" : "refuse.input.missing";
        EXPECT_EQ(alerts[0],
                  platform::FillPlaceholder(platform::LocalizedString(key), "{file}", handed));
        EXPECT_EQ(dialog.runs, 0);
        EXPECT_EQ(recording.terminations, 1);
    }
}

// A name typed into the dialog that leads into a missing folder is refused
// with that folder's name before anything starts, and the dialog asks
// again (cancelled here).
TEST_F(DropletTest, ASavePathInAMissingFolderIsRefusedNamingIt) {
    const std::string input = Path("clip.MP4");
    std::string error;
    ASSERT_TRUE(WriteTestMovie(input, 1, &error)) << error;
    const std::string before = ReadWholeFile(input);
    const std::string missing = Path("no such folder");
    FakeSaveDialog dialog(missing + "/clip.mov");
    int fronts = 0;
    const auto front = platform::NotificationCenter::Default().AddObserver(
        platform::kForOrderFrontNotification, [&](const platform::Notification&) { ++fronts; });
    ASSERT_TRUE(RunSession(backend, dialog, std::vector<std::string>{input}));
    const std::vector<std::string> alerts = backend.Alerts();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_NE(alerts[0].find(missing + " does not exist"), std::string::npos) << alerts[0];
    EXPECT_EQ(alerts[1], platform::LocalizedString("alert4"));
    EXPECT_EQ(dialog.runs, 2);
    EXPECT_EQ(backend.terminations, 1);
    EXPECT_EQ(fronts, 0);
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(ReadWholeFile(input), before);
    EXPECT_EQ(QDir(QString::fromStdString(folder))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("clip.MP4")});
}

// A file handed over while a conversion runs is refused and leaves the job,
// and the application, alone.
TEST_F(DropletTest, FileHandedOverDuringAConversionIsRefused) {
    platform::InstallBackend(&backend);
    FakeSaveDialog dialog(Path("second.mov"));
    AppDelegate delegate(dialog);
    ASSERT_TRUE(job_state::TryBegin());
    delegate.OpenFiles({Path("second.MP4")});
    job_state::End(JobResult::None);
    platform::InstallBackend(nullptr);

    EXPECT_EQ(backend.Alerts(), Texts({"alert6"}));
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(backend.terminations, 0);
}

// A movie no answer makes convertible (six channels; two audio tracks of
// four undeclared channels) is refused with the check's reason before any
// question or the dialog.
TEST_F(DropletTest, AMovieNoAnswerConvertsIsRefusedBeforeAnythingIsAsked) {
    const std::string six = Path("six.mp4");
    const std::string two = Path("two.mov");
    const std::string lavfi = "ffmpeg -v error -f lavfi -i testsrc=size=64x32:d=1 -f lavfi -i ";
    ASSERT_EQ(std::system((lavfi + "sine=d=1 -ac 6 -c:v libx264 -c:a aac '" + six + "'").c_str()),
              0);
    ASSERT_EQ(std::system((lavfi +
                           "sine=d=1 -map 0:v -map 1:a -map 1:a -ac 4 -c:v libx264 "
                           "-c:a pcm_s16le '" +
                           two + "'")
                              .c_str()),
              0);
    for (const auto& [movie, reason] : {std::pair{six, std::string("its audio has 6 channels")},
                                        std::pair{two, std::string("it has 2 audio tracks")}}) {
        RecordingBackend refusing;
        FakeSaveDialog dialog(Path("out.mov"));
        ASSERT_TRUE(RunSession(refusing, dialog, std::vector<std::string>{movie}));
        EXPECT_EQ(dialog.asked, std::vector<std::string>{}) << movie;
        // Its alert is titled with the movie's name.
        EXPECT_EQ(refusing.Subject(), movie.substr(movie.rfind('/') + 1));
        ASSERT_EQ(refusing.Alerts().size(), 1u) << movie;
        const std::string alert = refusing.Alerts()[0];
        const std::string text = platform::LocalizedString("alert.foa.refused");
        EXPECT_EQ(alert.rfind(text.substr(0, text.find('{')), 0), 0u) << alert;
        EXPECT_NE(alert.find(reason), std::string::npos) << alert;
        EXPECT_FALSE(FileExists(Path("out.mov")));
    }
}

TEST_F(DropletTest, BareNameFromTheDialogGetsTheMovExtension) {
    platform::InstallBackend(&backend);
    FakeSaveDialog dialog(Path("chosen"));
    AppDelegate delegate(dialog);
    EXPECT_EQ(delegate.onSelectSaveAs(Path("A.Mp4")), Path("chosen.mov"));
    EXPECT_EQ(dialog.lastProposedName, "A-360.Mp4")
        << "A.Mp4 is kept as an MP4 name: not the input";
    EXPECT_EQ(dialog.lastFolder, folder);
    platform::InstallBackend(nullptr);
}

TEST_F(DropletTest, AnMp4NameFromTheDialogIsKept) {
    platform::InstallBackend(&backend);
    FakeSaveDialog dialog(Path("chosen.MP4"));
    AppDelegate delegate(dialog);
    EXPECT_EQ(delegate.onSelectSaveAs(Path("A.mov")), Path("chosen.MP4"));
    platform::InstallBackend(nullptr);
}

}  // namespace
}  // namespace spatialmux::guitest
