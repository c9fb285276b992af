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

// --look AZ[:EL]: an azimuth, and an elevation from -90 to 90, in degrees.
bool ParseLook(const std::string& text, double* azimuth, double* elevation) {
    const std::size_t colon = text.find(':');
    const std::string parts[2] = {text.substr(0, colon),
                                  colon == std::string::npos ? "0" : text.substr(colon + 1)};
    double values[2] = {0.0, 0.0};
    for (int i = 0; i < 2; ++i) {
        char* end = nullptr;
        values[i] = std::strtod(parts[i].c_str(), &end);
        if (parts[i].empty() || end == parts[i].c_str() || *end != '\0' ||
            !std::isfinite(values[i])) {
            return false;
        }
    }
    if (values[1] < -90.0 || values[1] > 90.0) return false;
    *azimuth = values[0];
    *elevation = values[1];
    return true;
}

std::string LookDirection(const std::string& text) {
    double azimuth = 0.0;
    double elevation = 0.0;
    if (ParseLook(text, &azimuth, &elevation)) return "";
    return "needs AZIMUTH[:ELEVATION] in degrees (azimuth +90 = left, elevation -90 to 90), "
           "not \"" +
           text + "\"";
}

std::string RotationAngles(const std::string& text) {
    std::string problem;
    if (ParseAmbisonicRotation(text, &problem)) return "";
    return problem;
}

}  // namespace

const char* CommandLineUsage() {
    return kUsage;
}

