// The queue of spatialmux-gui as plain data, without a window or a process:
// what adding files and folders puts in it, how a run plans the outputs,
// and each row's way through a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "platform/LocalizedStrings.h"
#include "shell/queue/ConversionQueue.h"
#include "shell/queue/ConversionRunner.h"
#include "shell/queue/ProgramRun.h"
#include "shell/queue/QueueText.h"
#include "shell/queue/RowActions.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

namespace fs = std::filesystem;
using spatialmux::testing::TempDir;

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

std::vector<std::string> Names(const ConversionQueue& queue) {
    std::vector<std::string> names;
    for (const QueueRow& row : queue.Rows()) names.push_back(row.name);
    return names;
}

class QueueTest : public ::testing::Test {
protected:
    // Every row checked: the ones named convertible, the others not.
    void CheckAll(const std::vector<std::string>& convertible) {
        for (const QueueRow& row : std::vector<QueueRow>(queue.Rows())) {
            const bool yes =
                std::find(convertible.begin(), convertible.end(), row.name) != convertible.end();
            queue.Checked(row.id, yes, 12.5, yes ? "" : QueueText("skip.notmovie"));
        }
    }
    const QueueRow& Row(const std::string& name) {
        for (const QueueRow& row : queue.Rows()) {
            if (row.name == name) return row;
        }
        static const QueueRow none;
        ADD_FAILURE() << "no row " << name;
        return none;
    }

    TempDir dir;
    ConversionQueue queue;
};

// Folders are searched as the batch searches them; a file named directly is
// taken whatever its name; what cannot be a movie is listed with why, and
// nothing is listed twice.
TEST_F(QueueTest, AddsWhatTheBatchWouldFindOnceEach) {
    Write(dir.Path("card/DCIM/B.MP4"), "b");
    Write(dir.Path("card/DCIM/A.mov"), "a");
    Write(dir.Path("card/DCIM/.hidden.MP4"), "h");
    Write(dir.Path("card/DCIM/notes.txt"), "n");
    Write(dir.Path("card/.trash/C.MP4"), "c");
    Write(dir.Path("readme.txt"), "r");

    std::vector<std::string> problems;
    const std::vector<int> toCheck =
        queue.Add({dir.Path("card"), dir.Path("readme.txt"), dir.Path("gone.MP4")}, &problems);
    EXPECT_EQ(Names(queue), (std::vector<std::string>{"A.mov", "B.MP4", "readme.txt", "gone.MP4"}));
    EXPECT_EQ(toCheck.size(), 3u) << "the missing file needs no check";
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(Row("gone.MP4").state, RowState::NotConvertible);
    EXPECT_EQ(Row("gone.MP4").message, QueueText("skip.missing"));
    EXPECT_EQ(Row("B.MP4").size, 1u);

    // The same movie again, directly or through its folder: nothing new.
    EXPECT_TRUE(
        queue.Add({dir.Path("card/DCIM/B.MP4"), dir.Path("card/DCIM/../DCIM")}, nullptr).empty());
    EXPECT_EQ(queue.Rows().size(), 4u);
    // Removed, it can be added again.
    EXPECT_TRUE(queue.Remove(Row("B.MP4").id));
    EXPECT_EQ(queue.Add({dir.Path("card/DCIM/B.MP4")}, nullptr).size(), 1u);
}

