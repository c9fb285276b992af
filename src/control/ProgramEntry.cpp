#include "control/ProgramEntry.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "control/CommandLine.h"
#include "control/ConsoleProgress.h"
#include "control/MachineProgress.h"
#include "control/ProgressProtocol.h"
#include "control/ProgressReportPipe.h"
#include "control/batch/BatchRun.h"
#include "control/binaural/BinauralCommand.h"
#include "control/check/MovieCheck.h"
#include "control/convert/HumanSize.h"
#include "control/convert/OutputFormat.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/soundmap/SoundMapCommand.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "platform/PathParts.h"
#include "platform/StopSignalFlag.h"

namespace spatialmux {

namespace {

// The text the command line shows for a stop by `signal`.
std::string InterruptedText(int signal) {
    return platform::FillPlaceholder(platform::LocalizedString("interrupted"), "{signal}",
                                     platform::StopSignalFlag::Name(signal));
}

// The line for a job a stop signal ended, and the exit status it gives.
int Interrupted(int signal) {
    std::fprintf(stderr, "spatialmux: %s\n", InterruptedText(signal).c_str());
    std::fflush(stderr);
    return 128 + signal;
}

// A file size limit must end in a clean failure and clean-up, not kill the
// process halfway through a file. A reader of standard output that went
// away (`spatialmux IN OUT | head`) must not end the job either: its
// messages are not the job.
void KeepGoingOnFileLimitsAndClosedPipes() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

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
        std::fprintf(stderr, "spatialmux: %s\n", refusal->c_str());
        if (machine) machine->End(protocol::kRefused, output, std::nullopt, *refusal);
        return 2;
    }
    wrap_ffmpeg controller;
    controller.AcceptShortAudio(request.acceptShortAudio);
    controller.ChooseAudio(request.audio, request.audioBitRate);
    if (output == "YES") {
        controller.myAlert(platform::LocalizedString("alert1"));
        if (machine) machine->End(protocol::kRefused, output, std::nullopt, machine->LastAlert());
        return 2;
    }
    // The choice holds for the process: a batch passes it to its children.
    wrap_ffmpeg::ForceRemux(request.remux);
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
        started = controller.AppMainFuncProc(input, output, true);
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
    const output::AudioCodec codec = std::get<OutputFormat>(format).audio.codec;
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

// spatialmux --binaural INPUT OUTPUT: the render with the conversion's
// progress line, stop signals and exit statuses.
int Binaural(const CommandLineRequest& request) {
    const BinauralRequest binaural{request.paths[0],
                                   request.paths[1],
                                   {request.lookAzimuth, request.lookElevation},
                                   request.hrtf};
    // A name whose container is unknown is a wrong command line, said
    // before anything is read.
    if (BinauralContainerFor(binaural.output) == BinauralContainer::Unsupported) {
        std::fprintf(stderr, "spatialmux: --binaural writes .wav, .m4a, .mp4 or .mov, not %s\n",
                     binaural.output.c_str());
        return 2;
    }
    KeepGoingOnFileLimitsAndClosedPipes();
    platform::StopSignalFlag stops;
    const auto began = std::chrono::steady_clock::now();
    std::string problem;
    std::optional<BinauralResult> result;
    // With --progress=machine a front end follows the render by the
    // protocol's lines, as it follows a conversion.
    namespace protocol = progress_protocol;
    std::optional<MachineProgress> machine;
    if (request.machineProgress) machine.emplace(binaural.input, binaural.output, stderr);
    {
        std::optional<ConsoleProgress> progress;
        if (!machine) progress.emplace(binaural.input, binaural.output, stderr);
        result = MakeBinaural(
            binaural,
            [](float percent) {
                platform::Notification notification;
                notification.name = platform::kProgressUpdateNotification;
                notification.number = percent;
                platform::NotificationCenter::Default().Post(notification);
                return platform::StopSignalFlag::Received() == 0;
            },
            &problem);
    }
    if (const int signal = platform::StopSignalFlag::Received(); signal != 0 && !result) {
        if (machine) {
            machine->End(protocol::kStopped, binaural.output, std::nullopt,
                         InterruptedText(signal));
        }
        return Interrupted(signal);
    }
    if (!result) {
        std::fprintf(stderr, "spatialmux --binaural: %s\n", problem.c_str());
        if (machine) machine->End(protocol::kFailed, binaural.output, std::nullopt, problem);
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto size = platform::CurrentFileFacts().Size(result->outputPath);
    if (machine) machine->End(protocol::kConverted, result->outputPath, size.value_or(0), "");
    std::fputs(BinauralSummary(binaural, *result, seconds, size.value_or(0)).c_str(), stdout);
    std::fflush(stdout);
    return 0;
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
                std::fprintf(stderr, "spatialmux: %s\n", request.problem.c_str());
            std::fprintf(stderr, "%s\n", CommandLineUsage());
            return 2;
        case Mode::Windowed:
            return windowed(argc, argv);
        case Mode::Check:
            return RunMovieCheck(request.paths, request.json, stdout);
        case Mode::SoundMap:
            return RunSoundMap({request.paths[0], request.mapOutput, request.moments, request.at},
                               stdout, stderr);
        case Mode::Binaural:
            return Binaural(request);
        case Mode::Convert:
            return Convert(request.paths[0], request.paths[1], request.progressFd, request);
        case Mode::Batch:
            wrap_ffmpeg::ForceRemux(request.remux);
            return RunBatch(
                BatchRequest{request.paths, request.outputDir, request.jobs, request.overwrite,
                             request.audio, request.audioBitRate, request.format},
                argc > 0 ? argv[0] : nullptr);
    }
    return 2;
}

}  // namespace spatialmux
