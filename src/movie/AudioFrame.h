#pragma once
// One frame of the camera's four-channel audio as the conversion works on it.

#include <array>
#include <cstdint>

namespace spatialmux {

// Sampling instants per frame, as the whole conversion uses them.
inline constexpr int32_t kFrameSize = 1024;
// Bytes per sampling instant in the movie and in the WAV: 4 channels x 16 bits.
inline constexpr int32_t kBytesPerInstant = 8;

// Four channel arrays, channel 1 first, in the order of the samples within
// each sampling instant of the input; each value is the sample / 32767.
struct AudioFrame {
    std::array<std::array<float, kFrameSize>, 4> channel{};

    float* Channel(int number) { return channel[static_cast<std::size_t>(number - 1)].data(); }
};

}  // namespace spatialmux
