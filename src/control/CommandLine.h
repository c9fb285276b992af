#pragma once
// The command line of the spatialmux program, parsed into one request that
// the program entry dispatches. Parsing never runs anything: it only says
// what was asked for, or why the command line is wrong.

#include <string>
#include <vector>

#include "audio/AmbisonicRotation.h"
#include "control/job/SpatialChoice.h"

namespace spatialmux {

struct CommandLineRequest {
    enum class Mode {
        Convert,   // INPUT OUTPUT
        Batch,     // -o DIR INPUT...: every movie into DIR
        Check,     // --check FILE...
        SoundMap,  // --soundmap FILE [-o MAP.png] [--moments N] [--at SECONDS...]
        Binaural,  // --binaural INPUT OUTPUT [--look AZ[:EL]] [--hrtf FILE.sofa]
        Windowed,  // no movie or one movie: the windowed converter
        Help,
        Version,
        Wrong,  // a wrong command line: `problem` says what, exit status 2
    };
    Mode mode = Mode::Windowed;
    // The positional arguments in order: INPUT and OUTPUT for a conversion,
    // the files and folders of a batch, the files for a check, the movie (if
    // any) for the windowed mode.
    std::vector<std::string> paths;
    bool json = false;              // --json: the check as one JSON object per file
    bool acceptShortAudio = false;  // --accept-short-audio
    bool remux = false;             // --remux: the FFmpeg remux even for .mov
    // Batch conversion: -o/--output-dir DIR, -j/--jobs N, --overwrite.
    std::string outputDir;
    int jobs = 1;
    bool overwrite = false;
    // --audio pcm|aac|opus and --audio-bitrate RATE, as given ("" when not):
    // ChooseOutputFormat judges them against each output's name. --format
    // mov|mp4 (batch only): the outputs' container, "" for the default
    // (.mp4 when the audio is not PCM, else .mov).
    std::string audio;
    std::string audioBitRate;
    std::string format;
    // --ambisonics ambix|fuma and --projection equirectangular: what a movie
    // that is not the camera's does not say itself (FromMovie when not given).
    SpatialChoice spatial;
    // --rotate-audio YAW[,PITCH[,ROLL]]: the turn of the sound field, for a
    // conversion, a batch, a sound map or a render (identity when not given).
    AmbisonicRotation rotateAudio;
    // Hidden, for the conversions a batch runs as child processes: report
    // the progress as "percent" lines on this descriptor, -1 for none.
    int progressFd = -1;
    // --progress=machine: the progress as lines for another program on
    // standard error (control/job/ProgressProtocol.h) instead of a bar.
    bool machineProgress = false;
    // --soundmap FILE: the movie (also in `paths`), the map's file (-o; empty:
    // beside the movie), the number of moments or the moments themselves.
    std::string mapOutput;
    int moments = 6;
    std::vector<double> at;
    // --binaural INPUT OUTPUT (both in `paths`): the direction the listener
    // faces (--look, degrees) and the HRTF set (--hrtf; empty: the default).
    double lookAzimuth = 0.0;
    double lookElevation = 0.0;
    std::string hrtf;
    // For Mode::Wrong: one line without the usage hint (may be empty when
    // the usage hint says all).
    std::string problem;
};

// argv is read, never changed: the windowed mode receives it as it came.
CommandLineRequest ParseCommandLine(int argc, const char* const* argv);

// The one-line usage hint printed on standard error for a wrong command line.
const char* CommandLineUsage();

// The text of --help.
std::string CommandLineHelp();

// The text of --version: the version on the first line, then the copyright
// and the licence.
std::string CommandLineVersion();

}  // namespace spatialmux
