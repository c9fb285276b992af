#pragma once
// Short stretches of any movie's four-channel ambisonic audio, decoded with
// libavcodec and put in ACN order (W, Y, Z, X) as the movie's SA3D channel
// map says. Only the packets around the stretch are read: the demuxer seeks
// to it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "movie/AmbisonicLayout.h"
#include "ffmpeg/Handles.h"

namespace spatialmux {

// Four channel arrays in ACN order: [0] W, [1] Y, [2] Z, [3] X.
using AcnAudio = std::array<std::vector<float>, 4>;

class AmbisonicAudioDecoder {
public:
    // False with `problem` set when the movie has no four-channel audio that
    // can be decoded.
    bool Open(const std::string& path, const AcnChannels& channels, std::string* problem);

    int SampleRate() const;
    // Sampling instants of the audio (from the stream's duration; 0 when unknown).
    int64_t TotalSamples() const;

    // `count` instants from instant `first` of the audio. Samples are scaled
    // to full scale 1.0 (16-bit ones divided by 32767, as the conversion
    // does). False with `problem` set when the audio ends or fails first.
    bool ReadStretch(int64_t first, int64_t count, AcnAudio* audio, std::string* problem);

private:
    ffmpeg::InputContext input;
    ffmpeg::CodecContext decoder;
    int streamIndex = -1;
    AcnChannels acn{};
};

}  // namespace spatialmux
