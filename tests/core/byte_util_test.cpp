#include "audio/ByteOrder.h"
#include "audio/ByteUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace spatialmux {
namespace {

TEST(ByteUtilTest, BigEndianHelpers) {
    const ByteUtil util;
    const uint8_t rate[4] = {0x00, 0x00, 0xBB, 0x80};
    EXPECT_EQ(util.ReadBE32(rate), 48000u);
    const uint8_t high[4] = {0xFF, 0x00, 0x00, 0x01};
    EXPECT_EQ(util.ReadBE32(high), 0xFF000001u);
    const uint8_t tag[2] = {0x87, 0x69};
    EXPECT_EQ(util.ReadBE16(tag), 0x8769);
    const uint8_t offset[8] = {0, 0, 0, 1, 0, 0, 0, 0x10};
    EXPECT_EQ(util.ReadBE64(offset), 4294967312ull);

    uint8_t written[4] = {};
    util.WriteBE32(48000, written);
    EXPECT_EQ(std::vector<uint8_t>(written, written + 4),
              (std::vector<uint8_t>{0x00, 0x00, 0xBB, 0x80}));
    uint8_t wide[8] = {};
    util.WriteBE64(0x0102030405060708ull, wide);
    EXPECT_EQ(std::vector<uint8_t>(wide, wide + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(ByteUtilTest, ZeroFillTouchesOnlyPositiveLengths) {
    const ByteUtil util;
    std::array<uint8_t, 6> bytes;
    for (int32_t length : {0, -1, -100}) {
        bytes.fill(0xAB);
        util.ZeroFill(bytes.data(), length);
        EXPECT_EQ(bytes[0], 0xAB) << length;
    }
    bytes.fill(0xAB);
    util.ZeroFill(bytes.data(), 4);
    EXPECT_EQ(bytes, (std::array<uint8_t, 6>{0, 0, 0, 0, 0xAB, 0xAB}));
}

TEST(ByteUtilTest, DeinterleaveKnownValues) {
    const ByteUtil util;
    // One instant: 32767, 0, -32768, 1; the second is -32767 in every channel.
    const uint8_t bytes[16] = {0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0x01, 0x00,
                               0x01, 0x80, 0x01, 0x80, 0x01, 0x80, 0x01, 0x80};
    float c[4][2] = {};
    util.DeinterleavePcm16ToFloat(bytes, c[0], c[1], c[2], c[3], 16);
    EXPECT_EQ(c[0][0], 1.0f);
    EXPECT_EQ(c[1][0], 0.0f);
    EXPECT_EQ(c[2][0], -1.000030517578125f);
    EXPECT_EQ(c[2][0], -32768.0f / 32767.0f);
    EXPECT_EQ(c[3][0], 1.0f / 32767.0f);
    for (auto& channel : c) {
        EXPECT_EQ(channel[1], -1.0f);
    }
}

TEST(ByteUtilTest, DeinterleaveConvertsWholeGroupsOnly) {
    const ByteUtil util;
    std::vector<uint8_t> bytes(16, 0x10);
    struct Case {
        int32_t byteCount;
        int valuesWritten;
    };
    for (const Case& test : {Case{10, 1}, Case{7, 0}, Case{0, 0}, Case{15, 1}, Case{16, 2}}) {
        std::array<std::array<float, 3>, 4> c;
        for (auto& channel : c) {
            channel.fill(99.0f);
        }
        util.DeinterleavePcm16ToFloat(bytes.data(), c[0].data(), c[1].data(), c[2].data(),
                                      c[3].data(), test.byteCount);
        for (auto& channel : c) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(channel[static_cast<std::size_t>(i)] == 99.0f, i >= test.valuesWritten)
                    << "byte count " << test.byteCount << " value " << i;
            }
        }
    }
}

int16_t InterleaveOne(float value) {
    const ByteUtil util;
    const float others = 0.0f;
    uint8_t bytes[8] = {};
    util.InterleaveFloatToPcm16(bytes, &value, &others, &others, &others, 1);
    return static_cast<int16_t>(ReadLE16(bytes));
}

TEST(ByteUtilTest, InterleaveTruncatesAndWraps) {
    struct Case {
        float value;
        int16_t sample;
    };
    const Case cases[] = {
        {1.0f, 32767}, {-1.0f, -32767}, {0.5f, 16383}, {-0.5f, -16383},
        {0.00001f, 0}, {1.5f, -16386},  {2.0f, -2},    {-1.000030517578125f, -32768},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(InterleaveOne(test.value), test.sample) << test.value;
    }
    const ByteUtil util;
    const float values[4] = {1.0f, -1.0f, 0.5f, 2.0f};
    uint8_t bytes[8];
    util.InterleaveFloatToPcm16(bytes, &values[0], &values[1], &values[2], &values[3], 1);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8),
              (std::vector<uint8_t>{0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x3F, 0xFE, 0xFF}));
}

