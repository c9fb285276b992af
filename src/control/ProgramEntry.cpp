#include "control/ProgramEntry.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "control/CommandEnd.h"
#include "control/CommandLine.h"
#include "control/ConsoleProgress.h"
#include "control/MachineProgress.h"
#include "control/ProgressReportPipe.h"
#include "control/batch/BatchRun.h"
#include "control/check/CheckCommand.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/EngineChoice.h"
#include "control/job/FailureCause.h"
#include "control/job/HumanSize.h"
#include "control/job/OutputFormat.h"
#include "control/job/ProgressProtocol.h"
#include "control/soundmap/SoundMapCommand.h"
#include "platform/ExecutablePath.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/PathParts.h"
#include "platform/StopSignalFlag.h"

namespace spatialmux {

namespace {

// `progressFd` >= 0: run by a batch, which reads the progress from that
// descriptor and prints its own line per movie. With --progress=machine the
// progress and the result go to standard error as the protocol's lines.
int Convert(const std::string& input, const std::string& output, int progressFd,
            const CommandLineRequest& request) {
    namespace protocol = progress_protocol;
    std::optional<MachineProgress> machine;
    if (request.machineProgress) machine.emplace(input, output, stderr);
    // A codec the output's container cannot hold is a wrong command line:
    // said before anything is read or written.
    const auto format = ChooseOutputFormat(output, request.audio, request.audioBitRate);
    if (const auto* refusal = std::get_if<std::string>(&format)) {
        std::fprintf(stderr, "spatialmux: %s\n", platform::ControlsEscaped(*refusal).c_str());
        KeepFailureCause(*refusal);
        if (machine) machine->End(protocol::kRefused, output, std::nullopt, *refusal);
        return 2;
    }
    wrap_ffmpeg controller;
    // The format, decided once, goes with the job.
    JobRequest job{input, output, JobOptions{}, std::get<OutputFormat>(format)};
    job.options.audio = request.audio;
    job.options.audioBitRate = request.audioBitRate;
    job.options.acceptShortAudio = request.acceptShortAudio;
    job.options.spatial = request.spatial;
    job.options.rotateAudio = request.rotateAudio;
    if (output == "YES") {
        controller.myAlert(platform::LocalizedString("alert1"));
        if (machine) machine->End(protocol::kRefused, output, std::nullopt, machine->LastAlert());
        return 2;
    }
    // The choice holds for the process: a batch passes it to its children.
    ForceRemux(request.remux);
    KeepGoingOnFileLimitsAndClosedPipes();
    // Ctrl-C, SIGTERM and SIGHUP become a cancel request: the job stops at
    // its next frame or packet and removes what it wrote.
    platform::StopSignalFlag stops;

    const auto began = std::chrono::steady_clock::now();
    int32_t started = 0;
    {
        std::optional<ConsoleProgress> progress;
        if (!machine) progress.emplace(input, output, stderr);
        ProgressReportPipe report(progressFd);
        started = controller.AppMainFuncProc(job, true);
    }
    std::fflush(stdout);
    const JobResult result = wrap_ffmpeg::LastJobResult();
    if (const int signal = platform::StopSignalFlag::Received();
        signal != 0 && (started == 0 || result != JobResult::Succeeded)) {
        const std::string text = InterruptedText(signal);
        std::fprintf(stderr, "spatialmux: %s\n", text.c_str());
        std::fflush(stderr);
        if (machine) machine->End(protocol::kStopped, output, std::nullopt, text);
        return 128 + signal;
    }
    if (started == 0 || result != JobResult::Succeeded) {
        if (machine) {
            machine->End(started == 0 ? protocol::kRefused : protocol::kFailed, output,
                         std::nullopt, machine->LastAlert());
        }
        return 1;
    }
    const auto size = platform::CurrentFileFacts().Size(output);
    if (machine) machine->End(protocol::kConverted, output, size.value_or(0), std::string());
    if (progressFd >= 0) return 0;

    // The pipeline verified the output before it reported success, so the
    // closing line can name what the output holds.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const output::AudioCodec codec = job.format->audio.codec;
    std::printf("converted %s -> %s (%s, 4-ch ambisonics%s, 360 metadata) in %.1f s\n",
                platform::FileNameOf(input).c_str(), platform::FileNameOf(output).c_str(),
                HumanSize(size.value_or(0)).c_str(),
                codec == output::AudioCodec::Aac    ? " AAC"
                : codec == output::AudioCodec::Opus ? " Opus"
                                                    : "",
                seconds);
    std::fflush(stdout);
    return 0;
}

// spatialmux --binaural: the render program beside this one, in this
// process's place. Only it loads libavfilter; being the same process, it
// prints, gets the stop signals and exits as this program would.
int StartRender(int argc, char** argv) {
    std::string tried;
    const int cause = platform::RunProgramBesideInstead(argc, argv, kRenderProgramName,
                                                        kRenderProgramName, &tried);
    std::fprintf(stderr,
                 "spatialmux --binaural: the headphone render could not be started (%s: %s)\n",
                 tried.c_str(), std::strerror(cause));
    return 1;
}

}  // namespace

int ProgramEntry(int argc, char** argv, WindowedRunner windowed) {
    const CommandLineRequest request = ParseCommandLine(argc, argv);
    using Mode = CommandLineRequest::Mode;
    switch (request.mode) {
        case Mode::Help:
            std::fputs(CommandLineHelp().c_str(), stdout);
            return 0;
        case Mode::Version:
            std::fputs(CommandLineVersion().c_str(), stdout);
            return 0;
        case Mode::Wrong:
            if (!request.problem.empty())
                std::fprintf(stderr, "spatialmux: %s\n",
                             platform::ControlsEscaped(request.problem).c_str());
            std::fprintf(stderr, "%s\n", CommandLineUsage());
            return 2;
        case Mode::Windowed:
            return windowed(argc, argv);
        case Mode::Check:
            return RunMovieCheck(request.paths, request.json, stdout);
        case Mode::SoundMap:
            return RunSoundMap({request.paths[0], request.mapOutput, request.moments, request.at,
                                request.rotateAudio},
                               stdout, stderr);
        case Mode::Binaural:
            return StartRender(argc, argv);
        case Mode::Convert:
            return Convert(request.paths[0], request.paths[1], request.progressFd, request);
        case Mode::Batch:
            ForceRemux(request.remux);
            return RunBatch(BatchRequest{request.paths, request.outputDir, request.jobs,
                                         request.overwrite, request.audio, request.audioBitRate,
                                         request.format, request.spatial, request.rotateAudio},
                            argc > 0 ? argv[0] : nullptr);
    }
    return 2;
}

}  // namespace spatialmux
