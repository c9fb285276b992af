#include <gtest/gtest.h>

#include <ostream>

#include "shell/OutputNaming.h"

namespace spatialmux {
namespace {

struct NameCase {
    const char* input;
    const char* proposed;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << '"' << c.input << '"';
}

class ProposedNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(ProposedNameTest, RemovesEveryExactMp4Spelling) {
    EXPECT_EQ(ProposedOutputName(GetParam().input), GetParam().proposed);
}

INSTANTIATE_TEST_SUITE_P(Names, ProposedNameTest,
                         testing::Values(NameCase{"trip01.MP4", "trip01"},
                                         NameCase{"clip.mp4.MP4", "clip"},
                                         NameCase{"take.mp4_copy.mov", "take_copy.mov"},
                                         NameCase{"A.Mp4", "A.Mp4"}, NameCase{"a.MP4.mp4", "a"},
                                         // Only occurrences of the original name go: a
                                         // removal does not make a new one count.
                                         NameCase{".mp.mp44", ".mp4"},
                                         NameCase{"my movie.MP4", "my movie"}, NameCase{"", ""}));

// The proposal beside the input is never the input's own name, which the
// dialog would offer to replace.
TEST(ProposedNameBesideTheInputTest, NeverProposesTheInputItself) {
    const NameCase cases[] = {
        {"clip.mov", "clip-360.mov"},
        {"CLIP.MOV", "CLIP-360.MOV"},
        {"take.mp4.mov", "take.mov"},
        {"trip01.MP4", "trip01"},
        {"clip", "clip"},
        {"a.Mov", "a-360.Mov"},
        {".mov", ".mov"},
        {"A.Mp4", "A-360.Mp4"},
    };
    for (const NameCase& c : cases) {
        const std::string proposed = ProposedOutputNameBeside(c.input);
        EXPECT_NE(WithMovieExtension(proposed), c.input) << c.input;
        EXPECT_EQ(proposed, c.proposed) << c.input;
    }
}

struct PathCase {
    const char* path;
    const char* folder;
    const char* last;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << '"' << c.path << '"';
}

class PathComponentTest : public testing::TestWithParam<PathCase> {};

TEST_P(PathComponentTest, SplitsFolderAndName) {
    EXPECT_EQ(DeletingLastPathComponent(GetParam().path), GetParam().folder);
    EXPECT_EQ(LastPathComponent(GetParam().path), GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathComponentTest,
    testing::Values(PathCase{"/Volumes/card/trip01.MP4", "/Volumes/card", "trip01.MP4"},
                    PathCase{"/home/me/My Movies/a b.mp4", "/home/me/My Movies", "a b.mp4"},
                    PathCase{"/trip01.MP4", "/", "trip01.MP4"},
                    PathCase{"trip01.MP4", "", "trip01.MP4"}, PathCase{"/a/b/", "/a", "b"},
                    PathCase{"/a//b", "/a", "b"}, PathCase{"/", "/", "/"}, PathCase{"", "", ""}));

struct ExtensionCase {
    const char* chosen;
    const char* written;
};

void PrintTo(const ExtensionCase& c, std::ostream* os) {
    *os << '"' << c.chosen << '"';
}

class MovieExtensionTest : public testing::TestWithParam<ExtensionCase> {};

TEST_P(MovieExtensionTest, WritesAMovFileUnlessAnMp4IsNamed) {
    EXPECT_EQ(WithMovieExtension(GetParam().chosen), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Extensions, MovieExtensionTest,
                         testing::Values(ExtensionCase{"/m/trip01.mov", "/m/trip01.mov"},
                                         ExtensionCase{"/m/trip01.MOV", "/m/trip01.MOV"},
                                         ExtensionCase{"/m/trip01", "/m/trip01.mov"},
                                         ExtensionCase{"/m/A.Mp4", "/m/A.Mp4"},
                                         ExtensionCase{"/m/A.mp4.x", "/m/A.mp4.x.mov"},
                                         ExtensionCase{"/m/.mp4", "/m/.mp4.mov"},
                                         ExtensionCase{"/m.mov/clip", "/m.mov/clip.mov"},
                                         ExtensionCase{"/m/.mov", "/m/.mov.mov"}));

}  // namespace
}  // namespace spatialmux
