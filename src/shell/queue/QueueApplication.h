#pragma once
// spatialmux-gui: the queue window as a program. Every argument is a file or
// folder to queue (not converted until Convert), as the desktop hands over
// the files opened with it.

namespace spatialmux {

// Runs the window with argv[1..argc-1] queued; returns the exit status (1
// without a display, 128 + the signal when a stop signal ended it).
int RunQueueApplication(int argc, char** argv);

}  // namespace spatialmux
