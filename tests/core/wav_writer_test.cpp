// The temporary WAV: its header, its sample layout and that every failure
// reaches the caller.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/WavWriter.h"
#include "support/CaptureStdout.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
    return ReadLE32(b.data() + at);
}

int16_t Le16(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<int16_t>(ReadLE16(b.data() + at));
}

struct Channels {
    std::vector<float> a, b, c, d;
    explicit Channels(float va = 0, float vb = 0, float vc = 0, float vd = 0)
        : a(1024, va), b(1024, vb), c(1024, vc), d(1024, vd) {}
};

class WavFrames : public ::testing::TestWithParam<int> {};

TEST_P(WavFrames, HeaderDescribesTheFramesWritten) {
    TempDir dir;
    const std::string path = dir.Path(".out.mov.wav");
    const int frames = GetParam();
    Channels channels;
    WavWriter writer;
    testing::CaptureStdout();
    writer.Open(path);
    for (int i = 0; i < frames; ++i) {
        writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(),
                          channels.d.data(), 1024);
    }
    ASSERT_TRUE(writer.Finish());
    std::fflush(stdout);
    EXPECT_EQ(testing::CapturedStdout(), "write file name = " + path + "\n");
    EXPECT_FALSE(writer.Failed());

    const auto bytes = ReadFileBytes(path);
    const uint32_t data = 8192u * static_cast<uint32_t>(frames);
    ASSERT_EQ(bytes.size(), 44u + data);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(bytes, 4), 36u + data);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(bytes, 16), 16u);
    const std::vector<uint8_t> format = {0x01, 0x00, 0x04, 0x00, 0x80, 0xBB, 0x00, 0x00,
                                         0x00, 0xDC, 0x05, 0x00, 0x08, 0x00, 0x10, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 20, bytes.begin() + 36), format);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(Le32(bytes, 40), data);
    EXPECT_EQ(writer.DataByteCount(), data);
}

INSTANTIATE_TEST_SUITE_P(Counts, WavFrames, ::testing::Values(0, 1, 3));

TEST(WavWriter, InterleavesTheArraysInArgumentOrder) {
    TempDir dir;
    const std::string path = dir.Path("order.wav");
    // Distinct values per argument, and an impulse at the first instant of
    // the first argument.
    Channels channels(0.5f, -0.25f, 0.75f, -1.0f);
    channels.a[0] = 1.0f;
    WavWriter writer;
    writer.Open(path);
    writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(), channels.d.data(),
                      1024);
    ASSERT_TRUE(writer.Finish());

    const auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 44u + 8192u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.begin() + 46),
              (std::vector<uint8_t>{0xFF, 0x7F}));
    for (std::size_t instant : {std::size_t{1}, std::size_t{1023}}) {
        const std::size_t at = 44 + instant * 8;
        EXPECT_EQ(Le16(bytes, at + 0), 16383) << instant;
        EXPECT_EQ(Le16(bytes, at + 2), -8191) << instant;
        EXPECT_EQ(Le16(bytes, at + 4), 24575) << instant;
        EXPECT_EQ(Le16(bytes, at + 6), -32767) << instant;
    }
}

// The headphone render's WAV: two channels at the movie's rate, rounded to
// the nearest sample and held within range, opened without a word, and
// refusing the four-channel frames of a conversion.
TEST(WavWriter, AStereoWriterRoundsAndHoldsItsSamples) {
    TempDir dir;
    const std::string path = dir.Path("ears.wav");
    WavWriter writer(2, 44100);
    testing::CaptureStdout();
    writer.Open(path);
    const std::vector<float> samples(3000 * 2, 0.5f);  // more than one frame's worth
    writer.WriteInterleaved(samples.data(), 3000);
    const float edges[] = {1.5f, -1.5f, 0.25f / 32767.0f, -0.75f / 32767.0f, std::nanf(""), -1.0f};
    writer.WriteInterleaved(edges, 3);
    ASSERT_TRUE(writer.Finish());
    std::fflush(stdout);
    EXPECT_EQ(testing::CapturedStdout(), "");

    const auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), WavWriter::kHeaderSize + 3003u * 4);
    EXPECT_EQ(ReadLE16(bytes.data() + 22), 2);  // channels
    EXPECT_EQ(Le32(bytes, 24), 44100u);         // rate
    EXPECT_EQ(Le32(bytes, 28), 44100u * 4);     // bytes a second
    EXPECT_EQ(ReadLE16(bytes.data() + 32), 4);  // bytes an instant
    EXPECT_EQ(Le32(bytes, 40), 3003u * 4);      // data
    EXPECT_EQ(Le16(bytes, 44), 16384);          // 0.5 x 32767, rounded
    const std::size_t tail = WavWriter::kHeaderSize + 3000u * 4;
    const int16_t expected[] = {32767, -32768, 0, -1, 0, -32767};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Le16(bytes, tail + 2 * i), expected[i]) << i;

    Channels channels;
    WavWriter stereo(2, 48000);
    stereo.Open(dir.Path("refused.wav"));
    stereo.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(), channels.d.data(),
                      16);
    EXPECT_TRUE(stereo.Failed());
    EXPECT_FALSE(stereo.Finish());
}

