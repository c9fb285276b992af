// A program made of every object of the codec-free core (linked whole, so
// that an object no caller here needs still has to link): it links without
// FFmpeg and Qt, and check_codec_free.cmake finds neither among the
// libraries it needs. Given a movie, it prints the check's verdict read
// from the boxes alone.
#include <cstdio>

#include "control/movieinfo/BoxProbe.h"
#include "control/movieinfo/MovieCheck.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::puts("codec-free core linked");
        return 0;
    }
    const spatialmux::CheckReport report =
        spatialmux::CheckMovieFile(argv[1], spatialmux::ProbeMediaFromBoxes);
    std::printf("%s: %s\n", argv[1], report.spatial.c_str());
    return report.Passed() ? 0 : 1;
}