// Products beyond the 32-bit range: the truncated value modulo 65536, and
// no value at all (0) for NaN and the infinities.
TEST(ByteUtilTest, InterleaveProductsBeyondInt32) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float value : {100000.0f, -100000.0f, 65538.0f, -65537.5f, 1.0e6f, 3.0e7f, -3.0e9f}) {
        const float product = value * 32767.0f;
        ASSERT_LT(std::fabs(product), 9.0e18f);
        const auto expected =
            static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(product) & 0xFFFF));
        EXPECT_EQ(InterleaveOne(value), expected) << value;
    }
    // Floats of 2^40 and more are multiples of 65536.
    for (float value :
         {1.0e30f, -1.0e30f, nan, -nan, inf, -inf, std::numeric_limits<float>::max()}) {
        EXPECT_EQ(InterleaveOne(value), 0) << value;
    }
    // One wild value in a block does not disturb the others.
    const ByteUtil util;
    std::vector<float> c1(64, 0.25f), c2(64, -0.75f), c3(64, 1.5f), c4(64, 0.0f);
    c4[40] = nan;
    c1[3] = 1.0e9f;
    std::vector<uint8_t> bytes(64 * 8);
    util.InterleaveFloatToPcm16(bytes.data(), c1.data(), c2.data(), c3.data(), c4.data(), 64);
    const auto sampleAt = [&](std::size_t k) {
        return static_cast<int16_t>(ReadLE16(&bytes[2 * k]));
    };
    for (std::size_t i = 0; i < 64; ++i) {
        const float p = c1[i] * 32767.0f;
        EXPECT_EQ(sampleAt(4 * i),
                  static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(p) & 0xFFFF)));
        EXPECT_EQ(sampleAt(4 * i + 1), -24575);
        EXPECT_EQ(sampleAt(4 * i + 2), -16386);
        EXPECT_EQ(sampleAt(4 * i + 3), 0);
    }
}

TEST(ByteUtilTest, EverySampleSurvivesTheRoundTrip) {
    const ByteUtil util;
    constexpr int kInstants = 65536;
    std::vector<uint8_t> source(kInstants * 8);
    // Channel c of instant i holds sample i + c * 16384 (mod 2^16), so every
    // channel sees every value.
    for (int i = 0; i < kInstants; ++i) {
        for (int c = 0; c < 4; ++c) {
            WriteLE16(&source[static_cast<std::size_t>(i * 8 + c * 2)],
                      static_cast<uint16_t>(i + c * 16384));
        }
    }
    std::vector<float> c1(kInstants), c2(kInstants), c3(kInstants), c4(kInstants);
    util.DeinterleavePcm16ToFloat(source.data(), c1.data(), c2.data(), c3.data(), c4.data(),
                                  kInstants * 8);
    for (int i = 0; i < kInstants; ++i) {
        const auto s = static_cast<int16_t>(static_cast<uint16_t>(i));
        ASSERT_EQ(c1[static_cast<std::size_t>(i)], static_cast<float>(s) / 32767.0f);
    }
    std::vector<uint8_t> back(source.size(), 0xCD);
    util.InterleaveFloatToPcm16(back.data(), c1.data(), c2.data(), c3.data(), c4.data(), kInstants);
    EXPECT_EQ(back, source);
}

int16_t ThroughGain(int16_t sample, float gain) {
    const ByteUtil util;
    uint8_t bytes[8] = {static_cast<uint8_t>(static_cast<uint16_t>(sample) & 0xFF),
                        static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8)};
    float c[4] = {};
    util.DeinterleavePcm16ToFloat(bytes, &c[0], &c[1], &c[2], &c[3], 8);
    util.ApplyGain(&c[0], 1, gain);
    util.InterleaveFloatToPcm16(bytes, &c[0], &c[1], &c[2], &c[3], 1);
    return static_cast<int16_t>(ReadLE16(bytes));
}

float FromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(ByteUtilTest, GainChainMatchesTheCameraTable) {
    const float up = FromBits(0x3FB4CE08);
    const float down = FromBits(0x3F353BEF);
    EXPECT_EQ(up, 1.4125376f);
    EXPECT_EQ(down, 0.70794576f);
    struct Case {
        float gain;
        int16_t in;
        int16_t out;
    };
    const Case cases[] = {
        {up, 1000, 1412},    {up, -1000, -1412},   {up, 23197, 32766},     {up, -23198, -32768},
        {up, 23198, -32768}, {up, 30000, -23160},  {up, 32767, -19252},    {up, -23199, 32767},
        {up, -32768, 19250}, {down, 32767, 23197}, {down, -32768, -23197}, {down, 1000, 707},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(ThroughGain(test.in, test.gain), test.out) << test.in << " x " << test.gain;
    }
}

TEST(ByteUtilTest, ApplyGainCounts) {
    const ByteUtil util;
    std::vector<float> values = {0.5f, -0.25f, 1.0e-7f, -1.0f};
    const std::vector<float> original = values;
    util.ApplyGain(values.data(), 0, 3.0f);
    util.ApplyGain(values.data(), -5, 3.0f);
    EXPECT_EQ(values, original);
    util.ApplyGain(values.data(), 4, 1.0f);
    EXPECT_EQ(values, original);
    util.ApplyGain(values.data(), 2, 4.0f);
    EXPECT_EQ(values, (std::vector<float>{2.0f, -1.0f, 1.0e-7f, -1.0f}));
}

}  // namespace
}  // namespace spatialmux
