// What a batch conversion plans before it starts: the batch options on the
// command line, the movies found in folders, output names, clashes, and the
// small texts the batch prints.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "control/CommandLine.h"
#include "control/batch/BatchPlan.h"
#include "control/batch/BatchProgress.h"
#include "control/batch/BatchRun.h"
#include "control/job/HumanSize.h"
#include "platform/FileFacts.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using Mode = CommandLineRequest::Mode;
using testing::TempDir;

CommandLineRequest Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "spatialmux");
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

void Touch(const TempDir& dir, const std::string& name, const std::string& text = "x") {
    std::filesystem::create_directories(std::filesystem::path(dir.Path(name)).parent_path());
    std::ofstream(dir.Path(name)) << text;
}

std::vector<std::string> Names(const BatchPlan& plan) {
    std::vector<std::string> names;
    for (const BatchItem& item : plan.items) names.push_back(item.name);
    return names;
}

TEST(BatchCommandLine, OutputDirChoosesTheBatchAndTakesEveryInput) {
    const auto batch = Parse({"-o", "out", "a.MP4", "card", "b.mov"});
    EXPECT_EQ(batch.mode, Mode::Batch);
    EXPECT_EQ(batch.outputDir, "out");
    EXPECT_EQ(batch.paths, (std::vector<std::string>{"a.MP4", "card", "b.mov"}));
    EXPECT_EQ(batch.jobs, 1);
    EXPECT_FALSE(batch.overwrite);
    // Two inputs stay a batch: the output folder decides, not the count.
    EXPECT_EQ(Parse({"--output-dir", "out", "a", "b"}).mode, Mode::Batch);

    const auto full = Parse({"card", "--jobs", "3", "--overwrite", "--output-dir=out"});
    EXPECT_EQ(full.mode, Mode::Batch);
    EXPECT_EQ(full.jobs, 3);
    EXPECT_TRUE(full.overwrite);
    EXPECT_EQ(Parse({"-o", "out", "-j", "2", "card"}).jobs, 2);
    EXPECT_NE(CommandLineHelp().find(
                  "spatialmux -o DIR [-j N] [--overwrite] [--audio CODEC] [--format mov|mp4]"),
              std::string::npos);
    EXPECT_EQ(CommandLineHelp().find("--progress-fd"), std::string::npos) << "for children only";
}

TEST(BatchCommandLine, WrongBatchFormsAreWrong) {
    for (const auto& arguments : {
             std::vector<std::string>{"-o", "out"},    // no input
             std::vector<std::string>{"-o", "", "a"},  // no folder
             std::vector<std::string>{"-o", "out", "-j", "0", "a"},
             std::vector<std::string>{"-o", "out", "-j", "x", "a"},
             std::vector<std::string>{"-j", "2", "a", "b"},      // -j without -o
             std::vector<std::string>{"--overwrite", "a", "b"},  // --overwrite without -o
             std::vector<std::string>{"--check", "-o", "out", "a"},
             std::vector<std::string>{"-o", "out", "--json", "a"},
             std::vector<std::string>{"-o", "out", "--progress-fd", "3", "a"},
             std::vector<std::string>{"--progress-fd", "3", "a"},
         }) {
        EXPECT_EQ(Parse(arguments).mode, Mode::Wrong) << ::testing::PrintToString(arguments);
    }
}

TEST(BatchCommandLine, ChildFormKeepsTheConversionAndItsDashedInput) {
    const auto child = Parse({"--progress-fd", "3", "--", "-clip.MP4", "out/.x.mov"});
    EXPECT_EQ(child.mode, Mode::Convert);
    EXPECT_EQ(child.progressFd, 3);
    EXPECT_EQ(child.paths, (std::vector<std::string>{"-clip.MP4", "out/.x.mov"}));
    EXPECT_EQ(Parse({"in.MP4", "out.mov"}).progressFd, -1);
}

