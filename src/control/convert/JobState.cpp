// Process-wide state of the one job a process runs: the reader and writer
// slots, whether a job runs, its result and the cancel request.
#include <atomic>
#include <memory>

#include "audio/WavWriter.h"
#include "control/convert/JobState.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/JobCancel.h"
#include "control/job/OutputCommit.h"
#include "movie/MovieReader.h"

namespace spatialmux {

namespace {
std::atomic<bool> jobRunning{false};
std::atomic<JobResult> lastJobResult{JobResult::None};
}  // namespace

std::unique_ptr<MovieReader>& wrap_ffmpeg::cur_reader() {
    static std::unique_ptr<MovieReader> reader;
    return reader;
}

std::unique_ptr<WavWriter>& wrap_ffmpeg::cur_writer() {
    static std::unique_ptr<WavWriter> writer;
    return writer;
}

std::unique_ptr<OutputCommit>& wrap_ffmpeg::cur_commit() {
    static std::unique_ptr<OutputCommit> commit;
    return commit;
}

bool wrap_ffmpeg::JobRunning() {
    return jobRunning.load();
}
JobResult wrap_ffmpeg::LastJobResult() {
    return lastJobResult.load();
}
void wrap_ffmpeg::RequestCancel() {
    RequestJobCancel();
}
bool wrap_ffmpeg::CancelRequested() {
    return JobCancelRequested();
}

namespace job_state {

bool TryBegin() {
    bool expected = false;
    if (!jobRunning.compare_exchange_strong(expected, true)) return false;
    ClearJobCancel();
    return true;
}

void End(JobResult result) {
    lastJobResult = result;
    jobRunning = false;
}

}  // namespace job_state

}  // namespace spatialmux
