// A movie's report with libavformat's probe (MovieCheck.cpp reads the rest
// from the file's boxes, and the fuzz build gives it a stand-in probe).
#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

CheckReport CheckMovieFile(const std::string& path) {
    return CheckMovieFile(path, ProbeMedia);
}

}  // namespace spatialmux
