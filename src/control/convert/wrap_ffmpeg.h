#pragma once
// spatialmux INPUT OUTPUT: one camera movie converted into one output,
// completely and verified, or nothing written.
//
// The conversion controller: checks one input movie and one output path,
// refuses a job that cannot work, and runs the conversion pipeline inline or
// on a worker thread. It knows nothing of its front ends: they observe the
// notifications it posts, answer its alerts and may request cancellation.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/convert/JobPlan.h"
#include "output/Remux.h"

namespace spatialmux {

class MovieReader;
class OutputCommit;
class WavWriter;

// Results of a job as the command line reports them.
enum class JobResult {
    None,       // no job has run
    Succeeded,  // the output was written completely
    Refused,    // refused before anything was written
    Failed,     // started, failed, and cleaned up
    Cancelled,  // stopped by a cancel request, and cleaned up
};

class wrap_ffmpeg {
public:
    // 1 when the job was started (run inline: has run), 0 when refused.
    // The preflight (wrap_ffmpeg_job.cpp) checks the request and makes the
    // job's plan, refusing with its cause (an "error!!" line and an alert)
    // what cannot work, before anything is written; the engines then run on
    // the plan (ffmpeg_convert), inline or on a worker thread.
    int32_t AppMainFuncProc(const JobRequest& request, bool runInline);
    // The same with the default options.
    int32_t AppMainFuncProc(const std::string& input, const std::string& output, bool runInline);
    void InitializeFfmpeg();
    // 1 when the reader accepts the movie at `path`, 0 otherwise. A refusal
    // with a known cause prints "<path>: <cause>" before "error!!". Audio
    // tables that hold more than a frame fewer instants than the audio
    // track's duration give a warning with both figures, and are refused
    // unless `acceptShortAudio` (the output then has the shorter audio).
    int32_t CheckMovie(const std::string& path, bool acceptShortAudio = false);
    double GetFileSize(const std::string& path);
    // Runs the planned job and ends it (its result in LastJobResult).
    void ffmpeg_convert(const JobPlan& plan);
    // Modal alert with one "OK" button on the main thread; returns when it
    // has been dismissed.
    void myAlert(const std::string& text);
    // Posts ProgressUpdate_Notification with `percent` on the main thread
    // without waiting (after ContinueProgress, mapped into what is left).
    void myProgRate_update(float percent);
    // An engine falls back to another: the next one's 0 to 100 % is shown
    // from where the progress stands to 100 %, so that it never goes back.
    void ContinueProgress() { progressFrom = progressShown; }
    // Posts PhaseUpdate_Notification with the name of the step the job has
    // reached, on the main thread without waiting.
    void myPhase_update(const char* phase);

    // The pipeline of one conversion of the camera's movie: 0 when the
    // output was written completely, -1 otherwise (after its alert and
    // clean-up).
    int32_t Convert(const JobPlan& plan);

    // The edit engine (EditPipeline.cpp): the output as a copy of the input
    // with the audio chunks rewritten in place and a new moov. 0 written, -1
    // failed (reported, cleaned up, or cancelled), kEditUnsuitable when the
    // movie cannot be edited that way: nothing was written, or what was
    // written failed the finished-output check and the hidden output is
    // empty again; `unsuitable` says why, and the remux takes over.
    static constexpr int32_t kEditUnsuitable = 1;
    // It writes into `commit`'s hidden output and commits it.
    int32_t ConvertByEdit(const JobPlan& job, OutputCommit& commit, std::string* unsuitable);
    // Copies the movie's first video stream and the WAV's audio into the
    // output: 0 when the copy ran to its end, -1 on failure (reported), -2
    // when stopped by a cancel request. `outputOpened`, when given, tells
    // whether the output file was created (or truncated) by this call, so
    // that a caller cleaning up after a failure never deletes a file that
    // the remux did not touch.
    // `containerName`, when not empty, is the name whose extension chooses
    // the container (the final output's, while `outputPath` is the hidden
    // file it is written into); `outputFd`, when >= 0, the descriptor of
    // that file, written through instead of opening it by name. `audio`:
    // PCM copied as it is, or the encoder to use.
    int32_t ffmpegMuxer(const std::string& moviePath, const std::string& wavPath,
                        const std::string& outputPath, bool* outputOpened = nullptr,
                        const std::string& containerName = std::string(), int outputFd = -1,
                        const output::AudioEncoding& audio = {},
                        const output::TrackChoice& tracks = {});

    // The remux of a movie whose audio goes out as it is: its 360 video
    // stream (`tracks`, with the tracks kept behind the audio) and its first
    // audio stream copied packet by packet into
    // `outputPath` (through `outputFd`; the container chosen by
    // `containerName`), `audio.codec` naming the audio's codec. Its progress
    // runs the whole scale, 0 to 100 percent. 0, -1 (reported) or -2
    // (cancelled), as ffmpegMuxer.
    int32_t ffmpegCopyMuxer(const std::string& moviePath, const std::string& outputPath,
                            const std::string& containerName, int outputFd,
                            const output::AudioEncoding& audio,
                            const output::TrackChoice& tracks = {});

    // Process-wide job state: one job at a time per process.
    static std::unique_ptr<MovieReader>& cur_reader();
    static std::unique_ptr<WavWriter>& cur_writer();
    // The hidden output that AppMainFuncProc prepared (lock taken, file
    // created) for the job it starts; Convert takes it over.
    static std::unique_ptr<OutputCommit>& cur_commit();
    static bool JobRunning();
    static JobResult LastJobResult();
    // Asks the running job to stop at its next frame or packet. It then
    // deletes its temporary WAV and its output and reports Cancelled.
    static void RequestCancel();
    static bool CancelRequested();

private:
    // The shared exit of a failed remux, after its diagnostic: the failure
    // alert. Returns -1.
    int32_t goto_end();
    // The end of a remux as the controller reports it: 0 (progress at
    // 100), -2 when cancelled, -1 after the failure's alert.
    int32_t RemuxEnded(output::RemuxStatus status);

    // The preflight's steps (wrap_ffmpeg_job.cpp): each either fills its
    // part of `plan` or refuses the job (said, alerted, ended) and returns
    // false.
    bool PlanJob(const JobRequest& request, JobPlan& plan);
    bool PlanSource(JobPlan& plan, std::optional<uint64_t>* foaSpace);
    bool CheckFreeSpace(const JobPlan& plan, std::optional<uint64_t> foaSpace);
    // Where the progress stands, and where the running engine's 0 % is
    // shown (ContinueProgress).
    float progressShown = 0.0f;
    float progressFrom = 0.0f;
};

// The conversion of a movie that is not the camera's (FoaPipeline.cpp), the
// plan's SourceKind::FoaMovie, into the hidden output that AppMainFuncProc
// prepared: 0 written and committed, -1 failed (reported, cleaned up) or
// cancelled.
int32_t ConvertFoaMovie(wrap_ffmpeg& controller, const JobPlan& plan);

}  // namespace spatialmux
