#pragma once
// The ambisonic audio a headphone render reads, in order from its start: a
// camera movie's through the conversion's chain (ConvertedAudioStretch.h),
// or any other movie's decoded with libavcodec, in ACN order (W, Y, Z, X)
// at full scale 1.0 either way.

#include <cstdint>
#include <memory>
#include <string>

#include "control/movieinfo/MovieCheck.h"
#include "movie/MovieReader.h"
#include "movie/ffmpeg/AmbisonicAudio.h"

namespace spatialmux {

class AmbisonicInput {
public:
    // Opens the movie `report` describes (from CheckMovieFile). Nothing,
    // with `problem` saying why, when it carries no first-order ambisonics
    // that can be read.
    static std::unique_ptr<AmbisonicInput> Open(const CheckReport& report, std::string* problem);

    bool CameraMovie() const { return camera != nullptr; }
    // The camera movie's reader (its saved pieces), or nullptr.
    const MovieReader* Camera() const { return camera.get(); }
    int SampleRate() const;
    // Sampling instants of the audio; 0 when unknown.
    int64_t TotalInstants() const;

    // The next block of instants (a frame's worth). False at the end
    // (`problem` left empty) and on a failure (`problem` set).
    bool Next(AcnAudio* block, std::string* problem);

private:
    std::unique_ptr<MovieReader> camera;
    float gain = 1.0f;
    bool ended = false;
    AmbisonicAudioDecoder decoder;
};

}  // namespace spatialmux
