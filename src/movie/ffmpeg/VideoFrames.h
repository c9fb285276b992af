#pragma once
// Single pictures from any movie's video, decoded with libavcodec: seek to
// the keyframe at or before a time, decode forward to the first frame shown
// at or after it (B-frames included: frames are taken in presentation
// order), and scale it to RGB24 of any size.

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg/Handles.h"

namespace spatialmux {

class VideoFrameDecoder {
public:
    // False with `problem` set when the movie has no video that can be decoded.
    bool Open(const std::string& path, std::string* problem);

    int Width() const;
    int Height() const;
    // From the stream's own duration, else the movie's; 0 when unknown.
    double DurationSeconds() const;

    // The picture shown at `seconds` from the start of the video (the last
    // picture when the time lies past the last frame's start), as width x
    // height RGB24 rows (3 * width bytes each). False with `problem` set
    // when no picture can be decoded there.
    bool DecodePictureAt(double seconds, int width, int height, std::vector<uint8_t>* rgb,
                         std::string* problem);

private:
    // Seeks to the keyframe at or before `from` and decodes up to the first
    // frame shown at or after `target` (or the last one), into `shown`;
    // `firstShown` receives the time of the first frame that came out.
    bool DecodeFrom(int64_t from, int64_t target, AVFrame* shown, int64_t* firstShown,
                    std::string* problem);
    bool Scale(const AVFrame* frame, int width, int height, std::vector<uint8_t>* rgb);

    ffmpeg::InputContext input;
    ffmpeg::CodecContext decoder;
    ffmpeg::Scaler scaler;
    int streamIndex = -1;
};

}  // namespace spatialmux
