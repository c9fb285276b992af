// The verification of a finished output: a correct conversion passes, and
// an output broken in any of the ways it checks (a video packet lost or
// changed in size, audio instants missing, SA3D or the spherical uuid box
// gone) fails, also when the break is made inside a running conversion.
#include <gtest/gtest.h>

#include "audio/ByteOrder.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "control/convert/FinishedOutputCheck.h"
#include "control/convert/wrap_ffmpeg.h"
#include "output/OutputVerification.h"
#include "platform/LocalizedStrings.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/RecordingBackend.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

constexpr int32_t kSamples = 5000;

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void PutBe32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(value >> (24 - 8 * k));
}

// The ways a test breaks a finished output, each in place.
void DropLastVideoPacket(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    const auto stsz = testing::FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/stsz");
    ASSERT_TRUE(stsz);
    const uint64_t count = stsz->offset + 16;  // header, version and flags, sample size
    PutBe32(bytes, count, ReadBE32(bytes.data() + count) - 1);
    WriteFileBytes(path, bytes);
}

void ShrinkFirstVideoPacket(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    const auto stsz = testing::FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/stsz");
    ASSERT_TRUE(stsz);
    ASSERT_EQ(ReadBE32(bytes.data() + stsz->offset + 12), 0u) << "one size per packet";
    const uint64_t first = stsz->offset + 20;
    PutBe32(bytes, first, ReadBE32(bytes.data() + first) - 1);
    WriteFileBytes(path, bytes);
}

// Renames the first `type` box found inside `boxPath` (searched byte-wise).
void RenameBoxInside(const std::string& path, const std::string& boxPath, const char* type) {
    auto bytes = ReadFileBytes(path);
    const auto box = testing::FindBoxPath(bytes, boxPath);
    ASSERT_TRUE(box);
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(box->offset);
    const auto found =
        std::search(begin, begin + static_cast<std::ptrdiff_t>(box->size), type, type + 4);
    ASSERT_NE(found, begin + static_cast<std::ptrdiff_t>(box->size)) << type;
    *found = 'X';
    WriteFileBytes(path, bytes);
}

void DropSa3d(const std::string& path) {
    RenameBoxInside(path, "moov/trak#2/mdia/minf/stbl/stsd", "SA3D");
}
// The audio sample entry says 8 channels where SA3D (which libavformat
// believes) says 4.
void EightTrackChannels(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    const auto stsd = testing::FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    ASSERT_TRUE(stsd);
    uint8_t* entry = &bytes[stsd->offset + 16];
    if (ReadBE16(entry + 16) == 2) {
        WriteBE32(entry + 48, 8);
    } else {
        WriteBE16(entry + 24, 8);
    }
    WriteFileBytes(path, bytes);
}
void DropUuid(const std::string& path) {
    RenameBoxInside(path, "moov/trak#1", "uuid");
}

class OutputVerification : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = new TempDir;
        movie = testing::MakeMovie(*shared, "in.mp4", testing::SmallMovie(kSamples));
        converted = shared->Path("out.mov");
        const auto run = testing::RunProgram({movie.path, converted});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    static void TearDownTestSuite() { delete shared; }

    output::OutputVerdict VerifyBroken(const std::function<void(const std::string&)>& breakIt,
                                       int64_t instants = kSamples) {
        const std::string copy = dir.Path("copy.mov");
        std::filesystem::copy_file(converted, copy);
        breakIt(copy);
        return output::VerifyOutput(copy, {movie.path, instants, true});
    }

    static inline TempDir* shared = nullptr;
    static inline testing::TestMovie movie;
    static inline std::string converted;
    TempDir dir;
};

TEST_F(OutputVerification, ACorrectConversionPasses) {
    const auto verdict = output::VerifyOutput(converted, {movie.path, kSamples, true});
    EXPECT_TRUE(verdict.ok) << verdict.reason;
}

TEST_F(OutputVerification, EachBreakIsFoundAndNamed) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> breakIt;
        const char* reason;
    } cases[] = {
        {"a video packet dropped", DropLastVideoPacket, "video packets, the input"},
        {"a video packet shrunk", ShrinkFirstVideoPacket, "bytes, the input's"},
        // Without SA3D libavformat no longer reads the channels as ambisonics.
        {"SA3D dropped", DropSa3d, "not \"ambisonic 1\""},
        {"the spherical uuid dropped", DropUuid, "no spherical uuid box"},
        // A decoder reads the track's count, whatever SA3D says.
        {"the track says 8 channels", EightTrackChannels,
         "the output's audio track has 8 channels (the sample entry), not 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto verdict = VerifyBroken(c.breakIt);
        EXPECT_FALSE(verdict.ok);
        EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << verdict.reason;
        std::filesystem::remove(dir.Path("copy.mov"));
    }
    const auto shortAudio = VerifyBroken([](const std::string&) {}, kSamples + 1);
    EXPECT_FALSE(shortAudio.ok);
    EXPECT_NE(shortAudio.reason.find("sampling instants"), std::string::npos) << shortAudio.reason;
}

TEST_F(OutputVerification, NotAMovieFailsWithoutCrashing) {
    { std::ofstream(dir.Path("junk.mov")) << "no movie here"; }
    EXPECT_FALSE(output::VerifyOutput(dir.Path("junk.mov"), {movie.path, kSamples, true}).ok);
    EXPECT_FALSE(output::VerifyOutput(converted, {dir.Path("junk.mov"), kSamples, true}).ok);
}

// The whole job with an output broken right before its verification: the
// conversion fails with alert5 and leaves nothing behind.
TEST_F(OutputVerification, ABrokenOutputFailsTheConversionAndIsRemoved) {
    testing::RecordingBackend backend;
    platform::SetLanguage("en");
    for (const auto& breakIt : {std::function<void(const std::string&)>(DropLastVideoPacket),
                                std::function<void(const std::string&)>(DropSa3d)}) {
        TempDir job;
        const auto input = testing::MakeMovie(job, "in.mp4", testing::SmallMovie(2048));
        SetOutputTamperForTesting(breakIt);
        ::testing::internal::CaptureStdout();
        wrap_ffmpeg().AppMainFuncProc(input.path, job.Path("out.mov"), true);
        const std::string out = ::testing::internal::GetCapturedStdout();
        SetOutputTamperForTesting(nullptr);
        EXPECT_EQ(wrap_ffmpeg::LastJobResult(), JobResult::Failed);
        EXPECT_NE(out.find("error!! the finished output does not match the input"),
                  std::string::npos)
            << out;
        EXPECT_EQ(job.Entries(), std::vector<std::string>{"in.mp4"});
    }
    EXPECT_EQ(backend.Alerts(), std::vector<std::string>(2, platform::LocalizedString("alert5")));
    platform::SetLanguage("");
}

}  // namespace
}  // namespace spatialmux
