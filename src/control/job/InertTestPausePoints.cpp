// TEST HOOK: see InertTestPausePoints.h. Nothing here runs unless a test sets
// SPATIALMUX_TEST_PAUSE_AT.
#include "control/job/InertTestPausePoints.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control/job/JobCancel.h"

namespace spatialmux {

void TestPausePoint(const char* point) {
    static const char* const wanted = std::getenv("SPATIALMUX_TEST_PAUSE_AT");
    if (wanted == nullptr || std::strcmp(wanted, point) != 0) return;
    static bool paused = false;  // once per run
    if (paused) return;
    paused = true;
    const char* marker = std::getenv("SPATIALMUX_TEST_PAUSE_FILE");
    if (marker == nullptr) return;
    if (std::FILE* file = std::fopen(marker, "w")) std::fclose(file);
    for (int waited = 0; waited < 3000 && !JobCancelRequested(); ++waited) {
        if (access(marker, F_OK) != 0) return;  // the test lets it go on
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace spatialmux
