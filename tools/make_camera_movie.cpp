// Writes camera movies for tests, benchmarks and the bundled sample, and
// describes what a movie holds.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fixture/CameraMovieBuilder.h"
#include "fixture/FragmentedCopy.h"
#include "fixture/MovieDescription.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using spatialmux::fixture::CameraMovieOptions;

const char kUsage[] =
    "usage: make_camera_movie [options] OUTPUT\n"
    "       make_camera_movie --sample [options] OUTPUT\n"
    "       make_camera_movie --describe MOVIE\n"
    "       make_camera_movie --fragment MOVIE OUTPUT\n"
    "\n"
    "Writes a movie laid out like the camera's, with a known audio pattern.\n"
    "--fragment writes MOVIE's packets again as a fragmented MP4 (moof).\n"
    "--sample starts from the bundled sample's settings (640x320, 5 s, recorded\n"
    "2024-05-01 12:00:00 UTC with location, make and model tags; a 440 Hz tone\n"
    "from azimuth 90, elevation 0 for 2.5 s, then a 660 Hz tone from azimuth\n"
    "-135, elevation 30).\n"
    "\n"
    "  --hevc               HEVC video (default H.264)\n"
    "  --size WxH           video size (default 128x64)\n"
    "  --fps N              frames per second (default 30)\n"
    "  --distinct-frames N  frames encoded before they repeat (0: all)\n"
    "  --bframes N          N consecutive B-frames (0 to 7, default 0): decode\n"
    "                       order, composition offsets and an edit list\n"
    "  --no-edit-list       with --bframes, no edit list on the video track\n"
    "  --samples N          audio sampling instants (default 48000)\n"
    "  --seconds S          audio length in seconds (sets --samples)\n"
    "  --chunk FIRST:SAMPLES  a sample-to-chunk run (repeatable; default 1:1024)\n"
    "  --seed N             audio pattern seed (default 1)\n"
    "  --source AZ:EL[:FROM:TO[:HZ]]\n"
    "                       a tone from azimuth AZ (+90 = left), elevation EL\n"
    "                       (degrees), FROM to TO seconds, in first-order\n"
    "                       ambisonics as a conversion will write it (repeatable;\n"
    "                       replaces the known audio pattern); HZ 0: white noise\n"
    "  --tones-only         only the per-channel tones (no noise, no extreme values)\n"
    "  --software TEXT      maker-note software text\n"
    "  --flag N             maker-note flag value (default 0)\n"
    "  --omit-tag HEX       leave a maker-note tag out (repeatable)\n"
    "  --maker-note-ii      little-endian (II) maker note instead of MM\n"
    "  --first-directory N  maker note's first directory offset (default 8)\n"
    "  --no-sa3d            no spatial audio box\n"
    "  --foa CONVENTION     a 360 movie that is not the camera's: one audio track\n"
    "                       and no maker note or private audio box; ambix (W Y Z X,\n"
    "                       SA3D unless --no-sa3d), fuma (W X Y Z, W -3 dB, no SA3D)\n"
    "                       or wxyz-mapped (W X Y Z declared by an SA3D map 0,3,1,2)\n"
    "  --channels N         audio channels, 1 to 16 (with --foa; default 4)\n"
    "  --sa3d-channels N    the SA3D box says N channels, mapped 0, 1, ... (it may lie)\n"
    "  --sa3d-head-locked   the SA3D box's head-locked stereo bit\n"
    "  --no-uuid            no spherical video box\n"
    "  --no-visible-audio   no ordinary audio track for players\n"
    "  --stco               32-bit audio chunk offsets\n"
    "  --mdat64             64-bit mdat size\n"
    "  --hole BYTES         sparse zero bytes in mdat before the first audio chunk\n"
    "  --free-boxes N       top-level free boxes in front of moov\n"
    "  --moov-first         moov in front of mdat\n"
    "  --video-bytes N      pad every video sample to at least N bytes\n"
    "  --video-format 4CC   video sample entry format code\n"
    "  --audio-format 4CC   audio sample entry format code (default sowt)\n"
    "  --timescale N        audio time scale (default 48000)\n"
    "  --sample-size N      audio stsz sample size (default 8)\n"
    "  --times BOX=V:C:M    version V (0 or 1), creation C and modification M times\n"
    "                       (seconds since 1904) of BOX: movie, video-track,\n"
    "                       video-media, audio-track, audio-media or private-audio\n"
    "  --rotation DEG       video display matrix turned by 0, 90, 180 or 270 degrees\n"
    "  --video-language L   video mdhd language, ISO 639-2/T (default und)\n"
    "  --audio-language L   audio mdhd language (default und)\n"
    "  --handler-name TEXT  video handler name (default VideoHandler)\n"
    "  --tag TYPE=TEXT      a moov/udta tag, e.g. \"\xC2\xA9xyz=+35.6586+139.7454/\" (repeatable)\n"
    "  --key KEY=VALUE      a moov/meta key, e.g. com.apple.quicktime.make=Maker (repeatable)\n"
    "\n"
    "Damage, for movies a conversion must refuse or convert another way:\n"
    "  --shift-private-chunks N  add N to every private audio chunk offset\n"
    "  --private-chunk-on-frame C  private audio chunk C (from 0) on the first video sample\n"
    "  --private-chunk FIRST:SAMPLES  a private sample-to-chunk run written as given\n"
    "                       (repeatable; 0 samples and repeated chunks allowed)\n"
    "  --video-sample-on-audio S  video sample S (from 0) on the first audio chunk\n"
    "  --video-chunk FIRST:SAMPLES  a video sample-to-chunk run (repeatable)\n"
    "  --stray-frame PLACE  the last video sample read from a copy in PLACE:\n"
    "                       free-behind-mdat, free-at-end, private-before-mdat, or\n"
    "                       moov (no copy: the track points at the moov)\n"
    "  --dref-size-0        the video track's dref with a size field of 0\n"
    "  --video-offsets-type 4CC  type of the video chunk-offset box\n"
    "  --mdat-to-end        mdat with a size field of 0 (needs --moov-first)\n"
    "  --ftyp-bytes N       the ftyp's size (20 and up, in steps of 4)\n"
    "  --free-boxes-at-end N  empty free boxes behind everything else\n"
    "  --help               this text\n";

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