std::string CommandLineVersion() {
    // The first line alone is what scripts read.
    return std::string("spatialmux ") + SPATIALMUX_VERSION +
           "\n"
           "Copyright (c) 2026 the spatialmux developers\n"
           "License: MIT (see the LICENSE file, or /usr/share/doc/spatialmux/copyright)\n"
           "This is free software: you may use, copy, change and share it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
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
           "  spatialmux [--audio pcm|aac|opus] [--audio-bitrate RATE] INPUT OUTPUT\n"
           "                            choose the output's audio codec: pcm (16-bit,\n"
           "                            .mov only; the default for .mov), aac (AAC-LC,\n"
           "                            .mov or .mp4; the default for .mp4) or opus\n"
           "                            (.mp4 only); RATE for aac and opus, such as\n"
           "                            256k (default 512k)\n"
           "  spatialmux [--ambisonics ambix|fuma] [--projection equirectangular]\n"
           "             INPUT OUTPUT\n"
           "                            convert a 360 movie that is not the camera's: one\n"
           "                            video track and one audio track of four channels\n"
           "                            of first-order ambisonics; --ambisonics says what\n"
           "                            undeclared channels are (ambix: ACN/SN3D, W Y Z X;\n"
           "                            fuma: W X Y Z, W at -3 dB), --projection that a\n"
           "                            video without spherical metadata is 360\n"
           "  spatialmux --rotate-audio YAW[,PITCH[,ROLL]] INPUT OUTPUT\n"
           "                            turn the sound field by these angles in degrees\n"
           "                            (yaw +90: a sound in front moves to the left;\n"
           "                            pitch +90: from the front up; roll +90: from the\n"
           "                            left up; applied yaw first, then pitch, then roll)\n"
           "                            to match a picture whose front was set again;\n"
           "                            the video is not touched; also with -o DIR,\n"
           "                            --soundmap (the turned field is drawn) and\n"
           "                            --binaural (the turned field is heard); 0 or none\n"
           "                            writes the audio as without it\n"
           "  spatialmux --progress=machine INPUT OUTPUT\n"
           "                            report the progress on standard error as lines\n"
           "                            for another program to read (a front end): the\n"
           "                            percentage, the phase and at the end the result,\n"
           "                            the output and its size, or the failure's text\n"
           "  spatialmux -o DIR [-j N] [--overwrite] [--audio CODEC] [--format mov|mp4]\n"
           "             INPUT...\n"
           "                            convert every camera movie among the INPUT files\n"
           "                            and folders (searched for .mp4 and .mov files,\n"
           "                            hidden ones and DIR left out) into DIR/NAME.mov\n"
           "                            (DIR/NAME.mp4 with --format mp4 or an --audio\n"
           "                            other than pcm); -j N converts N at once (default\n"
           "                            1), --overwrite replaces earlier outputs that exist\n"
           "                            (else they are skipped), never footage: a camera\n"
           "                            movie is never replaced; also --output-dir DIR,\n"
           "                            --jobs N\n"
           "  spatialmux --remux INPUT OUTPUT\n"
           "                            convert through FFmpeg's remux instead of editing\n"
           "                            a copy of the input in place (also with -o DIR)\n"
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
           "  spatialmux --binaural INPUT OUTPUT [--look AZ[:EL]] [--hrtf FILE.sofa]\n"
           "                            render the movie's 360 sound for headphones, into\n"
           "                            OUTPUT .wav (16-bit PCM), .m4a (AAC), .mp4 (the\n"
           "                            video copied, AAC) or .mov (the video copied,\n"
           "                            PCM); --look faces the listener that way (degrees,\n"
           "                            azimuth +90 = left, elevation up; default 0:0);\n"
           "                            --hrtf takes a SOFA file of head-related impulse\n"
           "                            responses (default: libmysofa's default.sofa);\n"
           "                            the loudest sample is brought to -1 dBFS (at most\n"
           "                            +40 dB of gain) and printed; a camera movie is\n"
           "                            rendered as its conversion will sound;\n"
           "                            --progress=machine reports it as a conversion\n"
           "  spatialmux [MOVIE]        open the windowed converter (drop one movie on it)\n"
           "  spatialmux --help         show this help\n"
           "  spatialmux --version      show the version\n"
           "\n"
           "The output keeps the input's video as it is (no re-encoding) and carries the\n"
           "camera's four-channel spatial audio in the order 1, 3, 4, 2, with the\n"
           "camera model's level correction on the first channel, and the camera's\n"
           "spherical-video and spatial-audio metadata. The container follows the\n"
           "output's extension: .mov (QuickTime, 16-bit PCM by default: for editing\n"
           "and keeping) or .mp4 (AAC by default, or Opus: for upload sites, phones\n"
           "and headsets); other names are refused before any work. A .mov output with\n"
           "PCM audio is made by editing a copy of the input: the audio is rewritten\n"
           "where it stands and a new movie box written at the end (the copy shares the\n"
           "input's blocks on XFS and Btrfs); the disk needs free space of the input's\n"
           "size and the new movie box. With --remux, for encoded audio, or for an input\n"
           "the edit cannot handle, FFmpeg remuxes the video with a hidden temporary WAV\n"
           "and the disk needs the input's size, the audio's and a margin of 1 % and\n"
           "16 MiB.\n"
           "\n"
           "The output is written under a hidden name beside it\n"
           "(.OUTPUT.spatialmux-XXXXXX.mov, with a temporary WAV of the same kind) and\n"
           "renamed to OUTPUT only once it is complete and checked against the input;\n"
           "its data is on the disk before the rename, and the rename before spatialmux\n"
           "says \"converted\". An existing OUTPUT is replaced then, and not before: a\n"
           "failed or stopped conversion leaves it as it was. An OUTPUT that is a camera\n"
           "movie spatialmux could convert (your footage) or a folder is refused;\n"
           "through a symbolic link the file it points to is replaced and the link\n"
           "stays. A second conversion to an OUTPUT that is being written is refused\n"
           "(.OUTPUT.spatialmux-lock). Ctrl-C, SIGTERM and SIGHUP stop a conversion,\n"
           "remove its hidden files and leave everything else as it was.\n"
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
           "stops every conversion and leaves no partial file. With -j N a movie\n"
           "starts only when the free space, less what the running conversions need,\n"
           "is enough for it; it waits otherwise.\n"
           "\n"
           "exit status: 0 converted (or, for --check, every file convertible or\n"
           "ready; for a batch, no movie failed), 1 refused or failed (nothing is left\n"
           "behind, an existing OUTPUT is unchanged; for --check, any file not\n"
           "convertible and not ready), 2 wrong command line (for a batch also a\n"
           "missing input or a clash of output names), 130, 143 or 129 stopped by\n"
           "SIGINT, SIGTERM or SIGHUP (nothing is left behind).\n";
}

