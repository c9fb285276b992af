#pragma once
// What the user says of a movie that is not the camera's, where the movie
// does not say it itself: what its four audio channels are (--ambisonics)
// and that its video is an equirectangular 360 video (--projection). Typed
// from the front ends down to the conversion's plan; the words exist only
// where a command line is parsed or written.

#include <optional>
#include <string_view>

namespace spatialmux {

// The four channels of first-order ambisonics as the user declares them.
enum class AmbisonicsChoice {
    FromMovie,  // not said: the movie must declare them
    AmbiX,      // ACN/SN3D: W Y Z X
    FuMa,       // Furse-Malham: W X Y Z, W 3 dB down
};

enum class ProjectionChoice {
    FromMovie,        // not said: the movie must say it
    Equirectangular,  // an equirectangular 360 video
};

struct SpatialChoice {
    AmbisonicsChoice ambisonics = AmbisonicsChoice::FromMovie;
    ProjectionChoice projection = ProjectionChoice::FromMovie;

    bool operator==(const SpatialChoice&) const = default;
};

// The command line's words: "ambix", "fuma", "equirectangular"; "" for
// FromMovie.
const char* AmbisonicsWord(AmbisonicsChoice choice);
const char* ProjectionWord(ProjectionChoice choice);
// The choice a word names, letter case ignored ("" is FromMovie); nothing
// for any other word.
std::optional<AmbisonicsChoice> AmbisonicsNamed(std::string_view word);
std::optional<ProjectionChoice> ProjectionNamed(std::string_view word);

}  // namespace spatialmux
