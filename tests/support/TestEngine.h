#pragma once
// Which conversion engine the conversion tests drive. CTest runs the
// conversion suites twice: as they are (a .mov output gets the edit engine)
// and with SPATIALMUX_TEST_ENGINE=remux, which adds --remux to every run of
// the program and forces the remux in-process, so that both engines must
// pass the same tests.

#include <cstdlib>
#include <string>

namespace spatialmux::testing {

inline bool TestsForceRemux() {
    const char* engine = std::getenv("SPATIALMUX_TEST_ENGINE");
    return engine != nullptr && std::string(engine) == "remux";
}

}  // namespace spatialmux::testing