// A run gives each movie its output, beside it or in one folder, and skips
// with the reason what must not be written: an output that exists, one
// name for two movies. Files that are not movies count as skipped.
TEST_F(QueueTest, PlansOutputsAndSkipsWhatMustNotBeWritten) {
    Write(dir.Path("a/A.MP4"), "a");
    Write(dir.Path("a/B.MP4"), "b");
    Write(dir.Path("b/A.MP4"), "another A");
    Write(dir.Path("a/notes.txt"), "n");
    Write(dir.Path("a/B.mov"), "an earlier output");
    queue.Add(
        {dir.Path("a/A.MP4"), dir.Path("a/B.MP4"), dir.Path("b/A.MP4"), dir.Path("a/notes.txt")},
        nullptr);
    CheckAll({"A.MP4", "B.MP4"});
    EXPECT_TRUE(queue.HasWork());

    // Beside each movie: two folders, no clash; B.mov exists already.
    OutputChoice beside;
    EXPECT_EQ(queue.PlanRun(beside), 2);
    EXPECT_EQ(queue.Rows()[0].plan.output, dir.Path("a/A.mov"));
    EXPECT_EQ(queue.Rows()[0].plan.partial, dir.Path("a/.A.spatialmux-partial.mov"));
    EXPECT_EQ(queue.Rows()[2].plan.output, dir.Path("b/A.mov"));
    EXPECT_EQ(Row("B.MP4").state, RowState::Skipped);
    EXPECT_EQ(Row("B.MP4").message, QueueText("skip.exists", {{"{file}", "B.mov"}}));
    EXPECT_EQ(queue.Totals().files, 4);
    EXPECT_EQ(queue.Totals().skipped, 2);

    // The run ends; into one folder as MP4, the second A.MP4 would take the
    // first one's name.
    for (const QueueRow& row : std::vector<QueueRow>(queue.Rows())) {
        if (row.state == RowState::Waiting) queue.RequestCancel(row.id);
    }
    OutputChoice folder{false, dir.Path("out"), QueueFormat::Mp4Opus};
    EXPECT_EQ(queue.PlanRun(folder), 2);
    EXPECT_EQ(queue.Rows()[0].plan.output, dir.Path("out/A.mp4"));
    EXPECT_EQ(Row("B.MP4").plan.output, dir.Path("out/B.mp4"));
    EXPECT_EQ(queue.Rows()[2].state, RowState::Skipped);
    EXPECT_EQ(queue.Rows()[2].message, QueueText("skip.clash", {{"{file}", "A.mp4"}}));
    EXPECT_EQ(std::string(FactsOf(folder.format).audio), "opus");
}

// A movie whose plain output name is the movie itself (a .mov beside
// itself as QuickTime) is converted beside itself as NAME-360; an earlier
// output there is offered as any existing output is; footage under the
// output's name is never offered for Replace.
TEST_F(QueueTest, AMovieNeverGetsItselfAsItsOutput) {
    Write(dir.Path("card/clip.mov"), "c");
    Write(dir.Path("card/take.mov"), "t");
    Write(dir.Path("card/take-360.mov"), "an earlier output");
    Write(dir.Path("card/B.MP4"), "b");
    std::string error;
    ASSERT_TRUE(guitest::WriteTestMovie(dir.Path("card/B.mov"), 1, &error)) << error;
    queue.Add({dir.Path("card/clip.mov"), dir.Path("card/take.mov"), dir.Path("card/B.MP4")},
              nullptr);
    CheckAll({"clip.mov", "take.mov", "B.MP4"});
    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 1);
    EXPECT_EQ(Row("clip.mov").state, RowState::Waiting);
    EXPECT_EQ(Row("clip.mov").plan.output, dir.Path("card/clip-360.mov"));
    EXPECT_EQ(Row("take.mov").state, RowState::Skipped);
    EXPECT_EQ(Row("take.mov").message, QueueText("skip.exists", {{"{file}", "take-360.mov"}}));
    EXPECT_TRUE(Row("take.mov").outputExists);
    EXPECT_EQ(Row("B.MP4").message, QueueText("skip.footage", {{"{file}", "B.mov"}}));
    EXPECT_FALSE(Row("B.MP4").outputExists) << "no Replace, Listen or Details of footage";
}

