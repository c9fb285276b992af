#pragma once
// Any movie's four-channel ambisonic audio, decoded with libavcodec and put
// in ACN order (W, Y, Z, X) as the movie's SA3D channel map says: short
// stretches, for which only the packets around the stretch are read (the
// demuxer seeks to it), or the whole audio in order, a decoded frame at a
// time.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg/Handles.h"
#include "movie/AmbisonicLayout.h"

namespace spatialmux {

// Four channel arrays in ACN order: [0] W, [1] Y, [2] Z, [3] X.
using AcnAudio = std::array<std::vector<float>, 4>;

class AmbisonicAudioDecoder {
public:
    // False with `problem` set when the movie has no four-channel audio that
    // can be decoded.
    bool Open(const std::string& path, const AcnChannels& channels, std::string* problem);

    int SampleRate() const;
    // Whether the decoder itself calls the audio ambisonic (Opus with
    // channel mapping family 2 does, whatever the container says).
    bool DecodesAmbisonics() const;
    // Sampling instants of the audio (from the stream's duration; 0 when unknown).
    int64_t TotalSamples() const;

    // `count` instants from instant `first` of the audio. Samples are scaled
    // to full scale 1.0 (16-bit ones divided by 32767, as the conversion
    // does). False with `problem` set when the audio ends or fails first.
    bool ReadStretch(int64_t first, int64_t count, AcnAudio* audio, std::string* problem);

    // The audio in order from its start, one decoded frame at a time (on a
    // decoder that has read no stretch): `audio` gets the frame's instants,
    // scaled as for ReadStretch. False at the end of the audio (`problem`
    // left empty) and on a failure (`problem` set).
    bool ReadNext(AcnAudio* audio, std::string* problem);

private:
    // Puts `count` instants of `frame` from its instant `from` into `audio`
    // from index `at` on; false with `problem` set for a frame that cannot
    // be read.
    bool TakeInstants(const AVFrame* frame, int from, int count, AcnAudio* audio, std::size_t at,
                      std::string* problem) const;

    ffmpeg::InputContext input;
    ffmpeg::CodecContext decoder;
    int streamIndex = -1;
    AcnChannels acn{};
    // Reading in order.
    ffmpeg::Packet orderPacket;
    ffmpeg::Frame orderFrame;
    bool orderDraining = false;
};

}  // namespace spatialmux