CommandLineRequest ParseCommandLine(int argc, const char* const* argv) {
    CommandLineRequest request;
    bool help = false;
    bool version = false;
    bool check = false;
    bool binaural = false;

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
    CLI::Option* audio = app.add_option("--audio", request.audio)
                             ->transform(CLI::IsMember({"pcm", "aac", "opus"}, CLI::ignore_case));
    CLI::Option* audioBitRate = app.add_option("--audio-bitrate", request.audioBitRate);
    std::string ambisonicsWord;
    std::string projectionWord;
    CLI::Option* ambisonics = app.add_option("--ambisonics", ambisonicsWord)
                                  ->transform(CLI::IsMember({"ambix", "fuma"}, CLI::ignore_case));
    CLI::Option* projection = app.add_option("--projection", projectionWord)
                                  ->transform(CLI::IsMember({"equirectangular"}, CLI::ignore_case));
    CLI::Option* format = app.add_option("--format", request.format)
                              ->transform(CLI::IsMember({"mov", "mp4"}, CLI::ignore_case));
    CLI::Option* progressFd =
        app.add_option("--progress-fd", request.progressFd)->check(CLI::Range(0, 1 << 20));
    std::string progressStyle;
    CLI::Option* progress =
        app.add_option("--progress", progressStyle)->check(CLI::IsMember({"machine"}));
    // -o names the output: the batch's folder, or with --soundmap the map's file.
    std::string soundMap;
    app.add_option("--soundmap", soundMap);
    app.add_option("--moments", request.moments)->check(CLI::Range(1, 60));
    app.add_option("--at", request.at)->check(SecondsFromStart);
    app.add_flag("--binaural", binaural);
    std::string look;
    CLI::Option* lookOption = app.add_option("--look", look)->check(LookDirection);
    CLI::Option* hrtf = app.add_option("--hrtf", request.hrtf);
    std::string rotateAudio;
    CLI::Option* rotate = app.add_option("--rotate-audio", rotateAudio)->check(RotationAngles);
    app.add_option("paths", request.paths);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return Wrong(error.what());
    }

    using Mode = CommandLineRequest::Mode;
    request.machineProgress = progressStyle == "machine";
    // CLI11 let through only the choices' own words.
    request.spatial = {AmbisonicsNamed(ambisonicsWord).value_or(AmbisonicsChoice::FromMovie),
                       ProjectionNamed(projectionWord).value_or(ProjectionChoice::FromMovie)};
    if (rotate->count() > 0) {
        request.rotateAudio =
            ParseAmbisonicRotation(rotateAudio, nullptr).value_or(request.rotateAudio);
    }
    if (help) {
        request.mode = Mode::Help;
    } else if (version) {
        request.mode = Mode::Version;
    } else if (binaural) {
        if (request.paths.size() != 2) return Wrong("--binaural needs INPUT and OUTPUT");
        if (!soundMap.empty() || check || request.json || outputDir->count() > 0 ||
            app.count("--moments") > 0 || app.count("--at") > 0 || jobs->count() > 0 ||
            overwrite->count() > 0 || progressFd->count() > 0 || audio->count() > 0 ||
            audioBitRate->count() > 0 || format->count() > 0 || request.acceptShortAudio ||
            request.remux || ambisonics->count() > 0 || projection->count() > 0) {
            return Wrong(
                "--binaural takes only --look, --hrtf, --rotate-audio and --progress=machine");
        }
        if (hrtf->count() > 0 && request.hrtf.empty()) return Wrong("--hrtf needs a SOFA file");
        ParseLook(look.empty() ? "0" : look, &request.lookAzimuth, &request.lookElevation);
        request.mode = Mode::Binaural;
    } else if (lookOption->count() > 0 || hrtf->count() > 0) {
        return Wrong("--look and --hrtf go with --binaural");
    } else if (!soundMap.empty()) {
        if (check || request.json) return Wrong("--soundmap does not go with --check or --json");
        if (!request.paths.empty()) return Wrong("--soundmap maps one movie");
        if (app.count("--moments") > 0 && !request.at.empty()) {
            return Wrong("--moments and --at cannot be combined");
        }
        if (jobs->count() > 0 || overwrite->count() > 0 || progressFd->count() > 0 ||
            progress->count() > 0 || audio->count() > 0 || audioBitRate->count() > 0 ||
            format->count() > 0 || request.acceptShortAudio || ambisonics->count() > 0 ||
            projection->count() > 0) {
            return Wrong("--soundmap takes only -o, --moments, --at and --rotate-audio");
        }
        request.paths = {soundMap};
        request.mapOutput = request.outputDir;
        request.outputDir.clear();
        request.mode = Mode::SoundMap;
    } else if (app.count("--moments") > 0 || app.count("--at") > 0) {
        return Wrong("--moments and --at go with --soundmap");
    } else if (check) {
        if (request.paths.empty()) return Wrong("--check needs at least one file");
        if (outputDir->count() > 0) return Wrong("--check writes nothing: it takes no -o");
        if (audio->count() + audioBitRate->count() + format->count() > 0) {
            return Wrong(
                "--check writes nothing: it takes no --audio, --audio-bitrate or --format");
        }
        if (ambisonics->count() + projection->count() + rotate->count() > 0) {
            return Wrong(
                "--check writes nothing: it takes no --ambisonics, --projection or "
                "--rotate-audio");
        }
        request.mode = Mode::Check;
    } else if (request.json) {
        return Wrong("--json goes with --check");
    } else if (outputDir->count() > 0) {
        if (request.outputDir.empty()) return Wrong("-o needs a folder");
        if (request.paths.empty()) return Wrong("-o DIR needs at least one movie or folder");
        if (progressFd->count() > 0) return Wrong("--progress-fd goes with INPUT OUTPUT");
        if (progress->count() > 0) return Wrong("--progress goes with INPUT OUTPUT");
        if (request.acceptShortAudio) return Wrong("--accept-short-audio goes with INPUT OUTPUT");
        request.mode = Mode::Batch;
    } else if (jobs->count() > 0 || overwrite->count() > 0) {
        return Wrong("-j and --overwrite go with -o DIR");
    } else if (format->count() > 0) {
        return Wrong("--format goes with -o DIR (a single output's name says its container)");
    } else if (audio->count() + audioBitRate->count() > 0 && request.paths.size() != 2) {
        return Wrong("--audio and --audio-bitrate go with INPUT OUTPUT or -o DIR");
    } else if (request.acceptShortAudio && request.paths.size() != 2) {
        return Wrong("--accept-short-audio goes with INPUT OUTPUT");
    } else if (ambisonics->count() + projection->count() > 0 && request.paths.size() != 2) {
        return Wrong("--ambisonics and --projection go with INPUT OUTPUT or -o DIR");
    } else if (rotate->count() > 0 && request.paths.size() != 2) {
        return Wrong("--rotate-audio goes with INPUT OUTPUT, -o DIR, --soundmap or --binaural");
    } else if (progressFd->count() > 0 && request.paths.size() != 2) {
        return Wrong("--progress-fd goes with INPUT OUTPUT");
    } else if (progress->count() > 0 && request.paths.size() != 2) {
        return Wrong("--progress goes with INPUT OUTPUT");
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
