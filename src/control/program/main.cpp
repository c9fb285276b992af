#include "control/ProgramEntry.h"
#include "control/WindowedMode.h"

int main(int argc, char** argv) {
    return spatialmux::ProgramEntry(argc, argv, &spatialmux::RunWindowedApplication);
}
