// The facts and the verdict of spatialmux --check for one file, from its
// boxes and the probe it is given (FFmpeg is asked in MovieCheckWithProbe.cpp).
#include "control/movieinfo/MovieCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <utility>
#include <variant>

#include "control/movieinfo/AnyFoaMovie.h"
#include "control/movieinfo/ChannelLayoutText.h"
#include "iso/BoxHeader.h"
#include "movie/AudioFrame.h"
#include "movie/CameraMarks.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "movie/SphericalAgreement.h"
#include "movie/VideoTrackChoice.h"

namespace spatialmux {

namespace {

// What each step of the camera walk looks for, in words.
const char* StepLabel(const std::string& box) {
    static const std::pair<const char*, const char*> kLabels[] = {
        {"moov", "movie"},
        {"trak", "track"},
        {"mdia", "media"},
        {"minf", "media information"},
        {"stbl", "sample table"},
        {"stsd", "sample description"},
        {"uuid", "spherical video metadata"},
        {"udta", "user data"},
        {"ZMKN", "maker note"},
        {"ZDT9", "camera data offset"},
        {"ZATR", "audio tables"},
        {"mdhd", "audio media header"},
        {"stsc", "audio sample-to-chunk table"},
        {"stsz", "audio sample sizes"},
        {"co64", "64-bit audio chunk offsets"},
    };
    for (const auto& [type, label] : kLabels) {
        if (box == type) return label;
    }
    return "box";
}

std::string FailureText(const OpenFailure& failure, const AudioTrackInfo& track) {
    const std::string at = std::to_string(failure.searchStart);
    switch (failure.kind) {
        case OpenFailure::Kind::NotFound:
            return "no " + failure.box + " " + StepLabel(failure.box) + " at offset " + at;
        case OpenFailure::Kind::Unreadable:
            return "the " + failure.box + " " + StepLabel(failure.box) + " (searched from offset " +
                   at + ") cannot be read or is not the camera's";
        case OpenFailure::Kind::UnsupportedAudio:
            return "the audio is '" + std::string(track.audioFormat.data(), 4) + "' at " +
                   std::to_string(track.timescale) + " Hz with " +
                   std::to_string(track.channelCount) +
                   " channels; a conversion needs 'sowt' (16-bit little-endian) at 48000 Hz "
                   "with 4 channels";
        case OpenFailure::Kind::FileUnreadable:
            break;
    }
    return "the file cannot be opened";
}

// The furthest byte the audio reaches, as a conversion reads it.
uint64_t AudioEnd(const MovieReader& reader) {
    uint64_t end = 0;
    for (const FileSpan& span : reader.AudioSpans()) {
        end = std::max(
            end, span.bytes > UINT64_MAX - span.offset ? UINT64_MAX : span.offset + span.bytes);
    }
    return end;
}

uint64_t FileLength(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const auto end = file.tellg();
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

// A file that begins as a movie does (an ftyp box) whose top-level boxes
// run past its end before a whole moov: a movie cut off while it was
// written or copied, its index (written last) missing or cut. The byte its
// last box should reach, or 0.
uint64_t CutBeforeIndex(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const uint64_t length = FileLength(path);
    uint64_t offset = 0;
    for (std::size_t count = 0; offset < length && count < kMaxTopLevelBoxes; ++count) {
        uint8_t bytes[kLargeBoxHeaderSize] = {};
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        const auto got = static_cast<std::size_t>(file.gcount());
        file.clear();
        // The floor's header, not its top-level walk: the box that runs past
        // the file's end, which that walk stops at, is what is looked for.
        const auto header = ParseBoxHeader(bytes, got, UINT64_MAX - offset);
        if (!header || (offset == 0 && !header->Is("ftyp")) || header->toEnd) return 0;
        if (header->Is("moov") && header->size <= length - offset) return 0;
        if (header->size > length - offset) return offset + header->size;
        offset += header->size;
    }
    // Whole boxes and no moov: nothing was cut, there is no index at all.
    return 0;
}

const StreamProbe* FirstStream(const MediaProbe& probe, StreamProbe::Kind kind) {
    for (const StreamProbe& stream : probe.streams) {
        if (stream.kind == kind) return &stream;
    }
    return nullptr;
}

void JudgeCameraMovie(CheckReport& report) {
    const StreamProbe* video =
        report.probe ? FirstStream(*report.probe, StreamProbe::Kind::Video) : nullptr;
    if (!report.probe) {
        report.notConvertible = report.probeProblem;
    } else if (video == nullptr) {
        report.notConvertible = "libavformat finds no video stream";
    } else if (video->indexEnd > FileLength(report.path)) {
        report.notConvertible = "the video data is cut short (the file ends before byte " +
                                std::to_string(video->indexEnd) + ")";
        report.cutShortAt = video->indexEnd;
    }
    report.convertible = report.notConvertible.empty();
}

// What upload sites ask of spatial audio: 48 kHz, and the least bit rates
// they name for AAC and for Opus with channel mapping family 2.
constexpr int kUploadSampleRate = 48000;
constexpr int64_t kLeastAacBitRate = 256000;
constexpr int64_t kLeastOpusBitRate = 512000;

// The encoded audio's rate below what upload sites ask for, in words. The
// rate judged is the nominal one, the rate the encoder was set to, which the
// MP4 muxer keeps as the btrt box's maximum: both encoders spend fewer bits
// where the sound is simple (Opus at 512k averaged 254 kb/s on a movie with
// two silent channels), so the average says more about the sound than about
// the encoding. Without a btrt box the track's average is judged.
std::optional<std::string> LowBitRate(const StreamProbe& audio, const TrackMetadata* track) {
    const bool aac = audio.codec == "aac";
    const bool opus = audio.codec == "opus";
    if (!aac && !opus) return std::nullopt;
    int64_t rate = 0;
    if (track != nullptr && track->maxBitRate && *track->maxBitRate > 0) {
        rate = *track->maxBitRate;
    } else if (audio.durationSeconds > 0) {
        rate = static_cast<int64_t>(static_cast<double>(audio.indexBytes) * 8.0 /
                                    audio.durationSeconds);
    }
    const int64_t least = aac ? kLeastAacBitRate : kLeastOpusBitRate;
    if (rate >= least) return std::nullopt;
    return std::string(aac ? "AAC" : "Opus") + " at " + std::to_string(rate / 1000) +
           " kb/s, below the " + std::to_string(least / 1000) + " kb/s upload sites ask for";
}

void JudgeOtherMovie(CheckReport& report) {
    auto no = [&report](std::string reason) { report.notReady.push_back(std::move(reason)); };
    if (!report.probe) {
        no(report.probeProblem);
        return;
    }
    int audioTracks = 0;
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.kind == StreamProbe::Kind::Audio) ++audioTracks;
    }
    // The 360 video, not merely the first: a thumbnail may come first.
    const auto chosen = ChooseSphericalVideo(*report.probe, report.metadata);
    const StreamProbe* video = chosen ? &report.probe->streams[chosen->stream] : nullptr;
    const StreamProbe* audio = FirstStream(*report.probe, StreamProbe::Kind::Audio);