TEST(WavWriter, ReplacesAnExistingFile) {
    TempDir dir;
    const std::string path = dir.Path("old.wav");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(100000, 'x');
    }
    WavWriter writer;
    writer.Open(path);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFileBytes(path).size(), 44u);
}

TEST(WavWriter, ACountAboveTheFrameIsRefused) {
    TempDir dir;
    std::vector<float> big(2048, 0.5f);
    for (int32_t count : {1025, -1}) {
        WavWriter writer;
        writer.Open(dir.Path("big.wav"));
        writer.WriteFrame(big.data(), big.data(), big.data(), big.data(), count);
        EXPECT_TRUE(writer.Failed()) << count;
        EXPECT_EQ(writer.DataByteCount(), 0u) << count;
        EXPECT_FALSE(writer.Finish()) << count;
    }
}

TEST(WavWriter, AFileThatCannotBeCreatedIsReported) {
    TempDir dir;
    const std::string path = dir.Path("missing/folder.wav");
    Channels channels;
    WavWriter writer;
    testing::CaptureStdout();
    writer.Open(path);
    std::fflush(stdout);
    EXPECT_EQ(testing::CapturedStdout(), "write file name = " + path + "\nerror:" + path + "\n");
    writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(), channels.d.data(),
                      1024);
    EXPECT_TRUE(writer.Failed());
    EXPECT_FALSE(writer.Finish());
}

TEST(WavWriter, AFullDiskIsReported) {
    // Without frames only the buffered header is written: the failure shows
    // when it is flushed.
    for (int frames : {0, 1}) {
        Channels channels;
        WavWriter writer;
        writer.Open("/dev/full");
        for (int i = 0; i < frames; ++i) {
            writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(),
                              channels.d.data(), 1024);
        }
        EXPECT_FALSE(writer.Finish()) << frames;
        EXPECT_TRUE(writer.Failed()) << frames;
        // The cause, for a message that says "no space".
        EXPECT_EQ(writer.ErrorNumber(), ENOSPC) << frames;
    }
}

// A file the caller created itself is written through its descriptor.
TEST(WavWriter, WritesThroughADescriptorItIsHanded) {
    TempDir dir;
    const std::string path = dir.Path("made.wav");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    Channels channels;
    WavWriter writer;
    testing::CaptureStdout();
    writer.OpenCreated(path, fd);
    testing::CapturedStdout();
    writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(), channels.d.data(),
                      10);
    ASSERT_TRUE(writer.Finish());
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<uint32_t>(in.tellg()), WavWriter::kHeaderSize + 10 * 8);
}

TEST(WavWriter, AFileSizeLimitReachedMidwayIsReported) {
    TempDir dir;
    const std::string path = dir.Path("limited.wav");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        Channels channels;
        WavWriter writer;
        writer.Open(path);
        for (int i = 0; i < 5; ++i) {
            writer.WriteFrame(channels.a.data(), channels.b.data(), channels.c.data(),
                              channels.d.data(), 1024);
        }
        const bool finished = writer.Finish();
        _exit(finished ? 0 : (writer.Failed() ? 3 : 4));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

}  // namespace
}  // namespace spatialmux
