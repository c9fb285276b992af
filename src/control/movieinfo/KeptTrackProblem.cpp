// Whether the output's container holds the tracks a first-order ambisonics
// movie keeps: a question for libavformat, so apart from the plan, which the
// browser's core builds without a codec.
#include <string>

#include "control/movieinfo/AnyFoaMovie.h"
#include "output/Remux.h"

namespace spatialmux {

std::optional<std::string> KeptTrackProblem(const FoaPlan& plan, const std::string& output) {
    for (const KeptTrack& track : plan.kept) {
        if (output::ContainerHolds(output, track.codec)) continue;
        return "its track " + std::to_string(track.number) + " (" + track.kind + ", " +
               track.codec + ") would be dropped: the output's container cannot hold it; " +
               "name a .mov output, or remove the track from the movie first";
    }
    return std::nullopt;
}

}  // namespace spatialmux