TEST(BatchNames, OutputAndPartialNames) {
    EXPECT_EQ(OutputFileName("A.MP4"), "A.mov");
    EXPECT_EQ(OutputFileName("card/100/clip.v2.mp4"), "clip.v2.mov");
    EXPECT_EQ(OutputFileName("notes"), "notes.mov");
    EXPECT_EQ(OutputFileName(".hidden"), ".hidden.mov");
    EXPECT_EQ(PartialFileName("A.mov"), ".A.spatialmux-partial.mov");
    for (const char* name : {"a.mp4", "A.MP4", "b.Mov", "c.mOV"})
        EXPECT_TRUE(IsMovieFileName(name));
    for (const char* name : {"a.mp3", "mp4", "a.mp4.txt", "A.MP", ".mov"})
        EXPECT_EQ(IsMovieFileName(name), std::string(name) == ".mov") << name;
}

TEST(BatchPlanning, FoldersGiveTheirMoviesInNameOrderAndLeaveOutTheRest) {
    TempDir dir;
    Touch(dir, "card/200/B.mp4");
    Touch(dir, "card/100/C.MOV");
    Touch(dir, "card/100/A.MP4");
    Touch(dir, "card/100/notes.txt");
    Touch(dir, "card/100/._A.MP4");   // resource forks a Mac leaves on cards
    Touch(dir, "card/.trash/D.MP4");  // hidden folders too
    Touch(dir, "card/out/E.mov");     // the output folder's own files
    Touch(dir, "single.txt");
    const BatchPlan plan =
        PlanBatch({dir.Path("single.txt"), dir.Path("card")}, dir.Path("card/out"));
    EXPECT_TRUE(plan.problems.empty()) << plan.problems.front();
    // A file named on the command line is taken whatever it is.
    EXPECT_EQ(Names(plan), (std::vector<std::string>{"single.txt", "A.MP4", "C.MOV", "B.mp4"}));
    ASSERT_EQ(plan.items.size(), 4u);
    EXPECT_EQ(plan.items[1].output, dir.Path("card/out/A.mov"));
    EXPECT_EQ(plan.items[1].partial, dir.Path("card/out/.A.spatialmux-partial.mov"));
    EXPECT_EQ(plan.items[1].inputSize, 1u);
    EXPECT_FALSE(plan.items[1].outputIsInput);
}

TEST(BatchPlanning, ClashesAndMissingInputsAreProblemsAndRepeatsAreTakenOnce) {
    TempDir dir;
    Touch(dir, "card/100/A.MP4");
    Touch(dir, "card/200/A.MP4");
    Touch(dir, "card/200/b.mp4");
    Touch(dir, "card/300/B.MOV");  // b.mov and B.mov are one name on a card
    const BatchPlan plan = PlanBatch(
        {dir.Path("card"), dir.Path("card/100/A.MP4"), dir.Path("missing.MP4")}, dir.Path("out"));
    ASSERT_EQ(plan.problems.size(), 3u);
    EXPECT_EQ(plan.problems[0], dir.Path("missing.MP4") + ": no such file or folder");
    EXPECT_EQ(plan.problems[1], dir.Path("card/100/A.MP4") + " and " + dir.Path("card/200/A.MP4") +
                                    " would both be written to " + dir.Path("out/A.mov"));
    EXPECT_NE(plan.problems[2].find("would both be written to " + dir.Path("out/B.mov")),
              std::string::npos)
        << plan.problems[2];
    // card/100/A.MP4 named a second time is the same file: no clash with itself.
    EXPECT_EQ(Names(plan), (std::vector<std::string>{"A.MP4", "b.mp4"}));
}

