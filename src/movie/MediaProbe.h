#pragma once
// Any movie as libavformat sees it: its streams with codec, picture size,
// frame rate, duration, audio channels and layout. Only headers and the
// index are read, never the media data.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

struct StreamProbe {
    enum class Kind { Video, Audio, Other };
    Kind kind = Kind::Other;
    std::string kindName;  // libavutil's name of the media type: "video", "data", "subtitle" ...
    std::string codec;     // libavcodec's short name, e.g. "h264", "pcm_s16le"
    int trackId = 0;       // the container's track ID (tkhd); 0 for a stream of no track
    // A cover picture, not a track of the movie (libavformat's attached
    // picture: an MP4's covr tag).
    bool attachedPicture = false;
    // Video.
    int width = 0;
    int height = 0;
    double framesPerSecond = 0.0;
    // Audio.
    int channels = 0;
    std::string layout;  // av_channel_layout_describe, e.g. "ambisonic 1", "4.0"
    // libavformat's layout is ambisonic, or Opus says so by its channel
    // mapping family 2.
    bool ambisonicLayout = false;
    int sampleRate = 0;
    int64_t frames = 0;  // video: frames; audio: samples per channel; 0 when unknown
    double durationSeconds = 0.0;
    // The index as libavformat built it from the container's tables.
    int64_t indexEntries = 0;
    uint64_t indexBytes = 0;
    uint64_t indexEnd = 0;           // the furthest byte an index entry reaches
    bool sphericalSideData = false;  // AV_PKT_DATA_SPHERICAL on the stream
};

struct MediaProbe {
    std::string format;  // e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    double durationSeconds = 0.0;
    std::vector<StreamProbe> streams;
};

// Nothing, with `problem` set to libavformat's reason, when the file cannot
// be opened as a movie.
std::optional<MediaProbe> ProbeMedia(const std::string& path, std::string* problem);

// FFmpeg's own log stays silent (a damaged file would otherwise fill the
// terminal); the caller reports what matters.
void SilenceMediaLog();

}  // namespace spatialmux