// What a row offers once checked, for each of the check's verdicts: a
// movie no answer makes convertible says why on its row and offers no
// choice; one that leaves its channels and its video unsaid offers them.
TEST(CheckVerdict, ARowOffersWhatTheCheckFoundBeforeAnyChoice) {
    const struct {
        const char* line;
        std::vector<std::string> offered;
        std::string state;  // a part of the row's state
    } cases[] = {
        {R"({"kind":"camera movie","convertible":true})",
         {"action.turn"},
         QueueText("state.ready")},
        {R"({"kind":"camera movie","convertible":false,"reason":"no ZATR audio tables at offset 9"})",
         {"action.details"},
         "no ZATR audio tables at offset 9"},
        {R"({"kind":"movie","ready":false,"spatial":"four undeclared channels","convertible":false,
             "reason":"it has 2 audio tracks: the first one (aac, 4 channels) would be converted and the others left out; keep only the ambisonic track in the movie"})",
         {"action.details"},
         QueueText("reason.tracks", {{"{count}", "2"}, {"{codec}", "aac"}, {"{channels}", "4"}})},
        {R"({"kind":"movie","ready":false,"spatial":"not spatial","convertible":false,
             "reason":"its audio has 6 channels, not the four of first-order ambisonics"})",
         {"action.details"},
         QueueText("reason.channels", {{"{channels}", "6"}})},
        {R"({"kind":"movie","ready":false,"spatial":"four undeclared channels","convertible":true,
             "sphericalV1":null,"sphericalV2":{"st3d":false,"sv3d":false}})",
         {"action.ambix", "action.fuma", "action.equirect", "action.turn"},
         QueueText("state.choose.both")},
        {R"({"kind":"movie","ready":true,"convertible":true})",
         {"action.turn", "action.details"},
         QueueText("state.alreadyready")},
        {R"({"kind":"not a movie","convertible":false,"reason":"libavformat cannot read it"})",
         {"action.details"},
         QueueText("skip.notmovie")},
    };
    TempDir dir;
    std::ofstream(dir.Path("movie.mp4")) << "m";
    for (const auto& c : cases) {
        ConversionQueue queue;
        const int id = queue.Add({dir.Path("movie.mp4")}, nullptr).front();
        const CheckVerdict verdict = VerdictOfCheck(c.line);
        if (verdict.alreadyReady) {
            queue.CheckedReady(id, verdict.duration);
        } else {
            queue.Checked(id, verdict.convertible, verdict.duration, verdict.whyNot, verdict.needs);
        }
        std::vector<std::string> offered;
        for (const RowAction& action : RowActions()) {
            if (action.offered(*queue.Find(id))) offered.push_back(action.key);
        }
        EXPECT_EQ(offered, c.offered) << c.line;
        const std::string state = ConversionQueue::StateText(*queue.Find(id));
        EXPECT_NE(state.find(c.state), std::string::npos) << state;
        EXPECT_EQ(state.find("not a camera movie"), std::string::npos) << state;
    }
}

// Details, refusals and sizes in Japanese: the report's labels, words and
// the reasons whose form is known; paths and figures as they are.
TEST(QueueInJapanese, DetailsRefusalsAndSizesAreTranslated) {
    struct Host : RowActionHost {
        void OpenWithDesktop(const std::string&, const std::string&) override {}
        void ShowReport(const std::string&, const std::string& shown) override { text = shown; }
        void Alert(const std::string&) override {}
        void CancelRow(int) override {}
        void ShowInFolder(const std::string&) override {}
        void Listen(int) override {}
        void StopListening(int) override {}
        void Replace(int) override {}
        void ChooseChannels(int, AmbisonicsChoice) override {}
        void ChooseEquirectangular(int, bool) override {}
        void ChooseRotation(int) override {}
        std::string text;
    } host;
    platform::SetLanguage("ja");
    QueueRow row;
    row.state = RowState::NotConvertible;
    ProgramEnd run;
    run.started = true;
    run.output =
        "/card/six.mp4: movie\n"
        "  audio: aac, 6 channels (5.1), 48000 Hz, 96000 samples\n"
        "  spherical video V1: none\n"
        "  ready for 360 players with first-order ambisonics: no\n"
        "    - the audio has 6 channels, not 4\n"
        "  360 audio: not spatial\n";
    for (const RowAction& action : RowActions()) {
        if (std::string(action.key) == "action.details") action.then(host, row, run);
    }
    const std::string verdict =
        VerdictOfCheck(
            R"({"kind":"movie","convertible":false,)"
            R"("reason":"its audio has 6 channels, not the four of first-order ambisonics"})")
            .whyNot;
    const std::string bytes = SizeText(48);
    platform::SetLanguage("");
    EXPECT_EQ(host.text,
              "/card/six.mp4: 動画\n"
              "  音声: aac, 6 channels (5.1), 48000 Hz, 96000 samples\n"
              "  360 度映像 V1: なし\n"
              "  1 次アンビソニックスの 360 度プレーヤーで再生できるか: いいえ\n"
              "    - 音声が 6 チャンネルで、4 チャンネルではありません\n"
              "  360 度の音声: 空間オーディオではありません\n");
    EXPECT_EQ(verdict, "音声が 6 チャンネルで、1 次アンビソニックスの 4 チャンネルではありません");
    EXPECT_EQ(bytes, "48 バイト");
    EXPECT_EQ(SizeText(48), "48 bytes");
}

