// Test main: the command-line back end stays installed unless a test
// installs its own; nothing else to set up.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
