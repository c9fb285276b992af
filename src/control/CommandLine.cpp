// The command line on CLI11. Each option is one line in ParseCommandLine;
// the mode follows from the options and the number of positional arguments.
#include "control/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace spatialmux {

namespace {

constexpr const char* kUsage = "usage: spatialmux INPUT OUTPUT   (spatialmux --help for more)";

CommandLineRequest Wrong(std::string problem) {
    CommandLineRequest request;
    request.mode = CommandLineRequest::Mode::Wrong;
    request.problem = std::move(problem);
    return request;
}

// A moment of --at: a number of seconds, 0 or more.
std::string SecondsFromStart(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < 0.0) {
        return "needs times in seconds from the start (0 or more), not \"" + text + "\"";
    }
    return "";
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
           "  spatialmux --check FILE...\n"
           "                            report on each movie without changing it: for a\n"
           "                            camera movie whether it can be converted (and what\n"
           "                            a conversion would do), for any other movie whether\n"
           "                            360 players will find its spherical video and\n"
           "                            first-order ambisonic audio\n"
           "  spatialmux --check --json FILE...\n"
           "                            the same as one JSON object per file and line\n"
           "  spatialmux --soundmap FILE [-o MAP.png] [--moments N] [--at SECONDS...]\n"
           "                            draw where the sound comes from over the 360\n"
           "                            picture at N moments (default 6, evenly spread)\n"
           "                            or at the given times, as one PNG (default:\n"
           "                            FILE's name with .soundmap.png); a camera movie\n"
           "                            is mapped as its conversion will sound\n"
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
           "needs free space of three times the input's size. Before a conversion\n"
           "reports success, the finished output is checked against the input.\n"
           "\n"
           "Kept from the recording: the dates of the movie and of both tracks, the\n"
           "rotation, the track languages, the video handler name, the user-data tags\n"
           "(location, make, model, date, title, ...) and the QuickTime keys. Left\n"
           "out: the camera's private boxes (maker note, audio tables) and its software\n"
           "tag; the output file's own modification time is that of the conversion.\n"
           "\n"
           "--check reads only: it writes and changes no file.\n"
           "\n"
           "exit status: 0 converted (or, for --check, every file convertible or\n"
           "ready), 1 refused or failed (nothing is left behind; for --check, any file\n"
           "not convertible and not ready), 2 wrong command line.\n";
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
    std::string soundMap;
    app.add_option("--soundmap", soundMap);
    app.add_option("-o", request.mapOutput);
    app.add_option("--moments", request.moments)->check(CLI::Range(1, 60));
    app.add_option("--at", request.at)->check(SecondsFromStart);
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
    } else if (!soundMap.empty()) {
        if (check || request.json) return Wrong("--soundmap does not go with --check or --json");
        if (!request.paths.empty()) return Wrong("--soundmap maps one movie");
        if (app.count("--moments") > 0 && !request.at.empty()) {
            return Wrong("--moments and --at cannot be combined");
        }
        request.paths = {soundMap};
        request.mode = Mode::SoundMap;
    } else if (app.count("-o") > 0 || app.count("--moments") > 0 || app.count("--at") > 0) {
        return Wrong("-o, --moments and --at go with --soundmap");
    } else if (check) {
        if (request.paths.empty()) return Wrong("--check needs at least one file");
        request.mode = Mode::Check;
    } else if (request.json) {
        return Wrong("--json goes with --check");
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
