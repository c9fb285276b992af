// The values a conversion derives from its job: the temporary WAV path, the
// gain, and the console's progress line.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "control/ConsoleProgress.h"
#include "control/job/TemporaryNames.h"
#include "movie/GainChoice.h"

namespace spatialmux {
namespace {

TEST(TemporaryWavPath, LiesHiddenBesideTheOutput) {
    const struct {
        const char* output;
        const char* wav;
    } cases[] = {
        {"/data/clips/trip.mov", "/data/clips/.trip.mov.wav"},
        {"trip.mov", "./.trip.mov.wav"},  // bare name: the current folder, never the root
        {"/trip.mov", "/.trip.mov.wav"},
        {"sub/dir/a b.MP4", "sub/dir/.a b.MP4.wav"},
        {"./x.mov", "./.x.mov.wav"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TemporaryWavPath(c.output), c.wav) << c.output;
    }
}

TEST(TemporaryWavPath, HandlesPathsLongerThan255Bytes) {
    const std::string folder = "/tmp/" + std::string(300, 'f');
    const std::string name(200, 'n');
    EXPECT_EQ(TemporaryWavPath(folder + "/" + name), folder + "/." + name + ".wav");
}

uint32_t Bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

TEST(GainChoice, RecognisedModelFollowsTheMakerNoteFlag) {
    EXPECT_EQ(Bits(ChooseGain("ZORVA VELIX V Ver 1.1", false)), 0x3FB4CE08u);
    EXPECT_EQ(Bits(ChooseGain("ZORVA VELIX V Ver 1.1", true)), 0x3F353BEFu);
    // A longer version number is still the recognised model.
    EXPECT_EQ(Bits(ChooseGain("ZORVA VELIX V Ver 1.12", true)), 0x3F353BEFu);
    EXPECT_EQ(Bits(ChooseGain("ZORVA VELIX V Ver 1.1 build 7", false)), 0x3FB4CE08u);
}

TEST(GainChoice, AnythingElseGetsTheDefaultWhateverTheFlag) {
    for (const char* text : {" ZORVA VELIX V Ver 1.1", "zorva velix v ver 1.1",
                             "ZORVA VELIX V Ver 1.", "", "ZORVA VELIX V Ver 2.0", "OTHER CAMERA"}) {
        EXPECT_EQ(Bits(ChooseGain(text, false)), 0x3FB4CE08u) << '"' << text << '"';
        EXPECT_EQ(Bits(ChooseGain(text, true)), 0x3FB4CE08u) << '"' << text << '"';
    }
}

TEST(ConsoleProgress, LineShowsPercentageAndFileNames) {
    EXPECT_EQ(ConsoleProgress::Line(62.5f, "trip01.MP4", "trip01.mov"),
              "[##################............]  62.5%  trip01.MP4 -> trip01.mov");
    EXPECT_NE(ConsoleProgress::Line(0.0f, "a", "b").find("  0.0%"), std::string::npos);
    EXPECT_NE(ConsoleProgress::Line(100.0f, "a", "b").find("100.0%"), std::string::npos);
    // Values outside the scale are drawn at its ends.
    EXPECT_EQ(ConsoleProgress::Line(150.0f, "a", "b"), ConsoleProgress::Line(100.0f, "a", "b"));
    EXPECT_EQ(ConsoleProgress::Line(-3.0f, "a", "b"), ConsoleProgress::Line(0.0f, "a", "b"));
}

}  // namespace
}  // namespace spatialmux
