#pragma once
// The audio encoder of a remux that does not copy PCM: the temporary WAV's
// interleaved 16-bit samples go in as they are read, whole codec frames of
// the encoder's size come out as packets. It holds at most one frame's worth
// of samples besides what the codec itself buffers, so that memory stays
// flat whatever the length of the audio.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "ffmpeg/Handles.h"
#include "output/Remux.h"

namespace spatialmux::output {

class AudioEncoder {
public:
    // The channel layout the encoder is given for the four ambisonic
    // channels in ACN order: for AAC the plain four-channel layout (front
    // left, right, centre, back centre), which FFmpeg's decoders hand back in
    // the same order, so the SA3D map 0 1 2 3 stays true; for Opus the
    // ambisonic layout, which libopus writes as channel mapping family 2.
    // Two channels are plain stereo. Nothing (the diagnostic in `error`) when
    // the codec cannot be opened or `channels` is neither 4 nor 2.
    static std::unique_ptr<AudioEncoder> Open(const AudioEncoding& encoding, int sampleRate,
                                              int channels, bool globalHeader, std::string* error);

    // The stream's parameters for the muxer, with the encoder's priming
    // (initial_padding), so that the muxer writes its edit list.
    int CopyParameters(AVCodecParameters* parameters) const;
    AVRational TimeBase() const { return context->time_base; }

    // Feeds `count` interleaved instants of 16-bit little-endian PCM.
    // 0, or a negative FFmpeg code when the encoder refused a frame.
    int Write(const uint8_t* interleaved, int64_t count);
    // Feeds the samples still held (a shorter last frame) and tells the
    // encoder that the audio has ended.
    int Finish();
    // The next encoded packet, in TimeBase(): 0 with one, AVERROR(EAGAIN)
    // when the encoder needs more samples, AVERROR_EOF after the last one.
    int Receive(AVPacket* packet);

    int64_t InstantsFed() const { return fed; }

private:
    int SendPending(int instants);
    // Moves what the codec has encoded into `ready`: the codec takes no new
    // frame while a packet of its waits to be received.
    int Drain();

    ffmpeg::CodecContext context;
    ffmpeg::Frame frame;
    int channels = 0;
    int frameSize = 0;
    // Samples of the frame being gathered, interleaved as in the WAV.
    std::vector<int16_t> pending;
    int64_t fed = 0;  // instants handed to the codec, the next frame's pts
    // Encoded packets not yet taken: a few per WAV packet at most.
    std::deque<ffmpeg::Packet> ready;
    bool ended = false;  // the codec has given its last packet
};

}  // namespace spatialmux::output
