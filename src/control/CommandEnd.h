#pragma once
// How a command run from the command line meets the signals around it: a
// stop signal's line and exit status, and the signals it goes on through.

#include <string>

namespace spatialmux {

// The text the command line shows for a stop by `signal`.
std::string InterruptedText(int signal);

// Prints the line for a job a stop signal ended; the exit status it gives
// (128 + the signal).
int Interrupted(int signal);

// A file size limit must end in a clean failure and clean-up, not kill the
// process halfway through a file. A reader of standard output that went
// away (`spatialmux IN OUT | head`) must not end the job either: its
// messages are not the job.
void KeepGoingOnFileLimitsAndClosedPipes();

}  // namespace spatialmux
