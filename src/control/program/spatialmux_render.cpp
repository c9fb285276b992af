// spatialmux-render: the headphone render of `spatialmux --binaural`. The
// command line starts it in its own place with the arguments it was given,
// so that libavfilter, and the libraries Debian's brings along, load for the
// render alone. The render's progress line, stop signals and exit statuses
// are the command line's own.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "control/CommandEnd.h"
#include "control/CommandLine.h"
#include "control/ConsoleProgress.h"
#include "control/MachineProgress.h"
#include "control/binaural/BinauralCommand.h"
#include "control/job/ProgressProtocol.h"
#include "platform/FileFacts.h"
#include "platform/NotificationCenter.h"
#include "platform/StopSignalFlag.h"

namespace spatialmux {
namespace {

int Binaural(const CommandLineRequest& request) {
    const BinauralRequest binaural{request.paths[0],
                                   request.paths[1],
                                   {request.lookAzimuth, request.lookElevation},
                                   request.hrtf,
                                   request.rotateAudio};
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
}  // namespace spatialmux

int main(int argc, char** argv) {
    using namespace spatialmux;
    const CommandLineRequest request = ParseCommandLine(argc, argv);
    if (request.mode != CommandLineRequest::Mode::Binaural) {
        if (request.mode == CommandLineRequest::Mode::Wrong && !request.problem.empty()) {
            std::fprintf(stderr, "spatialmux: %s\n", request.problem.c_str());
        }
        std::fputs(
            "spatialmux-render runs the headphone render of spatialmux:\n"
            "  spatialmux [--progress=machine] --binaural INPUT OUTPUT [--look AZ[:EL]] [--hrtf "
            "FILE.sofa]\n",
            stderr);
        return 2;
    }
    return Binaural(request);
}
