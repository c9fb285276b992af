#pragma once
// An edit written in one pass on one thread, for a front end that has no
// threads to spare and a file system that shares no blocks (the browser's):
// the copy of the input, then the camera's converted audio over it (none for
// a movie whose audio goes out as it is), the ftyp, the blanks and the size
// fields, and the new moov behind. Then the output read back with the
// core's own reading (CheckEditedOutput): every video sample where the edit
// proved it, the audio track's chunks holding exactly the bytes written,
// or the input's. Plain POSIX reads and writes at offsets, the input in
// slices: memory stays that of one slice, the moov and the tables.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/edit/CameraEdit.h"
#include "output/PreparedEdit.h"

namespace spatialmux {

struct OnePassHooks {
    // The step ("copy", "audio", "metadata") and its percentage.
    std::function<void(const char* phase, double percent)> progress;
    // True when the user stopped the job.
    std::function<bool()> cancelled;
};

enum class OnePassEnd { Written, Cancelled, Failed };

// Writes the edit of the camera movie `reader` has open into `outFd`
// (empty). `written` gets the audio's instants and digest; `why` the cause
// of a failure.
OnePassEnd WriteCameraEditInOnePass(MovieReader& reader, const output::PreparedEdit& edit, int inFd,
                                    int outFd, const OnePassHooks& hooks, WrittenAudio* written,
                                    std::string* why);

// Writes the edit of a movie whose audio goes out as it is.
OnePassEnd WriteCopyEditInOnePass(const output::PreparedEdit& edit, int inFd, int outFd,
                                  const OnePassHooks& hooks, std::string* why);

// Where players find the audio of `fd`'s movie and what its bytes come to:
// every chunk of its first audio track, by its tables (stsc, stsz, stco or
// co64), read in slices. Nothing, with the cause in `why`, when the movie or
// its audio track cannot be read whole.
struct AudioTrackBytes {
    std::vector<output::ByteRange> chunks;
    int64_t bytes = 0;
    uint64_t digest = 0;
};
std::optional<AudioTrackBytes> ReadAudioTrackBytes(int fd, std::string* why);

// The copy edit's audio as its tables place it, chunk by chunk (the bytes
// libavformat's packets cover): what PrepareCopyEdit holds inside the copy.
// Nothing, with the cause, as above.
std::optional<std::vector<output::ByteRange>> AudioPacketsFromTables(int fd, std::string* why);

// The output at `fd` read back: its length, its video samples (each at the
// offset and of the size `edit` proved), its audio chunks (`audioBytes`
// bytes in all, whose digest is `audioDigest`). Nothing when it is what was
// meant to be written, else what differs.
std::optional<std::string> CheckEditedOutput(int fd, const output::PreparedEdit& edit,
                                             int64_t audioBytes, uint64_t audioDigest);

}  // namespace spatialmux