    const TrackMetadata* videoTrack = chosen ? chosen->track : nullptr;
    const TrackMetadata* audioTrack = FirstTrack(report.metadata, "soun");

    if (Fragmented(report)) no(kFragmentedMovie);
    if (video == nullptr) no("no video stream");
    bool v1 = false;
    const bool v2 = videoTrack != nullptr && videoTrack->sv3d;
    if (videoTrack != nullptr) {
        for (const auto& [name, value] : videoTrack->sphericalV1) {
            if (name == "Spherical" && value == "true") v1 = true;
        }
    }
    const bool spherical = (video != nullptr && video->sphericalSideData) || v1 || v2;
    if (!spherical) no("no spherical video metadata (neither a V1 uuid box nor a V2 sv3d box)");
    if (const std::string unreadable = UnreadableVideoDeclaration(report); !unreadable.empty()) {
        no(unreadable);
    }

    if (audioTracks == 0) {
        no("no audio track");
    } else if (audioTracks > 1) {
        no("more than one audio track (" + std::to_string(audioTracks) + ")");
    }
    if (audio != nullptr) {
        if (const std::string conflict = ChannelDeclarationConflict(report); !conflict.empty()) {
            no(conflict);
        }
        if (const int channels = TrackChannels(report); channels != 4) {
            no("the audio has " + std::to_string(channels) + " channels, not 4");
        }
        if (AudioTrackEmpty(report)) no(kNoAudioSamples);
    }
    if (audioTrack == nullptr || !audioTrack->sa3d) {
        if (audioTracks > 0) no("no SA3D box in the audio sample entry");
    } else {
        const Sa3dFacts& sa3d = *audioTrack->sa3d;
        if (sa3d.ambisonicType != 0) no("the SA3D box's ambisonic type is not periphonic (0)");
        if (sa3d.order != 1)
            no("the SA3D box says order " + std::to_string(sa3d.order) + ", not 1");
        if (sa3d.channelCount != 4) {
            no("the SA3D box maps " + std::to_string(sa3d.channelCount) + " channels, not 4");
        }
        if (!sa3d.IdentityMap()) no("the SA3D channel map is not 0, 1, 2, 3");
        if (audioTrack->chan) {
            std::string conflict = SpeakerConflict(*audioTrack->chan);
            if (!conflict.empty()) no(std::move(conflict));
        }
    }
    if (audio != nullptr && audio->layout != "ambisonic 1") {
        no("libavformat reads the audio layout as \"" + audio->layout + "\", not \"ambisonic 1\"");
    }
    // Players differ in the version they read: Android's reads V2 only, and
    // V2 wins where both are.
    if (spherical && !v2) no("no spherical video V2 (st3d and sv3d in the video sample entry)");
    if (spherical && !v1) no("no spherical video V1 (the uuid box in the video track)");
    if (videoTrack != nullptr) {
        for (std::string difference : SphericalDisagreements(*videoTrack)) {
            no(std::move(difference));
        }
    }
    if (audio != nullptr && audio->sampleRate != kUploadSampleRate) {
        no("the audio is at " + std::to_string(audio->sampleRate) + " Hz, not " +
           std::to_string(kUploadSampleRate) + " Hz");
    }
    if (audio != nullptr) {
        if (const auto low = LowBitRate(*audio, audioTrack)) no(*low);
    }
    report.ready = report.notReady.empty();
}

// A path as one word of a shell command.
std::string ShellWord(const std::string& text) {
    static const char kPlain[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./-+,:=@%";
    if (!text.empty() && text.front() != '-' &&
        text.find_first_not_of(kPlain) == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The output a suggested command writes: beside the input, its name with
// "-360.mov" in place of its extension.
std::string SuggestedOutput(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const bool extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (extension ? path.substr(0, dot) : path) + "-360.mov";
}

// What the movie is for 360 players, and the command that makes it ready.
void DescribeForPlayers(CheckReport& report) {
    const std::string paths =
        ShellWord(report.path) + " " + ShellWord(SuggestedOutput(report.path));
    if (report.kind == CheckReport::Kind::CameraMovie) {
        report.spatial = kSpatialCamera;
        if (report.convertible) report.commands.push_back({"", "spatialmux " + paths, {}});
        return;
    }
    // A camera movie damaged before the walk reached the camera's boxes: a
    // conversion takes it as the camera's, and refuses it.
    if (CarriesCameraMarks(report.path)) {
        report.spatial = kSpatialCamera;
        return;
    }
    std::vector<const StreamProbe*> audio;
    bool video = false;
    if (report.probe) {
        for (const StreamProbe& stream : report.probe->streams) {
            if (stream.kind == StreamProbe::Kind::Audio) audio.push_back(&stream);
            video = video || stream.kind == StreamProbe::Kind::Video;
        }
    }
    if (audio.empty() || TrackChannels(report) != 4 ||
        !ChannelDeclarationConflict(report).empty()) {
        report.spatial = "not spatial";
        return;
    }
    std::string problem;
    const bool declared =
        DeclaredAmbisonicChannels(report, &problem).has_value() || audio.front()->ambisonicLayout;
    report.spatial = declared ? kSpatialDeclared : kSpatialUndeclared;
    // A conversion takes one audio track at the rate it has.
    if (report.ready || !video || audio.size() != 1 ||
        audio.front()->sampleRate != kUploadSampleRate) {
        return;
    }
    const auto chosen = ChooseSphericalVideo(*report.probe, report.metadata);
    const TrackMetadata* videoTrack = chosen ? chosen->track : nullptr;
    const bool spherical = videoTrack != nullptr && (videoTrack->sphericalUuid || videoTrack->sv3d);
    // V1 and V2 that disagree are refused: no command converts the movie.
    if (videoTrack != nullptr && !SphericalDisagreements(*videoTrack).empty()) return;
    const std::string rest = (spherical ? "" : " --projection equirectangular") + (" " + paths);
    const ProjectionChoice projection =
        spherical ? ProjectionChoice::FromMovie : ProjectionChoice::Equirectangular;
    if (declared) {
        report.commands.push_back({"", "spatialmux" + rest, {AmbisonicsChoice::FromMovie, projection}});
    } else {
        report.commands.push_back({"if its channels are ACN/SN3D (W Y Z X)",
                                   "spatialmux --ambisonics ambix" + rest,
                                   {AmbisonicsChoice::AmbiX, projection}});
        report.commands.push_back({"if they are FuMa (W X Y Z)",
                                   "spatialmux --ambisonics fuma" + rest,
                                   {AmbisonicsChoice::FuMa, projection}});
    }
}

// --check and a conversion agree by construction: a movie that is not the
// camera's is ready only where a conversion without options plans it, and
// a command is offered only where the conversion it runs plans it. The plan
// is the conversion's own (PlanFoaConversion), asked here as it is there.
void HoldToTheConversion(CheckReport& report) {
    if (report.kind != CheckReport::Kind::OtherMovie || report.spatial == "camera movie") return;
    if (report.ready) {
        const auto plan = PlanFoaConversion(report, {});
        if (const auto* refusal = std::get_if<std::string>(&plan)) {
            report.notReady.push_back(*refusal);
            report.ready = false;
        }
    }
    std::erase_if(report.commands, [&report](const CheckReport::Command& command) {
        return std::holds_alternative<std::string>(PlanFoaConversion(report, command.choice));
    });
}

}  // namespace

const char* KindName(CheckReport::Kind kind) {
    switch (kind) {
        case CheckReport::Kind::CameraMovie:
            return kKindCameraMovie;
        case CheckReport::Kind::OtherMovie:
            return kKindOtherMovie;
        case CheckReport::Kind::NotAMovie:
            break;
    }
    return "not a movie";
}

std::optional<AcnChannels> DeclaredAmbisonicChannels(const CheckReport& report,
                                                     std::string* problem) {
    const TrackMetadata* audio = FirstTrack(report.metadata, "soun");
    if (audio == nullptr) {
        *problem = "it has no audio track, so no ambisonics";
        return std::nullopt;
    }
    if (!audio->sa3d) {
        *problem = "it has no ambisonic audio (no SA3D box in its audio track)";
        return std::nullopt;
    }
    std::string why;
    auto channels = FirstOrderAcnChannels(*audio->sa3d, &why);
    if (!channels) *problem = "its audio is not first-order ACN/SN3D ambisonics: " + why;
    return channels;
}

std::string CutShortProblem(const CheckReport& report) {
    if (!report.probe) return std::string();
    const uint64_t length = FileLength(report.path);
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.indexEnd > length) {
            return "the movie is cut short: its " + stream.codec + " data reaches byte " +
                   std::to_string(stream.indexEnd) + ", the file ends at " + std::to_string(length);
        }
    }
    return std::string();
}

CheckReport CheckMovieFile(const std::string& path, const MediaProber& probeMedia) {
    CheckReport report;
    report.path = path;
    // The reader says "file open error" on standard output, which a report
    // (and its JSON) must not carry: a file that cannot be opened is told
    // here. A pipe or a device is never opened: it could block forever.
    struct stat fileFacts {};
    if (stat(path.c_str(), &fileFacts) == 0 && !S_ISREG(fileFacts.st_mode)) {
        report.probeProblem = "not a regular file (a folder, a pipe or a device)";
        JudgeOtherMovie(report);
        return report;
    }
    if (!std::ifstream(path, std::ios::binary)) {
        report.probeProblem = "the file cannot be opened";
        JudgeOtherMovie(report);
        return report;
    }

    MovieReader reader(kFrameSize);
    const int32_t opened = reader.Open(path, kFrameSize);
    const std::optional<OpenFailure>& failure = reader.LastOpenFailure();
    const bool camera = opened == MovieReader::kOpenReady || (failure && failure->inCameraBoxes);

    report.probe = probeMedia(path, &report.probeProblem);
    report.metadata = ReadMovieMetadata(path, &report.metadataProblem);

    if (camera) {
        report.kind = CheckReport::Kind::CameraMovie;
        CameraFacts facts;
        const AudioTrackInfo& track = reader.Track();
        facts.audioFormat.assign(track.audioFormat.data(), 4);
        if (facts.audioFormat.find('\0') != std::string::npos) facts.audioFormat.clear();
        facts.channels = track.channelCount;
        facts.sampleRate = track.timescale;
        facts.samples = track.totalSamples;
        facts.softwareText = reader.SoftwareText();
        facts.makerNoteFlag = reader.MakerNoteFlag();
        facts.gain = ChooseGain(facts.softwareText, facts.makerNoteFlag);
        facts.gainDecibels = 20.0 * std::log10(static_cast<double>(facts.gain));
        report.camera = facts;
        if (opened != MovieReader::kOpenReady) {
            report.notConvertible = FailureText(*failure, track);
        } else if (const uint64_t audioEnd = AudioEnd(reader); audioEnd > FileLength(path)) {
            report.notConvertible = "the audio data is cut short (the file ends before byte " +
                                    std::to_string(audioEnd) + ")";
            report.cutShortAt = audioEnd;
        } else {
            JudgeCameraMovie(report);
        }
        report.convertible = report.notConvertible.empty();
        DescribeForPlayers(report);
        return report;
    }

    report.notCamera = failure ? FailureText(*failure, reader.Track()) : "";
    // A file cut inside its moov may still open, with nothing in it.
    if (report.probe && report.probe->streams.empty()) {
        report.probe.reset();
        report.probeProblem = "libavformat finds no streams in it";
    }
    report.kind = report.probe ? CheckReport::Kind::OtherMovie : CheckReport::Kind::NotAMovie;
    if (!report.probe) {
        if (const uint64_t end = CutBeforeIndex(path); end > 0) {
            report.cutShortAt = end;
            report.damaged = "the file ends at byte " + std::to_string(FileLength(path)) +
                             ", before the end of the movie's index (moov): it was cut off "
                             "while it was written or copied";
        }
    }
    JudgeOtherMovie(report);
    DescribeForPlayers(report);
    HoldToTheConversion(report);
    return report;
}

bool SoundMapAvailable(const CheckReport& report) {
    if (report.kind == CheckReport::Kind::CameraMovie) return report.convertible;
    if (report.kind != CheckReport::Kind::OtherMovie || !report.probe) return false;
    std::string ignored;
    return TrackChannels(report) == 4 && ChannelDeclarationConflict(report).empty() &&
           DeclaredAmbisonicChannels(report, &ignored).has_value();
}

std::string DamageWords(const CheckReport& report) {
    if (report.cutShortAt > 0) {
        return "cut short at byte " + std::to_string(FileLength(report.path)) +
               " (its data reaches byte " + std::to_string(report.cutShortAt) + ")";
    }
    if (!report.damaged.empty()) return "damaged: " + report.damaged;
    return std::string();
}

}  // namespace spatialmux