// One row through a run: waiting, converting with its progress, and its
// end; Cancel stops a waiting row at once and a converting one through its
// child; a running row cannot be removed.
TEST_F(QueueTest, RowsGoThroughARun) {
    for (const char* name : {"A.MP4", "B.MP4", "C.MP4"}) Write(dir.Path(name), "0123456789");
    queue.Add({dir.Path("A.MP4"), dir.Path("B.MP4"), dir.Path("C.MP4")}, nullptr);
    CheckAll({"A.MP4", "B.MP4", "C.MP4"});
    ASSERT_EQ(queue.PlanRun(OutputChoice{}), 3);
    const int a = queue.Rows()[0].id;
    const int b = queue.Rows()[1].id;
    const int c = queue.Rows()[2].id;
    EXPECT_TRUE(queue.Running());

    EXPECT_EQ(queue.NextWaiting(), a);
    queue.Started(a);
    queue.Progressed(a, 40.0, "audio");
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(a)),
              QueueText("state.converting.phase",
                        {{"{percent}", "40"}, {"{phase}", QueueText("phase.audio")}}));
    EXPECT_FALSE(queue.Remove(a));
    EXPECT_EQ(queue.Totals().bytesDone, 4u);  // 40 % of 10 bytes
    queue.Converted(a, 7);

    queue.Started(b);
    EXPECT_FALSE(queue.RequestCancel(b)) << "its child has to stop first";
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(b)), QueueText("state.cancelling"));
    EXPECT_TRUE(queue.RequestCancel(c)) << "a waiting row stops at once";
    EXPECT_EQ(queue.Find(c)->state, RowState::Cancelled);
    EXPECT_EQ(queue.NextWaiting(), std::nullopt);
    queue.Cancelled(b);
    EXPECT_FALSE(queue.Running());

    const RunTotals totals = queue.Totals();
    EXPECT_EQ(totals.done, 3);
    EXPECT_EQ(totals.converted, 1);
    EXPECT_EQ(totals.cancelled, 2);
    EXPECT_EQ(totals.written, 7u);
    EXPECT_EQ(totals.bytesDone, totals.bytes);
    EXPECT_EQ(queue.Summary(42.0), QueueText("gui.summary", {{"{converted}", "1"},
                                                             {"{skipped}", "0"},
                                                             {"{failed}", "0"},
                                                             {"{cancelled}", "2"},
                                                             {"{size}", "7 bytes"},
                                                             {"{time}", "0:42"}}));
    // The cancelled ones go again with the next Convert; the converted one
    // does not.
    EXPECT_TRUE(queue.HasWork());
    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 2);
    EXPECT_EQ(queue.Find(a)->state, RowState::Converted);
}

