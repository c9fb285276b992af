// Printing --check reports as text and as JSON.
#include "control/check/CheckReportPrinting.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "control/movieinfo/AnyFoaMovie.h"
#include "control/movieinfo/ChannelLayoutText.h"

namespace spatialmux {

namespace {

using nlohmann::json;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

const StreamProbe* First(const CheckReport& report, StreamProbe::Kind kind) {
    if (!report.probe) return nullptr;
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.kind == kind) return &stream;
    }
    return nullptr;
}

std::string VideoLine(const StreamProbe& video) {
    return video.codec + ", " + std::to_string(video.width) + " x " + std::to_string(video.height) +
           ", " + Format("%.3g fps", video.framesPerSecond) + ", " +
           Format("%.2f s", video.durationSeconds);
}

std::string Sa3dLine(const Sa3dFacts& sa3d) {
    std::string map;
    for (uint32_t channel : sa3d.channelMap) {
        map += (map.empty() ? "" : ", ") + std::to_string(channel);
    }
    return "version " + std::to_string(sa3d.version) + ", ambisonic type " +
           std::to_string(sa3d.ambisonicType) +
           (sa3d.headLockedStereo ? " with head-locked stereo" : "") + ", order " +
           std::to_string(sa3d.order) + ", channel ordering " +
           std::to_string(sa3d.channelOrdering) + (sa3d.channelOrdering == 0 ? " (ACN)" : "") +
           ", normalization " + std::to_string(sa3d.normalization) +
           (sa3d.normalization == 0 ? " (SN3D)" : "") + ", channel map " + map;
}

json VideoJson(const StreamProbe& video) {
    return {{"codec", video.codec},
            {"width", video.width},
            {"height", video.height},
            {"frameRate", video.framesPerSecond},
            {"duration", video.durationSeconds},
            {"packets", video.indexEntries}};
}

json ChannelLayoutJson(const ChannelLayoutFacts& chan) {
    const auto speakers = ChannelSpeakers(chan);
    return {{"layoutTag", chan.tag},
            {"bitmap", chan.bitmap},
            {"labels", chan.labels},
            {"text", ChannelLayoutText(chan)},
            {"speakers", speakers ? json(*speakers) : json(nullptr)}};
}

json Sa3dJson(const Sa3dFacts& sa3d) {
    return {{"version", sa3d.version},
            {"ambisonicType", sa3d.ambisonicType},
            {"headLockedStereo", sa3d.headLockedStereo},
            {"order", sa3d.order},
            {"channelOrdering", sa3d.channelOrdering},
            {"normalization", sa3d.normalization},
            {"channelCount", sa3d.channelCount},
            {"channelMap", sa3d.channelMap},
            {"identityMap", sa3d.IdentityMap()}};
}

json CommandsJson(const CheckReport& report) {
    json commands = json::array();
    for (const CheckReport::Command& command : report.commands) {
        commands.push_back({{"when", command.when}, {"command", command.line}});
    }
    return commands;
}

// What the movie is for 360 players, and what to do about it.
template <typename Line>
void AppendWhatToDo(const CheckReport& report, const Line& line) {
    if (!report.spatial.empty()) line("360 audio", report.spatial);
    if (report.ready) {
        line("to make it ready", "nothing to do");
        return;
    }
    for (const CheckReport::Command& command : report.commands) {
        line(command.when.empty() ? "to make it ready" : "to make it ready, " + command.when,
             command.line);
    }
}

}  // namespace