TEST(BatchPlanning, AMovieThatWouldBeItsOwnOutputIsNamedBesideItself) {
    // A folder converted into itself: C.mov and D.mov are their own outputs
    // by name, D-360.mp4 takes D-360.mov first; A.mov and B-360.mov are the
    // outputs of an earlier run (of A.MP4, of B.mov), never converted again.
    TempDir dir;
    for (const char* name :
         {"A.MP4", "A.mov", "B.mov", "B-360.mov", "C.mov", "D.mov", "D-360.mp4"}) {
        Touch(dir, std::string("here/") + name);
    }
    const BatchPlan plan = PlanBatch({dir.Path("here")}, dir.Path("here"));
    EXPECT_TRUE(plan.problems.empty()) << plan.problems.front();
    const struct {
        const char* name;
        const char* output;
        bool isInput;
        bool anotherInput;
    } expected[] = {
        {"A.MP4", "A.mov", false, true},         {"A.mov", "A.mov", true, false},
        {"B-360.mov", "B-360.mov", true, false}, {"B.mov", "B-360.mov", false, true},
        {"C.mov", "C-360.mov", false, false},    {"D-360.mp4", "D-360.mov", false, false},
        {"D.mov", "D-360-2.mov", false, false},
    };
    ASSERT_EQ(plan.items.size(), std::size(expected));
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const BatchItem& item = plan.items[i];
        EXPECT_EQ(item.name, expected[i].name);
        EXPECT_EQ(item.output, dir.Path(std::string("here/") + expected[i].output)) << item.name;
        EXPECT_EQ(item.outputIsInput, expected[i].isInput) << item.name;
        EXPECT_EQ(item.outputIsAnotherInput, expected[i].anotherInput) << item.name;
    }
    EXPECT_EQ(plan.items[4].partial, dir.Path("here/.C-360.spatialmux-partial.mov"));

    // By identity: the output's name is a link to the movie.
    Touch(dir, "in/C.MP4");
    std::filesystem::create_directories(dir.Path("out"));
    std::filesystem::create_hard_link(dir.Path("in/C.MP4"), dir.Path("out/C.mov"));
    const BatchPlan linked = PlanBatch({dir.Path("in/C.MP4")}, dir.Path("out"));
    ASSERT_EQ(linked.items.size(), 1u);
    EXPECT_EQ(linked.items[0].output, dir.Path("out/C-360.mov"));

    // -360, then -2, -3, ...
    const std::set<std::string> taken = {"A-360.mp4", "A-360-2.mp4"};
    EXPECT_EQ(OutputNameBesideItself("A.MP4", ".mp4",
                                     [&taken](const std::string& n) { return taken.count(n) > 0; }),
              "A-360-3.mp4");
    EXPECT_EQ(
        OutputNameBesideItself("clip.v2.mov", ".mov", [](const std::string&) { return false; }),
        "clip.v2-360.mov");
}