// An output that was there already: its row knows it, and Replace puts it
// alone into a run of its own, once no run is going on. A headphone render
// shows in its row and keeps it in the list. The summary counts the whole
// queue, rows added since the last run too.
TEST_F(QueueTest, ExistingOutputsAreReplacedAndRendersShowInTheRow) {
    for (const char* name : {"A.MP4", "B.MP4", "B.mov"}) Write(dir.Path(name), "0123456789");
    queue.Add({dir.Path("A.MP4"), dir.Path("B.MP4")}, nullptr);
    CheckAll({"A.MP4", "B.MP4"});
    ASSERT_EQ(queue.PlanRun(OutputChoice{}), 1);
    const int a = queue.Rows()[0].id;
    const int b = queue.Rows()[1].id;
    EXPECT_TRUE(queue.Find(b)->outputExists);
    EXPECT_FALSE(queue.Find(a)->outputExists);
    EXPECT_FALSE(queue.Replace(b)) << "not while a run is going on";
    queue.Started(a);
    queue.Converted(a, 5);
    EXPECT_FALSE(queue.Replace(a)) << "only an existing output is replaced";

    queue.ListenStarted(a);
    queue.ListenProgressed(a, 55.4);
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(a)),
              QueueText("state.listening", {{"{percent}", "55"}}));
    EXPECT_FALSE(queue.Remove(a)) << "its render runs";
    queue.ListenEnded(a);
    EXPECT_EQ(queue.Find(a)->state, RowState::Converted);
    EXPECT_FALSE(queue.Find(a)->listening);

    Write(dir.Path("C.MP4"), "c");
    queue.Add({dir.Path("C.MP4")}, nullptr);
    queue.Checked(queue.Rows().back().id, true, 1.0, "");
    const std::string counts = QueueText("gui.summary", {{"{converted}", "1"},
                                                         {"{skipped}", "1"},
                                                         {"{failed}", "0"},
                                                         {"{cancelled}", "0"},
                                                         {"{size}", "5 bytes"},
                                                         {"{time}", "0:03"}});
    EXPECT_EQ(queue.Summary(3.0), counts + QueueText("gui.summary.ready", {{"{count}", "1"}}));

    ASSERT_TRUE(queue.Replace(b));
    EXPECT_EQ(queue.Find(b)->state, RowState::Waiting);
    EXPECT_TRUE(queue.Find(b)->replace);
    EXPECT_EQ(queue.NextWaiting(), b);
    EXPECT_EQ(queue.Totals().files, 1) << "the run of Replace is its row alone";
}

// The check's verdicts: a camera movie converts; a 360 movie that is ready
// already needs nothing and says so (not "not a camera movie"); one whose
// channels are declared converts; four undeclared channels, or a video
// without V1 and V2, convert once the user has said what they are.
TEST(CheckVerdict, TellsReadyDeclaredAndUndeclaredMoviesApart) {
    struct Case {
        const char* line;
        bool convertible;
        bool alreadyReady;
        std::string whyNot;
        bool needsChannels = false;
        bool needsProjection = false;
    };
    const Case cases[] = {
        {R"({"kind":"camera movie","convertible":true})", true, false, ""},
        {R"({"kind":"movie","ready":true,"spatial":"first-order ambisonics, declared"})", false,
         true, ""},
        {R"({"kind":"movie","ready":false,"spatial":"first-order ambisonics, declared",
             "sphericalV1":{"Spherical":"true"},"sphericalV2":{"st3d":false,"sv3d":false}})",
         true, false, ""},
        {R"({"kind":"movie","ready":false,"spatial":"first-order ambisonics, declared",
             "sphericalV1":null,"sphericalV2":{"st3d":true,"sv3d":true}})",
         true, false, ""},
        {R"({"kind":"movie","ready":false,"spatial":"four undeclared channels",
             "sphericalV1":null,"sphericalV2":{"st3d":false,"sv3d":false}})",
         true, false, "", true, true},
        {R"({"kind":"movie","ready":false,"spatial":"first-order ambisonics, declared",
             "sphericalV1":null,"sphericalV2":{"st3d":false,"sv3d":false}})",
         true, false, "", false, true},
        {R"({"kind":"movie","ready":false,"spatial":"not spatial"})", false, false,
         QueueText("skip.notcamera")},
    };
    for (const Case& c : cases) {
        const CheckVerdict verdict = VerdictOfCheck(c.line);
        EXPECT_EQ(verdict.convertible, c.convertible) << c.line;
        EXPECT_EQ(verdict.alreadyReady, c.alreadyReady) << c.line;
        EXPECT_EQ(verdict.whyNot, c.whyNot) << c.line;
        EXPECT_EQ(verdict.needs.channels, c.needsChannels) << c.line;
        EXPECT_EQ(verdict.needs.projection, c.needsProjection) << c.line;
    }
    ConversionQueue queue;
    TempDir dir;
    std::ofstream(dir.Path("ready.mov")) << "m";
    queue.Add({dir.Path("ready.mov")}, nullptr);
    queue.CheckedReady(queue.Rows()[0].id, 3.0);
    EXPECT_EQ(ConversionQueue::StateText(queue.Rows()[0]), QueueText("state.alreadyready"));
}

