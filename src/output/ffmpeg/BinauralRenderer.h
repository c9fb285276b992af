#pragma once
// The headphone render with libavfilter: four channels of first-order
// ambisonics in, two ears out, through one filter graph
//
//   abuffer   the movie's W, Y, Z, X as float planes ("ambisonic 1")
//   aformat   float planes (so that pan's matrix never runs on integers)
//   pan       the speaker feeds: the turn for the listener's direction and
//             the cube decoder in one 4 x 8 matrix (audio/CubeDecoder.h),
//             out as the eight channels of the "octagonal" layout
//   sofalizer each of the eight channels convolved with the HRTF pair of
//             its virtual speaker's direction (a SOFA file), summed per ear
//   aresample back to the input's rate (sofalizer works at its set's rate)
//   abuffersink interleaved float stereo
//
// What the graph relies on, FFmpeg 5.1 to 7.1: the speakers are given to
// sofalizer by channel number ("0 45 35|1 315 35|..."), never by channel
// name, which FFmpeg 5.1 matches against the wrong channel; the layout has
// no LFE channel (sofalizer would pass it through unconvolved); pan reads
// its gains with the C library's sscanf, so the graph is built under the
// "C" numeric locale whatever locale the program runs in; the gains are
// never a plain one-to-one mapping (pan then takes a path that loses
// channels). sofalizer's own gain stays 0 dB with its normalisation on: the
// level of the result is the caller's to choose.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/CubeDecoder.h"
#include "ffmpeg/Handles.h"

namespace spatialmux::output {

struct BinauralSettings {
    std::string hrtfPath;  // a SOFA file of head-related impulse responses
    // The feeds of the eight speakers from W, Y, Z, X, and their directions.
    SpeakerFeeds feeds{};
    std::array<Direction, kCubeSpeakers> speakers{};
    int sampleRate = 0;  // of the ambisonic input, and of the two ears
};

class BinauralRenderer {
public:
    // Builds the graph (the SOFA file is read here). Nothing, with `error`
    // saying why, when the file is not an HRTF set sofalizer can use or the
    // graph cannot be made.
    static std::unique_ptr<BinauralRenderer> Open(const BinauralSettings& settings,
                                                  std::string* error);

    // Renders `count` instants of the four ACN planes (W, Y, Z, X; full
    // scale 1.0) and appends the ears' samples that are ready, interleaved
    // left, right, to `stereo`. False with `error` set when the graph fails.
    bool Render(const std::array<const float*, 4>& acn, int count, std::vector<float>* stereo,
                std::string* error);
    // Ends the input and appends the rest. The ears then hold as many
    // instants as went in (the resamplers may add or drop one); the HRTF's
    // tail behind the last instant is not kept.
    bool Finish(std::vector<float>* stereo, std::string* error);

private:
    bool Drain(std::vector<float>* stereo, std::string* error);

    ffmpeg::FilterGraph graph;
    AVFilterContext* source = nullptr;  // owned by the graph
    AVFilterContext* sink = nullptr;
    ffmpeg::Frame input;
    ffmpeg::Frame output;
    int sampleRate = 0;
    int64_t fed = 0;  // instants given to the graph
    bool ended = false;
};

}  // namespace spatialmux::output
