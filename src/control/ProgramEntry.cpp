#include "control/ProgramEntry.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "control/BatchRun.h"
#include "control/CommandLine.h"
#include "control/ConsoleProgress.h"
#include "control/HumanSize.h"
#include "control/MovieCheck.h"
#include "control/ProgressReportPipe.h"
#include "control/wrap_ffmpeg.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `progressFd` >= 0: run by a batch, which reads the progress from that
// descriptor and prints its own line per movie.
int Convert(const std::string& input, const std::string& output, int progressFd,
            bool acceptShortAudio, bool remux) {
    wrap_ffmpeg controller;
    controller.AcceptShortAudio(acceptShortAudio);
    if (output == "YES") {
        controller.myAlert(platform::LocalizedString("alert1"));
        return 2;
    }
    // The choice holds for the process: a batch passes it to its children.
    wrap_ffmpeg::ForceRemux(remux);
    // A file size limit must end in a clean failure and clean-up, not kill
    // the process halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);

    const auto began = std::chrono::steady_clock::now();
    int32_t started = 0;
    {
        ConsoleProgress progress(input, output, stderr);
        ProgressReportPipe report(progressFd);
        started = controller.AppMainFuncProc(input, output, true);
    }
    std::fflush(stdout);
    if (started == 0) return 1;
    if (wrap_ffmpeg::LastJobResult() != JobResult::Succeeded) return 1;
    if (progressFd >= 0) return 0;

    // The pipeline verified the output before it reported success, so the
    // closing line can name what the output holds.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto size = platform::CurrentFileFacts().Size(output);
    // The diagnostics before it may leave their last line open.
    std::printf("\nconverted %s -> %s (%s, 4-ch ambisonics, 360 metadata) in %.1f s\n",
                BaseName(input).c_str(), BaseName(output).c_str(),
                HumanSize(size.value_or(0)).c_str(), seconds);
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
            std::printf("spatialmux %s\n", SPATIALMUX_VERSION);
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
        case Mode::Convert:
            return Convert(request.paths[0], request.paths[1], request.progressFd,
                           request.acceptShortAudio, request.remux);
        case Mode::Batch:
            wrap_ffmpeg::ForceRemux(request.remux);
            return RunBatch(
                BatchRequest{request.paths, request.outputDir, request.jobs, request.overwrite},
                argc > 0 ? argv[0] : nullptr);
    }
    return 2;
}

}  // namespace spatialmux