// A movie that says neither what its channels are nor that it is 360 waits
// for the user: Convert skips it with what it waits for (a camera movie
// beside it converts, offered no such choice); once both are said it is
// ready, and its child is told them.
TEST_F(QueueTest, AMovieThatDoesNotSayWhatItIsWaitsForTheChoices) {
    Write(dir.Path("foa.mp4"), "f");
    Write(dir.Path("R0010001.MP4"), "c");
    queue.Add({dir.Path("foa.mp4"), dir.Path("R0010001.MP4")}, nullptr);
    const int foa = Row("foa.mp4").id;
    const int camera = Row("R0010001.MP4").id;
    queue.Checked(foa, true, 2.0, "", MissingChoice{true, true});
    queue.Checked(camera, true, 2.0, "");
    EXPECT_TRUE(ChoiceOpen(*queue.Find(foa)));
    EXPECT_FALSE(ChoiceOpen(*queue.Find(camera)));
    EXPECT_FALSE(queue.ChooseChannels(camera, AmbisonicsChoice::FuMa));
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(foa)), QueueText("state.choose.both"));

    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 1);
    EXPECT_EQ(queue.Find(camera)->state, RowState::Waiting);
    EXPECT_EQ(queue.Find(foa)->state, RowState::Skipped);
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(foa)), QueueText("state.choose.both"));
    EXPECT_EQ(queue.Totals().skipped, 1);
    queue.Started(camera);
    queue.Converted(camera, 10);
    EXPECT_FALSE(queue.HasWork()) << "what waits for a choice is no work for Convert";

    EXPECT_FALSE(queue.ChooseChannels(foa, AmbisonicsChoice::FromMovie)) << "only AmbiX or FuMa";
    ASSERT_TRUE(queue.ChooseChannels(foa, AmbisonicsChoice::FuMa));
    EXPECT_EQ(queue.Find(foa)->state, RowState::Skipped);
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(foa)), QueueText("state.choose.projection"));
    ASSERT_TRUE(queue.ChooseEquirectangular(foa, true));
    EXPECT_EQ(queue.Find(foa)->state, RowState::Ready);
    EXPECT_TRUE(queue.HasWork());

    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 1);
    const QueueRow& row = *queue.Find(foa);
    EXPECT_EQ(row.state, RowState::Waiting) << row.message;
    EXPECT_FALSE(ChoiceOpen(row)) << "not changed while it converts";
    EXPECT_EQ(ChildArgumentsOf(row, "pcm"),
              (std::vector<std::string>{"--progress=machine", "--audio", "pcm", "--ambisonics",
                                        "fuma", "--projection", "equirectangular", "--",
                                        dir.Path("foa.mp4"), row.plan.partial}));
    EXPECT_EQ(ChildArgumentsOf(*queue.Find(camera), "").size(), 4u)
        << "a camera movie's child is told nothing of the kind";
}

