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

void PrintHelp() {
    std::printf(
        "spatialmux %s - converts a 360-degree camera movie's spatial audio\n"
        "\n"
        "usage:\n"
        "  spatialmux INPUT OUTPUT   convert the camera movie INPUT into OUTPUT\n"
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
        "Kept from the recording: the dates of the movie and of both tracks, the\n"
        "rotation, the track languages, the video handler name, the user-data tags\n"
        "(location, make, model, date, title, ...) and the QuickTime keys. Left\n"
        "out: the camera's private boxes (maker note, audio tables) and its software\n"
        "tag; the output file's own modification time is that of the conversion.\n"
        "\n"
        "exit status: 0 converted, 1 refused or failed (nothing is left behind),\n"
        "2 wrong command line.\n",
        SPATIALMUX_VERSION);
}

}  // namespace

int ProgramEntry(int argc, char** argv, WindowedRunner windowed) {
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