// "FIRST:SAMPLES" of a sample-to-chunk run, SAMPLES at least `lowest`.
bool ParseRun(const std::string& text, long long lowest, spatialmux::fixture::ChunkRunSpec* run) {
    long long first = 0;
    long long samples = 0;
    const size_t colon = text.find(':');
    if (colon == std::string::npos || !ParseInteger(text.substr(0, colon), 1, UINT32_MAX, &first) ||
        !ParseInteger(text.substr(colon + 1), lowest, UINT32_MAX, &samples)) {
        return false;
    }
    *run = {static_cast<uint32_t>(first), static_cast<uint32_t>(samples)};
    return true;
}

// "TYPE=TEXT" split at its first '='; a leading UTF-8 copyright sign in
// TYPE becomes the single byte 0xA9 of QuickTime's text tags.
bool SplitTag(const std::string& text, bool fourCc, std::pair<std::string, std::string>* tag) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    std::string type = text.substr(0, equals);
    if (fourCc && type.rfind("\xC2\xA9", 0) == 0) type = "\xA9" + type.substr(2);
    if (type.empty() || (fourCc && type.size() != 4)) return false;
    *tag = {type, text.substr(equals + 1)};
    return true;
}

spatialmux::fixture::HeaderStamp* StampOf(CameraMovieOptions& options, const std::string& box) {
    if (box == "movie") return &options.movieHeader;
    if (box == "video-track") return &options.videoTrackHeader;
    if (box == "video-media") return &options.videoMediaHeader;
    if (box == "audio-track") return &options.audioTrackHeader;
    if (box == "audio-media") return &options.audioMediaHeader;
    if (box == "private-audio") return &options.privateAudioHeader;
    return nullptr;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "make_camera_movie: %s\n(see make_camera_movie --help)\n",
                 message.c_str());
    return 2;
}

