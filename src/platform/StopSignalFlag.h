#pragma once
// The stop signals (SIGINT from Ctrl-C, SIGTERM, SIGHUP from a closed
// terminal) turned into a flag, for a process that does the work itself: the
// work polls the flag (per frame, per packet), stops, removes what it wrote
// and exits 128 + the signal's number. A signal that comes again while it
// cleans up only sets the flag again, so the clean-up always finishes.

namespace spatialmux::platform {

class StopSignalFlag {
public:
    // Catches the stop signals until destroyed (one at a time per process),
    // except those the process was started with ignored (nohup, a shell's
    // background job).
    StopSignalFlag();
    ~StopSignalFlag();
    StopSignalFlag(const StopSignalFlag&) = delete;
    StopSignalFlag& operator=(const StopSignalFlag&) = delete;

    // The first stop signal received while a flag was installed, 0 for none.
    static int Received();
    // The English name of a stop signal ("SIGINT").
    static const char* Name(int signal);
};

}  // namespace spatialmux::platform
