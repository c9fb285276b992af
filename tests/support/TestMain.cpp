// Test main: the command-line back end stays installed unless a test
// installs its own. A run against the remux engine forces it in-process too.
#include <gtest/gtest.h>

#include "control/job/EngineChoice.h"
#include "support/TestEngine.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    spatialmux::ForceRemux(spatialmux::testing::TestsForceRemux());
    return RUN_ALL_TESTS();
}
