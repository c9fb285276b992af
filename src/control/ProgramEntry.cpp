#include "control/ProgramEntry.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "control/ConsoleProgress.h"
#include "control/wrap_ffmpeg.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

constexpr const char* kUsage = "usage: spatialmux INPUT OUTPUT   (spatialmux --help for more)";
constexpr const char* kAcceptShortAudio = "--accept-short-audio";

void PrintHelp() {
    std::printf(
        "spatialmux %s - converts a 360-degree camera movie's spatial audio\n"
        "\n"
        "usage:\n"
        "  spatialmux INPUT OUTPUT   convert the camera movie INPUT into OUTPUT\n"
        "  spatialmux --accept-short-audio INPUT OUTPUT\n"
        "                            convert even when the movie's audio tables hold\n"
        "                            less audio than its duration says (the output then\n"
        "                            has the shorter audio; without this option such a\n"
        "                            movie is refused with a warning giving both lengths)\n"
        "  spatialmux [MOVIE]        open the windowed converter (drop one movie on it)\n"
        "  spatialmux --help         show this help\n"
        "  spatialmux --version      show the version\n"
        "\n"
        "The output keeps the input's video as it is (no re-encoding) and carries the\n"
        "camera's four-channel spatial audio in the order 1, 3, 4, 2, with the\n"
        "camera model's level correction on the first channel, and the camera's\n"
        "spherical-video and spatial-audio metadata. Name the output .mov: the\n"
        "container follows its extension, and only QuickTime movies carry this\n"
        "16-bit PCM audio. A hidden temporary WAV (.OUTPUT.wav) is written beside\n"
        "the output while converting and removed afterwards; the output's disk\n"
        "needs free space of three times the input's size.\n"
        "\n"
        "exit status: 0 converted, 1 refused or failed (nothing is left behind),\n"
        "2 wrong command line.\n",
        SPATIALMUX_VERSION);
}

}  // namespace

int ProgramEntry(int argc, char** argv, WindowedRunner windowed) {
    // The one option of a conversion comes before its two paths.
    const bool acceptShortAudio = argc >= 2 && std::strcmp(argv[1], kAcceptShortAudio) == 0;
    if (acceptShortAudio) {
        if (argc != 4) {
            std::fprintf(stderr, "%s\n", kUsage);
            return 2;
        }
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    const int arguments = argc - 1;
    if (arguments == 1 &&
        (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintHelp();
        return 0;
    }
    if (arguments == 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("spatialmux %s\n", SPATIALMUX_VERSION);
        return 0;
    }
    if (arguments <= 1) return windowed(argc, argv);
    if (arguments > 2) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }

    wrap_ffmpeg controller;
    controller.AcceptShortAudio(acceptShortAudio);
    if (std::strcmp(argv[2], "YES") == 0) {
        controller.myAlert(platform::LocalizedString("alert1"));
        return 2;
    }
    // A file size limit must end in a clean failure and clean-up, not kill
    // the process halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);

    const std::string input = argv[1];
    const std::string output = argv[2];
    int32_t started = 0;
    {
        ConsoleProgress progress(input, output, stderr);
        started = controller.AppMainFuncProc(input, output, true);
    }
    std::fflush(stdout);
    if (started == 0) return 1;
    return wrap_ffmpeg::LastJobResult() == JobResult::Succeeded ? 0 : 1;
}

}  // namespace spatialmux
