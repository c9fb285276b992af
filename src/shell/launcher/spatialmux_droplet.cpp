// The program behind the desktop entry: every file the desktop hands over
// (one or several, dropped or opened at once) reaches the droplet as one
// drop, never as a command line of input and output.
#include "shell/WindowedApplication.h"

int main(int argc, char** argv) { return spatialmux::RunDroplet(argc, argv); }
