#pragma once
// Internal bookkeeping of the one job a process runs.

#include "control/convert/wrap_ffmpeg.h"

namespace spatialmux::job_state {

// Marks a job as running and clears an old cancel request; false when a job
// already runs.
bool TryBegin();
// Records the job's result and marks it ended.
void End(JobResult result);

}  // namespace spatialmux::job_state
