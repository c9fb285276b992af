#include "audio/ByteUtil.h"

#include <cmath>
#include <cstring>

#include "audio/ByteOrder.h"

namespace spatialmux {

namespace {

// 32767, not 32768: the largest positive sample maps to exactly 1.0.
constexpr float kSampleScale = 32767.0f;

// Floats whose magnitude reaches 2^31 do not fit a 32-bit integer.
constexpr float kInt32Limit = 2147483648.0f;
// Values converted together in one block of the sample loops.
constexpr int32_t kBlock = 8;

// The largest float below 2^31.
constexpr float kInt32MaxFloat = 2147483520.0f;

inline int16_t SampleAt(const uint8_t* bytes) {
    return static_cast<int16_t>(ReadLE16(bytes));
}

// The low 16 bits of `value`.
inline void StoreSample(uint8_t* bytes, int32_t value) {
    WriteLE16(bytes, static_cast<uint16_t>(value));
}

// The truncated product as a 32-bit integer when it fits. Values outside
// the range are clamped here (well defined, vectorisable); the caller notices
// them and takes the exact path for the block.
inline int32_t TruncateClamped(float product) {
    float clamped = -kInt32Limit < product ? product : -kInt32Limit;  // NaN -> lower bound
    clamped = clamped < kInt32MaxFloat ? clamped : kInt32MaxFloat;
    return static_cast<int32_t>(clamped);
}

// The exact conversion for any product: truncation toward zero, low 16 bits.
// A product too large for 32 bits wraps modulo 65536 from its truncated
// value; NaN and the infinities have none and become 0.
inline int32_t TruncateWrapped(float product) {
    if (std::fabs(product) < kInt32Limit) {
        return static_cast<int32_t>(product);
    }
    if (!std::isfinite(product)) {
        return 0;
    }
    // Floats this large are whole numbers; fmod is exact.
    return static_cast<int32_t>(std::fmod(product, 65536.0f));
}

}  // namespace

void ByteUtil::ZeroFill(uint8_t* bytes, int32_t length) const {
    if (length > 0) {
        std::memset(bytes, 0, static_cast<std::size_t>(length));
    }
}

void ByteUtil::DeinterleavePcm16ToFloat(const uint8_t* source, float* channel1, float* channel2,
                                        float* channel3, float* channel4, int32_t byteCount) const {
    if (byteCount < 8) {
        return;
    }
    const int32_t groups = byteCount / 8;
    const auto convert = [&](int32_t g) {
        const uint8_t* group = source + static_cast<std::ptrdiff_t>(g) * 8;
        channel1[g] = static_cast<float>(SampleAt(group)) / kSampleScale;
        channel2[g] = static_cast<float>(SampleAt(group + 2)) / kSampleScale;
        channel3[g] = static_cast<float>(SampleAt(group + 4)) / kSampleScale;
        channel4[g] = static_cast<float>(SampleAt(group + 6)) / kSampleScale;
    };
    // Blocks of a fixed length let the compiler convert them in vector
    // registers; every value is still its own true division.
    int32_t g = 0;
    for (; g + kBlock <= groups; g += kBlock) {
        float block[4][kBlock];
        for (int32_t k = 0; k < kBlock; ++k) {
            const uint8_t* group = source + static_cast<std::ptrdiff_t>(g + k) * 8;
            for (int c = 0; c < 4; ++c) {
                block[c][k] = static_cast<float>(SampleAt(group + 2 * c)) / kSampleScale;
            }
        }
        std::memcpy(channel1 + g, block[0], sizeof block[0]);
        std::memcpy(channel2 + g, block[1], sizeof block[1]);
        std::memcpy(channel3 + g, block[2], sizeof block[2]);
        std::memcpy(channel4 + g, block[3], sizeof block[3]);
    }
    for (; g < groups; ++g) {
        convert(g);
    }
}

void ByteUtil::ApplyGain(float* channel, int32_t count, float gain) const {
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        for (int32_t k = 0; k < kBlock; ++k) {
            channel[i + k] = channel[i + k] * gain;
        }
    }
    for (; i < count; ++i) {
        channel[i] = channel[i] * gain;
    }
}

void ByteUtil::InterleaveFloatToPcm16(uint8_t* destination, const float* channel1,
                                      const float* channel2, const float* channel3,
                                      const float* channel4, int32_t count) const {
    if (count <= 0) {
        return;
    }
    // Ordinary audio stays far inside the 32-bit range: convert in one
    // branch-free pass, in blocks the compiler can keep in vector registers,
    // and note whether any product left the range.
    const float* channels[4] = {channel1, channel2, channel3, channel4};
    bool outOfRange = false;
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        int32_t block[kBlock][4];
        for (int c = 0; c < 4; ++c) {
            for (int32_t k = 0; k < kBlock; ++k) {
                const float product = channels[c][i + k] * kSampleScale;
                outOfRange |= !(std::fabs(product) < kInt32Limit);
                block[k][c] = TruncateClamped(product);
            }
        }
        uint8_t* group = destination + static_cast<std::ptrdiff_t>(i) * 8;
        for (int32_t k = 0; k < kBlock; ++k) {
            for (int c = 0; c < 4; ++c) {
                StoreSample(group + k * 8 + c * 2, block[k][c]);
            }
        }
    }
    for (; i < count; ++i) {
        uint8_t* group = destination + static_cast<std::ptrdiff_t>(i) * 8;
        for (int c = 0; c < 4; ++c) {
            const float product = channels[c][i] * kSampleScale;
            outOfRange |= !(std::fabs(product) < kInt32Limit);
            StoreSample(group + c * 2, TruncateClamped(product));
        }
    }
    if (!outOfRange) {
        return;
    }
    for (int32_t n = 0; n < count; ++n) {
        uint8_t* group = destination + static_cast<std::ptrdiff_t>(n) * 8;
        for (int c = 0; c < 4; ++c) {
            StoreSample(group + c * 2, TruncateWrapped(channels[c][n] * kSampleScale));
        }
    }
}

}  // namespace spatialmux
