#pragma once
// Builder movies for conversion tests, and what a correct conversion of one
// must hold.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "fixture/CameraMovieBuilder.h"
#include "support/TempDir.h"

namespace spatialmux::testing {

struct TestMovie {
    std::string path;
    fixture::CameraMovieLayout layout;
};

// The chan box of every PCM output's sound entry: ambisonics in ACN order,
// SN3D, four channels (tag 0x00BE0004), no bitmap, no channel descriptions.
// A layout of speakers there makes players that follow chan reorder the
// channels before they decode the ambisonics.
inline const std::vector<uint8_t> kAmbisonicChanBox = {
    0, 0, 0, 24, 'c', 'h', 'a', 'n', 0, 0, 0, 0, 0, 0xBE, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0};

// A quick movie: tiny video, a few distinct frames, `samples` instants.
inline fixture::CameraMovieOptions SmallMovie(int32_t samples) {
    fixture::CameraMovieOptions options;
    options.totalSamples = samples;
    options.width = 64;
    options.height = 32;
    options.distinctFrames = 4;
    return options;
}

inline TestMovie MakeMovie(const TempDir& dir, const std::string& name,
                           const fixture::CameraMovieOptions& options) {
    TestMovie movie;
    movie.path = dir.Path(name);
    std::string error;
    EXPECT_TRUE(fixture::WriteCameraMovie(movie.path, options, &movie.layout, &error)) << error;
    return movie;
}

// Channel 1 through the float chain with the gain: s / 32767, x gain, x 32767,
// truncated toward zero, low 16 bits kept.
inline int16_t WithGain(int16_t sample, float gain) {
    const float value = static_cast<float>(sample) / 32767.0f;
    const float product = value * gain * 32767.0f;
    const int32_t whole = static_cast<int32_t>(product);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(whole) & 0xFFFFu));
}

// The interleaved little-endian PCM a conversion of the movie must carry:
// every instant, channels 1 x gain, 3, 4, 2.
inline std::vector<uint8_t> ExpectedConvertedAudio(const fixture::CameraMovieOptions& options,
                                                   float gain) {
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(options.totalSamples) * 8);
    auto put = [&bytes](int16_t s) { AppendLE16(bytes, static_cast<uint16_t>(s)); };
    for (int64_t i = 0; i < options.totalSamples; ++i) {
        put(WithGain(fixture::ExpectedSample(options.seed, 0, i), gain));
        put(fixture::ExpectedSample(options.seed, 2, i));
        put(fixture::ExpectedSample(options.seed, 3, i));
        put(fixture::ExpectedSample(options.seed, 1, i));
    }
    return bytes;
}

}  // namespace spatialmux::testing