// A card that does not tell letter case apart, as the file facts see it.
class CaseBlindCard : public platform::FileFacts {
public:
    bool SameFile(const std::string& a, const std::string& b) const override {
        std::string la = a, lb = b;
        for (std::string* s : {&la, &lb}) {
            for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return la == lb ? platform::FileFacts::SameFile(a, a) : platform::FileFacts::SameFile(a, b);
    }
};

TEST(BatchPlanning, OnACardThatDoesNotTellCaseApartTheMovieIsNeverItsOwnOutput) {
    TempDir dir;
    Touch(dir, "card/R0010001.MP4");
    Touch(dir, "card/R0010002.mp4");
    CaseBlindCard card;
    platform::InstallFileFacts(&card);
    const BatchPlan plan = PlanBatch({dir.Path("card")}, dir.Path("card"), ".mp4");
    platform::InstallFileFacts(nullptr);
    ASSERT_EQ(plan.items.size(), 2u);
    EXPECT_EQ(plan.items[0].output, dir.Path("card/R0010001-360.mp4"));
    EXPECT_EQ(plan.items[1].output, dir.Path("card/R0010002-360.mp4"));

    // On this folder, which tells case apart, two spellings are two files,
    // and a spelling with no file is none.
    EXPECT_FALSE(platform::SameNameInAnotherCase(dir.Path("card/R0010001.MP4"),
                                                 dir.Path("card/R0010001.mp4")));
    Touch(dir, "card/R0010001.mp4");
    EXPECT_FALSE(platform::SameNameInAnotherCase(dir.Path("card/R0010001.MP4"),
                                                 dir.Path("card/R0010001.mp4")));
    EXPECT_FALSE(platform::CurrentFileFacts().SameFile(dir.Path("card/R0010001.MP4"),
                                                       dir.Path("card/R0010001.mp4")));
}

TEST(BatchTexts, ProgressLineSizesAndDurations) {
    BatchTotals totals;
    totals.filesDone = 2;
    totals.filesTotal = 5;
    totals.bytesDone = 1'200'000'000;
    totals.bytesTotal = 4'500'000'000;
    EXPECT_EQ(BatchProgress::Line(totals, std::nullopt), "2/5 files  1.2 GB of 4.5 GB");
    EXPECT_EQ(BatchProgress::Line(totals, 85'300'000.0),
              "2/5 files  1.2 GB of 4.5 GB  85.3 MB/s  0:39 left");
    EXPECT_EQ(BatchProgress::Line(totals, 0.0), "2/5 files  1.2 GB of 4.5 GB  0.0 MB/s");
    EXPECT_EQ(HumanDuration(0.4), "0:00");
    EXPECT_EQ(HumanDuration(754), "12:34");
    EXPECT_EQ(HumanDuration(3723), "1:02:03");
    EXPECT_EQ(HumanDuration(-5), "0:00");
    EXPECT_EQ(HumanSize(999), "999 bytes");
    EXPECT_EQ(HumanSize(340'500'000), "340.5 MB");
}

TEST(BatchTexts, RateFollowsTheLastSecondsOnly) {
    BatchProgress progress(stderr, false);
    BatchTotals totals;
    EXPECT_FALSE(progress.Rate());
    progress.Update(0.0, totals);
    totals.bytesDone = 100;
    progress.Update(0.1, totals);
    EXPECT_FALSE(progress.Rate()) << "too short a span to tell";
    // 10 bytes a second for ten seconds, then 1000 a second.
    for (int second = 1; second <= 10; ++second) {
        totals.bytesDone = 100 + 10 * static_cast<uint64_t>(second);
        progress.Update(second, totals);
    }
    EXPECT_NEAR(*progress.Rate(), 10.0, 0.5);
    for (int second = 11; second <= 20; ++second) {
        totals.bytesDone += 1000;
        progress.Update(second, totals);
    }
    EXPECT_NEAR(*progress.Rate(), 1000.0, 1.0);
}

TEST(BatchTexts, ChildFailureReasonIsItsErrorElseItsAlertElseItsLastLine) {
    const std::vector<std::string> alerts = {"Not enough space.", "The conversion failed."};
    EXPECT_EQ(ChildFailureReason("", alerts), "");
    // Messages that do not end their lines run into each other.
    EXPECT_EQ(ChildFailureReason("1000.0 2000.0\nwrite file name = x.waverror!! could not write "
                                 "the temporary WAV\nThe conversion failed.\n",
                                 alerts),
              "could not write the temporary WAV");
    EXPECT_EQ(ChildFailureReason("error!! the input is goneThe conversion failed.\n", alerts),
              "the input is gone");
    EXPECT_EQ(ChildFailureReason("error!!\nwrite file name = x.wavError muxing packetThe "
                                 "conversion failed.\n",
                                 alerts),
              "The conversion failed.");
    EXPECT_EQ(ChildFailureReason("Not enough space.\nThe conversion failed.\nNot enough space.\n",
                                 alerts),
              "Not enough space.");
    EXPECT_EQ(ChildFailureReason("[###...] 10%\r[######] 20%\r\nsomething else\n\n", alerts),
              "something else");
    EXPECT_EQ(ChildFailureReason("[###...] 10%\r[######] 20%\r\n", alerts), "[######] 20%");
}

}  // namespace
}  // namespace spatialmux
