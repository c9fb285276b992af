// The pieces that keep an output safe, on their own: the hidden names, the
// exclusive creation, the lock and the commit by rename.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "control/job/OutputCommit.h"
#include "control/job/OutputContainer.h"
#include "control/job/TemporaryNames.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileLock.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TemporaryNames, StayBesideTheOutputWithTheRealExtensionLast) {
    const auto names = TemporaryNames::For("/data/clips/trip.mov");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->Output("abc123"), "/data/clips/.trip.mov.spatialmux-abc123.mov");
    EXPECT_EQ(names->Wav("abc123"), "/data/clips/.trip.mov.spatialmux-abc123.wav");
    EXPECT_EQ(names->Lock(), "/data/clips/.trip.mov.spatialmux-lock");
    EXPECT_EQ(TemporaryNames::For("trip.MOV")->Output("abc123"),
              "./.trip.MOV.spatialmux-abc123.MOV");
    EXPECT_EQ(TemporaryNames::For("/trip.mov")->Lock(), "/.trip.mov.spatialmux-lock");
}

TEST(TemporaryNames, LongNamesAreCutToFitAndStayApart) {
    const std::string a = std::string(240, 'a') + "-one.mov";
    const std::string b = std::string(240, 'a') + "-two.mov";
    const auto first = TemporaryNames::For("/x/" + a);
    const auto second = TemporaryNames::For("/x/" + b);
    ASSERT_TRUE(first && second);
    for (const std::string& path : {first->Output("abc123"), first->Wav("abc123"), first->Lock()}) {
        EXPECT_LE(fs::path(path).filename().string().size(), 255u) << path;
    }
    EXPECT_EQ(first->Output("abc123").substr(first->Output("abc123").size() - 4), ".mov");
    EXPECT_NE(first->Lock(), second->Lock());
    // A name cut inside a multi-byte character would not be valid UTF-8.
    const auto japanese = TemporaryNames::For("/x/" + std::string(80, 'a') + [] {
        std::string kana;
        for (int i = 0; i < 60; ++i) kana += "あ";
        return kana;
    }() + ".mov");
    ASSERT_TRUE(japanese);
    const std::string name = fs::path(japanese->Lock()).filename().string();
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.find("\xE3\x81~"), std::string::npos);
    EXPECT_EQ(name.find("\xE3~"), std::string::npos);
}

TEST(TemporaryNames, KnowTheirOwnKindAndNothingElse) {
    const auto names = TemporaryNames::For("dir/out.mov");
    ASSERT_TRUE(names);
    EXPECT_TRUE(names->IsTemporary(".out.mov.spatialmux-x7k2q9.mov"));
    EXPECT_TRUE(names->IsTemporary(".out.mov.spatialmux-x7k2q9.wav"));
    for (const char* other :
         {".out.mov.spatialmux-lock", ".out.mov.spatialmux-partial.mov",  // a batch's partial
          ".out.mov.spatialmux-X7K2Q9.mov", ".out.mov.spatialmux-x7k2q9.mp4", "out.mov",
          ".out.mov.wav", ".other.mov.spatialmux-x7k2q9.mov"}) {
        EXPECT_FALSE(names->IsTemporary(other)) << other;
    }
}

TEST(OutputContainer, FollowsTheExtension) {
    EXPECT_EQ(ContainerFor("a/b.mov"), OutputContainer::Mov);
    EXPECT_EQ(ContainerFor("B.MOV"), OutputContainer::Mov);
    EXPECT_EQ(ContainerFor("b.mp4"), OutputContainer::Mp4);
    EXPECT_EQ(ContainerFor("b.M4V"), OutputContainer::Mp4);
    EXPECT_EQ(ContainerFor("b.mkv"), OutputContainer::Unsupported);
    EXPECT_EQ(ContainerFor("a.mov/b"), OutputContainer::Unsupported);
    EXPECT_EQ(ContainerFor(".mov"), OutputContainer::Unsupported);
    EXPECT_TRUE(ContainerCarriesConversion(OutputContainer::Mov));
    EXPECT_TRUE(ContainerCarriesConversion(OutputContainer::Mp4));
}

TEST(ExclusiveFile, NeverOpensWhatHasTheNameAlready) {
    TempDir dir;
    { std::ofstream(dir.Path("victim")) << "keep"; }
    fs::create_symlink(dir.Path("victim"), dir.Path("link"));
    fs::create_symlink(dir.Path("nowhere"), dir.Path("dangling"));
    for (const char* name : {"victim", "link", "dangling"}) {
        int error = 0;
        EXPECT_FALSE(platform::CreateExclusive(dir.Path(name), &error)) << name;
        EXPECT_EQ(error, EEXIST) << name;
    }
    EXPECT_EQ(ReadText(dir.Path("victim")), "keep");
    EXPECT_FALSE(fs::exists(dir.Path("nowhere")));

    const auto made = platform::CreateExclusive(dir.Path("new"));
    ASSERT_TRUE(made);
    const auto identity = platform::IdentityOfFd(made->Get());
    ASSERT_TRUE(identity);
    // Replaced by another file under the same name: not removed.
    fs::rename(dir.Path("victim"), dir.Path("new"));
    EXPECT_TRUE(platform::RemoveIfSameFile(dir.Path("new"), identity->device, identity->inode));
    EXPECT_EQ(ReadText(dir.Path("new")), "keep");
}

TEST(FileLock, OneHolderAtATimeAndTheFileGoesWithTheLock) {
    TempDir dir;
    const std::string path = dir.Path(".lock");
    std::optional<platform::FileLock> first;
    ASSERT_EQ(platform::FileLock::TryAcquire(path, first), platform::FileLock::Result::Held);
    std::optional<platform::FileLock> second;
    EXPECT_EQ(platform::FileLock::TryAcquire(path, second), platform::FileLock::Result::Busy);
    first.reset();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(platform::FileLock::TryAcquire(path, second), platform::FileLock::Result::Held);
}

TEST(OutputCommit, TheOutputNameIsTouchedOnlyByTheCommit) {
    TempDir dir;
    const std::string output = dir.Path("out.mov");
    { std::ofstream(output) << "earlier"; }
    std::string why;
    {
        auto commit = OutputCommit::Begin(output, &why);
        ASSERT_TRUE(commit) << why;
        EXPECT_EQ(fs::path(commit->TemporaryPath()).parent_path(), dir.Root());
        ASSERT_GE(commit->Fd(), 0);
        ASSERT_EQ(write(commit->Fd(), "new", 3), 3);
        auto wav = commit->CreateCompanion(".wav", &why);
        ASSERT_TRUE(wav) << why;
        // A second run to the same output meanwhile is refused.
        OutputCommit::Refusal refusal = OutputCommit::Refusal::None;
        EXPECT_FALSE(OutputCommit::Begin(output, &why, &refusal));
        EXPECT_EQ(refusal, OutputCommit::Refusal::Busy);
        EXPECT_EQ(ReadText(output), "earlier");
    }  // ended without a commit
    EXPECT_EQ(ReadText(output), "earlier");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.mov"});

    auto commit = OutputCommit::Begin(output, &why);
    ASSERT_TRUE(commit) << why;
    ASSERT_EQ(write(commit->Fd(), "new", 3), 3);
    ASSERT_TRUE(commit->CreateCompanion(".wav", &why));
    ASSERT_TRUE(commit->Commit(&why)) << why;
    EXPECT_EQ(ReadText(output), "new");
    commit.reset();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.mov"});
}

}  // namespace
}  // namespace spatialmux