// A row's sound is turned before it converts, and its child is told; a
// movie ready as it is becomes convertible while it is turned, and ready
// as it is again without a turn. Once it runs, the turn stays as it is.
TEST_F(QueueTest, ATurnOfTheSoundTravelsToTheChildAndShowsOnTheRow) {
    Write(dir.Path("R0010001.MP4"), "c");
    Write(dir.Path("ready.mp4"), "r");
    queue.Add({dir.Path("R0010001.MP4"), dir.Path("ready.mp4")}, nullptr);
    const int camera = Row("R0010001.MP4").id;
    const int ready = Row("ready.mp4").id;
    EXPECT_FALSE(queue.ChooseRotation(camera, {90, 0, 0})) << "not while it is checked";
    queue.Checked(camera, true, 2.0, "");
    queue.CheckedReady(ready, 2.0);
    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 1);
    EXPECT_EQ(ChildArgumentsOf(*queue.Find(camera), "").size(), 4u) << "no turn, no option";
    queue.Started(camera);
    EXPECT_FALSE(TurnOpen(*queue.Find(camera)));
    EXPECT_FALSE(queue.ChooseRotation(camera, {90, 0, 0})) << "not while it converts";
    queue.Failed(camera, "x");

    ASSERT_TRUE(queue.ChooseRotation(camera, {450, -10, 0}));
    EXPECT_EQ(queue.Find(camera)->rotateAudio, (AmbisonicRotation{90, -10, 0}));
    EXPECT_EQ(
        ConversionQueue::StateText(*queue.Find(camera)),
        QueueText("state.turned", {{"{state}", QueueText("state.failed", {{"{reason}", "x"}})},
                                   {"{yaw}", "90"},
                                   {"{pitch}", "-10"},
                                   {"{roll}", "0"}}));
    ASSERT_TRUE(queue.ChooseRotation(ready, {180, 0, 0}));
    EXPECT_EQ(queue.Find(ready)->state, RowState::Ready);
    EXPECT_EQ(queue.PlanRun(OutputChoice{}), 2);
    const QueueRow& row = *queue.Find(camera);
    const std::vector<std::string> arguments = ChildArgumentsOf(row, "pcm");
    EXPECT_EQ(arguments, (std::vector<std::string>{"--progress=machine", "--audio", "pcm",
                                                   "--rotate-audio=90,-10", "--",
                                                   dir.Path("R0010001.MP4"), row.plan.partial}));
    const std::vector<std::string> turned = ChildArgumentsOf(*queue.Find(ready), "");
    EXPECT_NE(std::find(turned.begin(), turned.end(), "--rotate-audio=180"), turned.end());
    queue.Started(ready);
    queue.Cancelled(ready);
    ASSERT_TRUE(queue.ChooseRotation(ready, {360, 0, 0}));
    EXPECT_EQ(queue.Find(ready)->state, RowState::NotConvertible);
    EXPECT_EQ(ConversionQueue::StateText(*queue.Find(ready)), QueueText("state.alreadyready"));
}

// A child's cause on a row is its own last sentence, never a line of
// FFmpeg's log that followed it on standard error.
TEST(ChildWords, FfmpegLogLinesAreNeverTakenForTheCause) {
    EXPECT_EQ(LastTextLine("spatialmux: the movie is cut short\n"
                           "[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55d64b489d80] moov atom not found\n"),
              "spatialmux: the movie is cut short");
    EXPECT_TRUE(IsEngineLogLine("[aac @ 0x5600] Input buffer exhausted"));
    EXPECT_FALSE(IsEngineLogLine("[1/3] converting A.mov"));
    EXPECT_FALSE(IsEngineLogLine("the file @ 0x10 [is] damaged"));
}

}  // namespace
}  // namespace spatialmux
