// Stand-in used when spatialmux is built without Qt.
#include <cstdio>

#include "control/WindowedMode.h"

namespace spatialmux {

int RunWindowedApplication(int, char**) {
    std::fprintf(stderr,
                 "spatialmux: this build has no windowed mode.\n"
                 "usage: spatialmux INPUT OUTPUT   (spatialmux --help for more)\n");
    return 2;
}

}  // namespace spatialmux