std::string CheckReportText(const CheckReport& report) {
    std::string text = report.path + ": " + KindName(report.kind) + "\n";
    auto line = [&text](const std::string& label, const std::string& value) {
        text += "  " + label + ": " + value + "\n";
    };
    if (const StreamProbe* video = First(report, StreamProbe::Kind::Video)) {
        line("video", VideoLine(*video));
    }

    if (report.camera) {
        const CameraFacts& camera = *report.camera;
        line("audio", (camera.audioFormat.empty() ? "?" : camera.audioFormat) + ", " +
                          std::to_string(camera.channels) + " channels, " +
                          std::to_string(camera.sampleRate) + " Hz, " +
                          std::to_string(camera.samples) + " samples");
        line("software", "\"" + camera.softwareText + "\", maker-note flag " +
                             (camera.makerNoteFlag ? "1" : "0"));
        line("gain", Format("%+.2f dB", camera.gainDecibels) +
                         Format(" (x%.6f) on the first channel", camera.gain));
        line("convertible", report.convertible ? "yes" : "no, " + report.notConvertible);
        if (SoundMapAvailable(report)) line("sound map", "spatialmux --soundmap " + report.path);
        AppendWhatToDo(report, line);
        return text;
    }

    int audioTracks = 0;
    if (report.probe) {
        for (const StreamProbe& stream : report.probe->streams) {
            if (stream.kind != StreamProbe::Kind::Audio) continue;
            ++audioTracks;
            line("audio", stream.codec + ", " + std::to_string(stream.channels) + " channels (" +
                              stream.layout + "), " + std::to_string(stream.sampleRate) + " Hz, " +
                              std::to_string(stream.frames) + " samples");
        }
    }
    if (const TrackMetadata* video = FirstTrack(report.metadata, "vide")) {
        std::string fields;
        for (const auto& [name, value] : video->sphericalV1) {
            fields += (fields.empty() ? "" : ", ") + name + "=" + value;
        }
        line("spherical video V1",
             video->sphericalUuid ? (fields.empty() ? "uuid box, no fields" : fields) : "none");
        std::string v2;
        if (video->st3d) {
            v2 = "st3d (stereo mode " +
                 (video->stereoMode ? std::to_string(*video->stereoMode) : std::string("?")) + ")";
        }
        if (video->sv3d) {
            v2 += (v2.empty() ? "" : ", ") + std::string("sv3d (projection ") +
                  (video->projection.empty() ? "?" : video->projection) + ")";
        }
        line("spherical video V2", v2.empty() ? "none" : v2);
    }
    if (audioTracks > 0) {
        const TrackMetadata* audio = FirstTrack(report.metadata, "soun");
        line("SA3D", audio != nullptr && audio->sa3d ? Sa3dLine(*audio->sa3d) : "none");
        if (audio != nullptr && audio->chan) line("chan", ChannelLayoutText(*audio->chan));
    }
    if (!report.notCamera.empty()) line("camera movie", "no (" + report.notCamera + ")");
    if (!report.damaged.empty()) line("damaged or incomplete", report.damaged);
    line("ready for 360 players with first-order ambisonics", report.ready ? "yes" : "no");
    for (const std::string& reason : report.notReady) text += "    - " + reason + "\n";
    if (SoundMapAvailable(report)) line("sound map", "spatialmux --soundmap " + report.path);
    AppendWhatToDo(report, line);
    return text;
}

std::string CheckReportJson(const CheckReport& report) {
    json object = {
        {"file", report.path}, {"kind", KindName(report.kind)}, {"passed", report.Passed()}};
    if (const StreamProbe* video = First(report, StreamProbe::Kind::Video)) {
        object["video"] = VideoJson(*video);
    }
    if (report.camera) {
        const CameraFacts& camera = *report.camera;
        object["audio"] = {{"format", camera.audioFormat},
                           {"channels", camera.channels},
                           {"sampleRate", camera.sampleRate},
                           {"samples", camera.samples}};
        object["software"] = camera.softwareText;
        object["makerNoteFlag"] = camera.makerNoteFlag;
        object["gain"] = camera.gain;
        object["gainDecibels"] = camera.gainDecibels;
        object["convertible"] = report.convertible;
        if (!report.convertible) object["reason"] = report.notConvertible;
        object["spatial"] = report.spatial;
        object["commands"] = CommandsJson(report);
        if (report.cutShortAt > 0) object["cutShortAt"] = report.cutShortAt;
        return object.dump(-1, ' ', false, json::error_handler_t::replace);
    }

    json audio = json::array();
    if (report.probe) {
        for (const StreamProbe& stream : report.probe->streams) {
            if (stream.kind != StreamProbe::Kind::Audio) continue;
            audio.push_back({{"codec", stream.codec},
                             {"channels", stream.channels},
                             {"layout", stream.layout},
                             {"ambisonic", stream.layout == "ambisonic 1"},
                             {"sampleRate", stream.sampleRate},
                             {"samples", stream.frames}});
        }
    }
    object["audio"] = audio;
    if (const TrackMetadata* video = FirstTrack(report.metadata, "vide")) {
        json v1 = nullptr;
        if (video->sphericalUuid) {
            v1 = json::object();
            for (const auto& [name, value] : video->sphericalV1) v1[name] = value;
        }
        object["sphericalV1"] = v1;
        json v2 = {{"st3d", video->st3d}, {"sv3d", video->sv3d}};
        if (video->stereoMode) v2["stereoMode"] = *video->stereoMode;
        if (!video->projection.empty()) v2["projection"] = video->projection;
        object["sphericalV2"] = v2;
    }
    const TrackMetadata* audioTrack = FirstTrack(report.metadata, "soun");
    object["sa3d"] =
        audioTrack != nullptr && audioTrack->sa3d ? Sa3dJson(*audioTrack->sa3d) : json(nullptr);
    object["chan"] = audioTrack != nullptr && audioTrack->chan
                         ? ChannelLayoutJson(*audioTrack->chan)
                         : json(nullptr);
    if (!report.notCamera.empty()) object["notCameraMovie"] = report.notCamera;
    if (report.cutShortAt > 0) object["cutShortAt"] = report.cutShortAt;
    if (!report.damaged.empty()) object["damaged"] = report.damaged;
    // Whether a conversion can take it, with the right answers to what it
    // does not say; a camera movie says so above.
    const auto refusal = RefusedWhateverTheAnswers(report);
    object["convertible"] = !refusal.has_value();
    if (refusal) object["reason"] = *refusal;
    object["ready"] = report.ready;
    object["reasons"] = report.notReady;
    object["spatial"] = report.spatial;
    object["commands"] = CommandsJson(report);
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace spatialmux
