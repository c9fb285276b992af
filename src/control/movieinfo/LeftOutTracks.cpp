// A camera movie's tracks besides its video and its audio.
#include "control/movieinfo/LeftOutTracks.h"

namespace spatialmux {

std::optional<std::string> CameraTrackLeftOut(const CheckReport& report) {
    if (!report.probe) return std::nullopt;
    bool video = false;
    bool audio = false;
    for (std::size_t k = 0; k < report.probe->streams.size(); ++k) {
        const StreamProbe& stream = report.probe->streams[k];
        if (stream.attachedPicture) continue;
        if (stream.kind == StreamProbe::Kind::Video && !video) {
            video = true;
            continue;
        }
        if (stream.kind == StreamProbe::Kind::Audio && !audio) {
            audio = true;
            continue;
        }
        return "its track " + std::to_string(k + 1) + " (" + stream.kindName + ", " + stream.codec +
               ") would be dropped: a camera movie's conversion carries its video and its "
               "audio only; remove that track from the movie first";
    }
    return std::nullopt;
}

}  // namespace spatialmux
