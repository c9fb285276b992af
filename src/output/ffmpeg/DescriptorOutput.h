#pragma once
// The remux's output through a descriptor the caller opened: the hidden
// file it created exclusively. The remux then never opens a file by name
// for writing, so nothing that appears under that name meanwhile (a link, a
// file of someone else's) is written through.

extern "C" {
#include <libavformat/avio.h>
}

namespace spatialmux::output {

// An AVIOContext writing to `fd` (not owned, open for reading and writing,
// seekable); nullptr when it could not be made. The muxer context that uses
// it needs AVFMT_FLAG_CUSTOM_IO.
AVIOContext* OpenDescriptorOutput(int fd);
// Flushes and frees what OpenDescriptorOutput made (the descriptor stays
// open); 0, or a negative code when a write failed at any time.
int CloseDescriptorOutput(AVIOContext** context);

}  // namespace spatialmux::output
