// The command line on CLI11. Each option is one line in ParseCommandLine;
// the mode follows from the options and the number of positional arguments.
#include "control/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace spatialmux {

namespace {

constexpr const char* kUsage = "usage: spatialmux INPUT OUTPUT   (spatialmux --help for more)";

CommandLineRequest Wrong(std::string problem) {
    CommandLineRequest request;
    request.mode = CommandLineRequest::Mode::Wrong;
    request.problem = std::move(problem);
    return request;
}

}  // namespace

const char* CommandLineUsage() {
    return kUsage;
}

std::string CommandLineHelp() {
    char version[128];
    std::snprintf(version, sizeof version, "spatialmux %s", SPATIALMUX_VERSION);
    return std::string(version) +
           " - converts a 360-degree camera movie's spatial audio\n"
           "\n"
           "usage:\n"
           "  spatialmux INPUT OUTPUT   convert the camera movie INPUT into OUTPUT\n"
           "  spatialmux --accept-short-audio INPUT OUTPUT\n"
           "                            convert even when the movie's audio tables hold\n"
           "                            less audio than its duration says (the output then\n"
           "                            has the shorter audio; without this option such a\n"
           "                            movie is refused with a warning giving both lengths)\n"
           "  spatialmux --remux INPUT OUTPUT\n"
           "                            convert through FFmpeg's remux instead of editing\n"
           "                            a copy of the input in place (also with -o DIR)\n"
           "  spatialmux -o DIR [-j N] [--overwrite] INPUT...\n"
           "                            convert every camera movie among the INPUT files\n"
           "                            and folders (searched for .mp4 and .mov files,\n"
           "                            hidden ones and DIR left out) into DIR/NAME.mov;\n"
           "                            -j N converts N at once (default 1), --overwrite\n"
           "                            replaces outputs that exist (else they are\n"
           "                            skipped); also --output-dir DIR, --jobs N\n"
           "  spatialmux --check FILE...\n"
           "                            report on each movie without changing it: for a\n"
           "                            camera movie whether it can be converted (and what\n"
           "                            a conversion would do), for any other movie whether\n"
           "                            360 players will find its spherical video and\n"
           "                            first-order ambisonic audio\n"
           "  spatialmux --check --json FILE...\n"
           "                            the same as one JSON object per file and line\n"
           "  spatialmux [MOVIE]        open the windowed converter (drop one movie on it)\n"
           "  spatialmux --help         show this help\n"
           "  spatialmux --version      show the version\n"
           "\n"
           "The output keeps the input's video as it is (no re-encoding) and carries the\n"
           "camera's four-channel spatial audio in the order 1, 3, 4, 2, with the\n"
           "camera model's level correction on the first channel, and the camera's\n"
           "spherical-video and spatial-audio metadata. Name the output .mov: the\n"
           "container follows its extension, and only QuickTime movies carry this\n"
           "16-bit PCM audio. A .mov output is made by editing a copy of the input:\n"
           "the audio is rewritten where it stands and a new movie box written at\n"
           "the end (the copy shares the input's blocks on XFS and Btrfs); the disk\n"
           "needs free space of the input's size. With --remux, or for an input the\n"
           "edit cannot handle, FFmpeg remuxes the video with a hidden temporary WAV\n"
           "(.OUTPUT.wav) and the disk needs three times the input's size. Before a\n"
           "conversion reports success, the finished output is checked against the\n"
           "input.\n"
           "\n"
           "Kept from the recording: the dates of the movie and of both tracks, the\n"
           "rotation, the track languages, the video handler name, the user-data tags\n"
           "(location, make, model, date, title, ...) and the QuickTime keys. Left\n"
           "out: the camera's private boxes (maker note, audio tables) and its software\n"
           "tag; the output file's own modification time is that of the conversion.\n"
           "\n"
           "--check reads only: it writes and changes no file.\n"
           "\n"
           "A batch (-o DIR) creates DIR if needed and refuses to start when an input\n"
           "is missing or two inputs would be written to the same output name (letter\n"
           "case ignored). Files that are not camera movies are skipped. Each movie is\n"
           "converted to a hidden name in DIR and renamed when it is complete; Ctrl-C\n"
           "stops every conversion and leaves no partial file.\n"
           "\n"
           "exit status: 0 converted (or, for --check, every file convertible or\n"
           "ready; for a batch, no movie failed), 1 refused or failed (nothing is left\n"
           "behind; for --check, any file not convertible and not ready), 2 wrong\n"
           "command line (for a batch also a missing input or a clash of output names),\n"
           "130, 143 or 129 a batch stopped by SIGINT, SIGTERM or SIGHUP.\n";
}

CommandLineRequest ParseCommandLine(int argc, const char* const* argv) {
    CommandLineRequest request;
    bool help = false;
    bool version = false;
    bool check = false;

    CLI::App app("spatialmux", "spatialmux");
    app.set_help_flag();  // our own help text, through the request
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.add_flag("--check", check);
    app.add_flag("--json", request.json);
    app.add_flag("--accept-short-audio", request.acceptShortAudio);
    app.add_flag("--remux", request.remux);
    CLI::Option* outputDir = app.add_option("-o,--output-dir", request.outputDir);
    CLI::Option* jobs = app.add_option("-j,--jobs", request.jobs)->check(CLI::Range(1, 64));
    CLI::Option* overwrite = app.add_flag("--overwrite", request.overwrite);
    CLI::Option* progressFd =
        app.add_option("--progress-fd", request.progressFd)->check(CLI::Range(0, 1 << 20));
    app.add_option("paths", request.paths);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return Wrong(error.what());
    }

    using Mode = CommandLineRequest::Mode;
    if (help) {
        request.mode = Mode::Help;
    } else if (version) {
        request.mode = Mode::Version;
    } else if (check) {
        if (request.paths.empty()) return Wrong("--check needs at least one file");
        if (outputDir->count() > 0) return Wrong("--check writes nothing: it takes no -o");
        request.mode = Mode::Check;
    } else if (request.json) {
        return Wrong("--json goes with --check");
    } else if (outputDir->count() > 0) {
        if (request.outputDir.empty()) return Wrong("-o needs a folder");
        if (request.paths.empty()) return Wrong("-o DIR needs at least one movie or folder");
        if (progressFd->count() > 0) return Wrong("--progress-fd goes with INPUT OUTPUT");
        if (request.acceptShortAudio) return Wrong("--accept-short-audio goes with INPUT OUTPUT");
        request.mode = Mode::Batch;
    } else if (jobs->count() > 0 || overwrite->count() > 0) {
        return Wrong("-j and --overwrite go with -o DIR");
    } else if (request.acceptShortAudio && request.paths.size() != 2) {
        return Wrong("--accept-short-audio goes with INPUT OUTPUT");
    } else if (progressFd->count() > 0 && request.paths.size() != 2) {
        return Wrong("--progress-fd goes with INPUT OUTPUT");
    } else if (request.paths.size() <= 1) {
        request.mode = Mode::Windowed;
    } else if (request.paths.size() == 2) {
        request.mode = Mode::Convert;
    } else {
        return Wrong("");
    }
    return request;
}

}  // namespace spatialmux
