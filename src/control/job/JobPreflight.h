#pragma once
// What can be known about a conversion before it starts, checked before it
// starts, so that a job that cannot work is refused with its cause instead
// of failing halfway (or, worse, writing over something): the input is a
// regular file that can be read; the output is not a folder, not footage
// (a camera movie, or a 360 movie spatialmux did not write), has a container that carries the
// conversion, and lies in a folder that exists and can be written, with room for the hidden names
// beside it.

#include <optional>
#include <string>

namespace spatialmux {

struct PreflightRefusal {
    std::string cause;    // English, one line, for the "error!! " line
    std::string message;  // in the user's language, naming the file
};

// True when `path` is a camera movie (footage of the user's): no
// conversion, batch or clean-up ever replaces or removes one.
bool IsCameraMovie(const std::string& path);

// True when `path` is a 360 movie that spatialmux did not write: spherical
// video or spatial audio metadata without our marks (someone else's 360
// footage). Like a camera movie, it is never replaced or removed.
bool IsOthersSpatialMovie(const std::string& path);

// A camera movie or someone else's 360 movie: footage, never replaced.
bool IsFootage(const std::string& path);

// Nothing when the input can be read as a movie.
std::optional<PreflightRefusal> CheckInputFile(const std::string& input);
// Nothing when `output` may be written (the input was checked already).
std::optional<PreflightRefusal> CheckOutputPlace(const std::string& output);
// The same for a command whose output is not a converted movie (the
// headphone render's .wav and .m4a): every check but the container's.
std::optional<PreflightRefusal> CheckOutputPlaceAnyContainer(const std::string& output);

}  // namespace spatialmux
