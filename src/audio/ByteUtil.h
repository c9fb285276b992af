#pragma once
// The sample operations of the audio path: conversions between interleaved
// 16-bit PCM and per-channel float arrays, and the gain. The byte-order
// members forward to audio/ByteOrder.h for the reader's existing callers.
//
// The sample conversions are bit-exact single precision: a sample s becomes
// float(s) / 32767.0f (a true division), and a float x becomes the low 16 bits
// of the truncation toward zero of x * 32767.0f, without saturation.

#include <cstdint>

#include "audio/ByteOrder.h"

namespace spatialmux {

class ByteUtil {
public:
    // Sets the first `length` bytes to 0; a length of 0 or less does nothing.
    void ZeroFill(uint8_t* bytes, int32_t length) const;

    uint32_t ReadBE32(const uint8_t* bytes) const { return spatialmux::ReadBE32(bytes); }
    uint16_t ReadBE16(const uint8_t* bytes) const { return spatialmux::ReadBE16(bytes); }
    uint64_t ReadBE64(const uint8_t* bytes) const { return spatialmux::ReadBE64(bytes); }
    void WriteBE32(uint32_t value, uint8_t* bytes) const { spatialmux::WriteBE32(bytes, value); }
    void WriteBE64(uint64_t value, uint8_t* bytes) const { spatialmux::WriteBE64(bytes, value); }

    // byteCount / 8 sampling instants of four interleaved little-endian
    // 16-bit samples become one float per channel array. A trailing partial
    // group and a byteCount below 8 convert nothing.
    void DeinterleavePcm16ToFloat(const uint8_t* source, float* channel1, float* channel2,
                                  float* channel3, float* channel4, int32_t byteCount) const;

    // Multiplies the first `count` values by `gain` in place; no limiting.
    void ApplyGain(float* channel, int32_t count, float gain) const;

    // Writes 8 * count bytes: per instant the four channels in argument order.
    void InterleaveFloatToPcm16(uint8_t* destination, const float* channel1, const float* channel2,
                                const float* channel3, const float* channel4, int32_t count) const;
};

}  // namespace spatialmux