int WriteMovie(const std::string& output, const CameraMovieOptions& options) {
    spatialmux::fixture::CameraMovieLayout layout;
    std::string error;
    if (!spatialmux::fixture::WriteCameraMovie(output, options, &layout, &error)) {
        std::fprintf(stderr, "make_camera_movie: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %s: %llu bytes, %zu video samples, %zu audio chunks\n", output.c_str(),
                static_cast<unsigned long long>(layout.fileSize), layout.videoSampleOffsets.size(),
                layout.audioChunkOffsets.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    std::vector<std::string> args(argv + 1, argv + argc);
    CameraMovieOptions options;
    for (const std::string& arg : args) {
        if (arg == "--sample") {
            // The bundled sample: five seconds of the camera's defaults at a
            // size that encodes quickly; further options still apply.
            options.width = 640;
            options.height = 320;
            options.totalSamples = 5 * 48000;
            options.distinctFrames = 0;
            // Recorded 2024-05-01 12:00:00 UTC, with the tags a camera writes.
            const spatialmux::fixture::HeaderStamp recorded{0, 3797409600, 3797409600};
            options.movieHeader = options.videoTrackHeader = options.videoMediaHeader = recorded;
            options.audioTrackHeader = options.audioMediaHeader = recorded;
            options.privateAudioHeader = recorded;
            options.userDataTags = {
                {"\xA9xyz", "+35.6586+139.7454/"}, {"\xA9mak", "Zorva"}, {"\xA9mod", "Velix V"}};
            // Something to hear and to see on a sound map: a tone on the
            // left, then one behind on the right and above.
            options.sources = {{90.0, 0.0, 0.0, 2.5, 440.0, 0.3},
                               {-135.0, 30.0, 2.5, 5.0, 660.0, 0.3}};
        }
    }
    std::vector<spatialmux::fixture::ChunkRunSpec> runs;
    std::string output;
    bool sample = false;
    bool describe = false;
    std::string fragmentOf;
    bool ownSources = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto integer = [&](long long low, long long high, long long* out) {
            std::string text;
            return value(&text) && ParseInteger(text, low, high, out);
        };
        long long n = 0;
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--hevc") {
            options.codec = spatialmux::fixture::VideoCodec::HEVC;
        } else if (arg == "--sample") {
            sample = true;
        } else if (arg == "--describe") {
            describe = true;
        } else if (arg == "--fragment") {
            if (!value(&fragmentOf)) return Usage("--fragment needs a movie");
        } else if (arg == "--size") {
            int w = 0;
            int h = 0;
            char rest = 0;
            if (!value(&text) || std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) != 2) {
                return Usage("--size needs WIDTHxHEIGHT");
            }
            options.width = w;
            options.height = h;
        } else if (arg == "--fps") {
            if (!integer(1, 240, &n)) return Usage("--fps needs a number from 1 to 240");
            options.framesPerSecond = static_cast<int>(n);
        } else if (arg == "--distinct-frames") {
            if (!integer(0, 100000, &n))
                return Usage("--distinct-frames needs a number from 0 to 100000");
            options.distinctFrames = static_cast<int>(n);
        } else if (arg == "--bframes") {
            if (!integer(0, 7, &n)) return Usage("--bframes needs a number from 0 to 7");
            options.bFrames = static_cast<int>(n);
        } else if (arg == "--no-edit-list") {
            options.videoEditList = false;
        } else if (arg == "--samples") {
            if (!integer(0, INT32_MAX, &n))
                return Usage("--samples needs a number from 0 to 2147483647");
            options.totalSamples = static_cast<int32_t>(n);
        } else if (arg == "--seconds") {
            char* end = nullptr;
            if (!value(&text)) return Usage("--seconds needs a number");
            const double seconds = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !(seconds >= 0) ||
                seconds * 48000 > INT32_MAX) {
                return Usage("--seconds needs a number from 0 to 44739");
            }
            options.totalSamples = static_cast<int32_t>(seconds * 48000 + 0.5);
        } else if (arg == "--chunk") {
            spatialmux::fixture::ChunkRunSpec run;
            if (!value(&text) || !ParseRun(text, 1, &run) || run.samplesPerChunk > (1u << 24)) {
                return Usage("--chunk needs FIRST:SAMPLES, e.g. 1:1024");
            }
            runs.push_back(run);
        } else if (arg == "--tones-only") {
            options.tonesOnly = true;
        } else if (arg == "--seed") {
            if (!integer(0, UINT32_MAX, &n)) return Usage("--seed needs a number");
            options.seed = static_cast<uint32_t>(n);
        } else if (arg == "--source") {
            spatialmux::fixture::DirectionalSource source;
            double fields[5] = {0.0, 0.0, source.fromSeconds, source.toSeconds, source.frequencyHz};
            int read = 0;
            if (value(&text)) {
                const char* p = text.c_str();
                while (read < 5) {
                    char* end = nullptr;
                    const double number = std::strtod(p, &end);
                    if (end == p) break;
                    fields[read++] = number;
                    p = end;
                    if (*p != ':') break;
                    ++p;
                }
                if (*p != '\0') read = 0;
            }
            if (read != 2 && read != 4 && read != 5) {
                return Usage("--source needs AZIMUTH:ELEVATION[:FROM:TO[:HZ]]");
            }
            source.azimuthDegrees = fields[0];
            source.elevationDegrees = fields[1];
            source.fromSeconds = fields[2];
            source.toSeconds = fields[3];
            source.frequencyHz = fields[4];
            if (!ownSources) options.sources.clear();
            ownSources = true;
            options.sources.push_back(source);
        } else if (arg == "--software") {
            if (!value(&options.softwareText)) return Usage("--software needs a text");
        } else if (arg == "--flag") {
            if (!integer(0, UINT32_MAX, &n)) return Usage("--flag needs a number");
            options.makerNoteFlag = static_cast<uint32_t>(n);
        } else if (arg == "--omit-tag") {
            if (!value(&text) ||
                !ParseInteger(text.rfind("0x", 0) == 0 ? text : "0x" + text, 0, 0xFFFF, &n)) {
                return Usage("--omit-tag needs a hexadecimal tag, e.g. 0x1011");
            }
            options.omitTiffTags.push_back(static_cast<uint16_t>(n));
        } else if (arg == "--maker-note-ii") {
            options.makerNoteLittleEndian = true;
        } else if (arg == "--first-directory") {
            if (!integer(8, 1 << 20, &n) || n % 2 != 0) {
                return Usage("--first-directory needs an even number from 8 to 1048576");
            }
            options.makerNoteFirstDirectory = static_cast<uint32_t>(n);
        } else if (arg == "--foa") {
            std::string name;
            if (!value(&name)) return Usage("--foa needs ambix, fuma or wxyz-mapped");
            using spatialmux::fixture::AmbisonicConvention;
            if (name == "ambix") {
                options.convention = AmbisonicConvention::AmbiX;
            } else if (name == "fuma") {
                options.convention = AmbisonicConvention::FuMa;
            } else if (name == "wxyz-mapped") {
                options.convention = AmbisonicConvention::MappedWxyz;
            } else {
                return Usage("--foa needs ambix, fuma or wxyz-mapped, not " + name);
            }
        } else if (arg == "--no-sa3d") {
            options.writeSa3d = false;
        } else if (arg == "--channels") {
            if (!integer(1, 16, &n)) return Usage("--channels needs a number from 1 to 16");
            options.audioChannels = static_cast<int>(n);
        } else if (arg == "--sa3d-channels") {
            if (!integer(1, 64, &n)) return Usage("--sa3d-channels needs a number from 1 to 64");
            options.sa3dChannelCount = static_cast<uint32_t>(n);
        } else if (arg == "--sa3d-head-locked") {
            options.sa3dHeadLockedStereo = true;
        } else if (arg == "--no-uuid") {
            options.writeUuid = false;
        } else if (arg == "--no-visible-audio") {
            options.includeVisibleAudioTrak = false;
        } else if (arg == "--stco") {
            options.useStco = true;
        } else if (arg == "--mdat64") {
            options.mdat64 = true;
        } else if (arg == "--moov-first") {
            options.moovBeforeMdat = true;
        } else if (arg == "--hole") {
            if (!integer(0, 1ll << 50, &n)) return Usage("--hole needs a byte count");
            options.sparseHoleBytes = static_cast<uint64_t>(n);
        } else if (arg == "--free-boxes") {
            if (!integer(0, 1000000, &n))
                return Usage("--free-boxes needs a number from 0 to 1000000");
            options.boxesBeforeMoov = static_cast<int>(n);
        } else if (arg == "--video-bytes") {
            if (!integer(0, 1 << 30, &n)) return Usage("--video-bytes needs a byte count");
            options.videoBytesPerFrame = static_cast<uint32_t>(n);
        } else if (arg == "--video-format") {
            if (!value(&options.videoFormatOverride) || options.videoFormatOverride.size() != 4) {
                return Usage("--video-format needs a four-character code");
            }
        } else if (arg == "--audio-format") {
            if (!value(&options.audioFormat) || options.audioFormat.size() != 4) {
                return Usage("--audio-format needs a four-character code");
            }
        } else if (arg == "--timescale") {
            if (!integer(1, UINT32_MAX, &n)) return Usage("--timescale needs a number");
            options.audioTimescale = static_cast<uint32_t>(n);
        } else if (arg == "--sample-size") {
            if (!integer(0, UINT32_MAX, &n)) return Usage("--sample-size needs a number");
            options.stszSampleSize = static_cast<uint32_t>(n);
        } else if (arg == "--times") {
            unsigned version = 0;
            unsigned long long creation = 0;
            unsigned long long modification = 0;
            char rest = 0;
            const size_t equals = value(&text) ? text.find('=') : std::string::npos;
            auto* stamp =
                equals == std::string::npos ? nullptr : StampOf(options, text.substr(0, equals));
            if (stamp == nullptr ||
                std::sscanf(text.c_str() + equals + 1, "%u:%llu:%llu%c", &version, &creation,
                            &modification, &rest) != 3 ||
                version > 1) {
                return Usage("--times needs BOX=VERSION:CREATION:MODIFICATION");
            }
            *stamp = {static_cast<uint8_t>(version), creation, modification};
        } else if (arg == "--rotation") {
            if (!integer(0, 270, &n) || n % 90 != 0)
                return Usage("--rotation needs 0, 90, 180 or 270");
            options.rotationDegrees = static_cast<int>(n);
        } else if (arg == "--video-language") {
            if (!value(&options.videoLanguage)) return Usage("--video-language needs a code");
        } else if (arg == "--audio-language") {
            if (!value(&options.audioLanguage)) return Usage("--audio-language needs a code");
        } else if (arg == "--handler-name") {
            if (!value(&options.videoHandlerName)) return Usage("--handler-name needs a text");
        } else if (arg == "--shift-private-chunks") {
            if (!integer(INT32_MIN, INT32_MAX, &n))
                return Usage("--shift-private-chunks needs a number");
            options.damage.privateChunkShift = n;
        } else if (arg == "--private-chunk-on-frame" || arg == "--video-sample-on-audio") {
            if (!integer(0, INT32_MAX, &n)) return Usage(arg + " needs a number from 0");
            (arg == "--video-sample-on-audio" ? options.damage.videoSampleOnAudio
                                              : options.damage.privateChunkOnFirstFrame) =
                static_cast<int>(n);
        } else if (arg == "--private-chunk" || arg == "--video-chunk") {
            spatialmux::fixture::ChunkRunSpec run;
            const bool video = arg == "--video-chunk";
            if (!value(&text) || !ParseRun(text, video ? 1 : 0, &run)) {
                return Usage(arg + " needs FIRST:SAMPLES, e.g. 1:1024");
            }
            (video ? options.damage.videoChunkRuns : options.damage.privateChunkRuns)
                .push_back(run);
        } else if (arg == "--stray-frame") {
            using spatialmux::fixture::StrayFrame;
            const std::pair<const char*, StrayFrame> places[] = {
                {"free-behind-mdat", StrayFrame::FreeBehindMdat},
                {"free-at-end", StrayFrame::FreeAtEnd},
                {"private-before-mdat", StrayFrame::PrivateBeforeMdat},
                {"moov", StrayFrame::InMoov}};
            bool known = false;
            if (value(&text)) {
                for (const auto& [name, place] : places) {
                    if (text == name) {
                        options.damage.strayFrame = place;
                        known = true;
                    }
                }
            }
            if (!known) {
                return Usage(
                    "--stray-frame needs free-behind-mdat, free-at-end, private-before-mdat or "
                    "moov");
            }
        } else if (arg == "--dref-size-0") {
            options.damage.videoDrefSizeZero = true;
        } else if (arg == "--video-offsets-type") {
            if (!value(&options.damage.videoChunkOffsetType) ||
                options.damage.videoChunkOffsetType.size() != 4) {
                return Usage("--video-offsets-type needs a four-character code");
            }
        } else if (arg == "--mdat-to-end") {
            options.damage.mdatSizeToEnd = true;
        } else if (arg == "--ftyp-bytes") {
            if (!integer(20, 1 << 30, &n)) return Usage("--ftyp-bytes needs a number from 20");
            options.damage.ftypBytes = static_cast<uint32_t>(n);
        } else if (arg == "--free-boxes-at-end") {
            if (!integer(0, 1 << 24, &n))
                return Usage("--free-boxes-at-end needs a number from 0 to 16777216");
            options.damage.freeBoxesAtEnd = static_cast<int>(n);
        } else if (arg == "--tag" || arg == "--key") {
            std::pair<std::string, std::string> tag;
            if (!value(&text) || !SplitTag(text, arg == "--tag", &tag)) {
                return Usage(arg + " needs NAME=TEXT (a tag's type has four bytes)");
            }
            (arg == "--tag" ? options.userDataTags : options.metadataKeys).push_back(tag);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return Usage("unknown option " + arg);
        } else if (output.empty()) {
            output = arg;
        } else {
            return Usage("only one file may be given");
        }
    }
    if (output.empty()) {
        return Usage("no file given");
    }
    if (sample && describe) {
        return Usage("--sample and --describe cannot be combined");
    }
    if (!fragmentOf.empty()) {
        std::string error;
        if (!spatialmux::fixture::WriteFragmentedCopy(fragmentOf, output, &error)) {
            std::fprintf(stderr, "make_camera_movie: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (describe) {
        std::string description;
        std::string error;
        if (!spatialmux::fixture::DescribeMovie(output, &description, &error)) {
            std::fprintf(stderr, "make_camera_movie: %s\n", error.c_str());
            return 1;
        }
        std::fputs(description.c_str(), stdout);
        return 0;
    }
    if (!runs.empty()) {
        options.chunkRuns = runs;
    }
    return WriteMovie(output, options);
}
