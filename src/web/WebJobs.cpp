// The browser's check, output name and conversion.
#include "web/WebJobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "control/movieinfo/AnyFoaMovie.h"
#include "control/batch/BatchPlan.h"
#include "control/check/CheckReportPrinting.h"
#include "control/edit/CameraEdit.h"
#include "control/edit/EditWrites.h"
#include "control/edit/OnePassEdit.h"
#include "control/movieinfo/BoxProbe.h"
#include "control/movieinfo/LeftOutTracks.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "platform/FileCopy.h"
#include "platform/LocalizedStrings.h"
#include "platform/UniqueFd.h"

namespace spatialmux::web {

namespace {

using nlohmann::json;

std::string Dump(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A movie the conversion will not take, said as the desktop's droplet says it.
std::string Refused(const std::string& message) {
    return Dump({{"ok", false}, {"refused", true}, {"message", message}});
}

std::string Localized(const char* key, const std::string& cause) {
    return platform::FillPlaceholder(platform::LocalizedString(key), "{cause}", cause);
}

// What the browser cannot do, which the desktop program can.
std::string DesktopOnly(const std::string& cause) {
    return Refused(Localized("web.desktop.only", cause));
}

// A conversion that began and failed: the desktop's alert, and the cause in
// English as its "error!!" line says it.
std::string Failed(const std::string& cause) {
    return Dump({{"ok", false},
                 {"refused", false},
                 {"message", platform::LocalizedString("alert5")},
                 {"cause", cause}});
}

std::string Cancelled() {
    return Dump({{"ok", false}, {"cancelled", true}});
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The output file, made empty for the edit.
platform::UniqueFd CreateOutput(const std::string& path) {
    return platform::UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// The end of a conversion whose bytes are written: the output read back and
// held to what was meant, then flushed.
std::string Finish(OnePassEnd end, const std::string& why, int outFd,
                   const output::PreparedEdit& edit, int64_t audioBytes, uint64_t audioDigest,
                   const ConvertHooks& hooks, json report) {
    if (end == OnePassEnd::Cancelled) return Cancelled();
    if (end == OnePassEnd::Failed) return Failed(why);
    hooks.progress("verify", 0.0);
    if (hooks.cancelled()) return Cancelled();
    if (const auto mismatch = CheckEditedOutput(outFd, edit, audioBytes, audioDigest)) {
        return Failed("the output failed its check: " + *mismatch);
    }
    if (!platform::Sync(outFd)) return Failed("could not write the output to its storage");
    hooks.progress("verify", 100.0);
    report["verified"] = true;
    report["bytes"] = edit.plan.copyLength + edit.moov.size();
    report["videoSamples"] = edit.videoSamples.size();
    return Dump({{"ok", true}, {"report", std::move(report)}});
}

OnePassHooks PassHooks(const ConvertHooks& hooks) {
    return OnePassHooks{hooks.progress, hooks.cancelled};
}

std::string ConvertCameraMovie(const std::string& input, const std::string& output,
                               const CheckReport& check, const ConvertHooks& hooks) {
    MovieReader reader(kFrameSize);
    const bool opened = reader.Open(input, kFrameSize) == MovieReader::kOpenReady;
    // The reading ends where the tables end: audio the duration promises
    // beyond them would be missing from the output (the desktop converts it
    // only when told to, with --accept-short-audio).
    if (!opened || reader.GetTotalSamples() - reader.TableSamples() > kFrameSize) {
        // A camera's movie that cannot be converted says why, as the check
        // found it; anything else is no camera movie.
        const bool camera = check.kind == CheckReport::Kind::CameraMovie && !check.convertible &&
                            !check.notConvertible.empty();
        return Refused(camera ? Localized("alert.notconvertible", check.notConvertible)
                              : platform::LocalizedString("alert3"));
    }
    // Its conversion carries the video and the audio only: another track
    // would be dropped.
    if (const auto leftOut = CameraTrackLeftOut(check)) {
        return Refused(Localized("alert.notconvertible", *leftOut));
    }
    auto in = EditInput::Open(input);
    if (!in) return Failed("the input cannot be opened");
    std::string why;
    const auto edit = PrepareCameraEdit(reader, *in, &why);
    if (!edit) return DesktopOnly(why);
    const platform::UniqueFd out = CreateOutput(output);
    if (!out.Valid()) return Failed("the output cannot be created");
    WrittenAudio audio;
    const OnePassEnd end = WriteCameraEditInOnePass(reader, *edit, in->fd.Get(), out.Get(),
                                                    PassHooks(hooks), &audio, &why);
    json report = {{"movie", "camera movie"},
                   {"engine", "edit"},
                   {"audioInstants", audio.instants},
                   {"gain", ChooseGain(reader.SoftwareText(), reader.MakerNoteFlag())}};
    return Finish(end, why, out.Get(), *edit, audio.instants * kBytesPerInstant, audio.digest,
                  hooks, std::move(report));
}

std::string CopyEditFoaMovie(const std::string& input, const std::string& output,
                             const CheckReport& check, const SpatialChoice& choice,
                             const ConvertHooks& hooks) {
    const auto planned = PlanFoaConversion(check, choice);
    if (const auto* refusal = std::get_if<std::string>(&planned)) {
        return Refused(Localized("alert.foa.refused", *refusal));
    }
    const FoaPlan& plan = std::get<FoaPlan>(planned);
    // The edit writes the video and the audio track alone; the desktop's
    // remux keeps the others.
    if (!EditKeepsEveryTrack(plan)) {
        return DesktopOnly(
            "it has tracks besides its video and its audio, which only a remux keeps");
    }
    if (!CopiesAudio(plan, OutputFileName(FileName(input)), output::AudioEncoding{},
                     AmbisonicRotation{})) {
        return DesktopOnly("its audio (" + plan.codec + ", " + DeclarationWords(plan) +
                           ") must be decoded and put in W Y Z X order at SN3D levels");
    }
    auto in = EditInput::Open(input);
    if (!in) return Failed("the input cannot be opened");
    std::string why;
    const auto packets = AudioPacketsFromTables(in->fd.Get(), &why);
    if (!packets) return DesktopOnly(why);
    const output::CopiedAudioBoxes boxes{plan.videoSampleEntry, plan.uuidBox, AcnSn3dSa3dBox(),
                                         plan.sphere};
    const auto edit = output::PrepareCopyEdit(in->stream, in->size, *packets, boxes, plan.recording,
                                              "spatialmux " SPATIALMUX_VERSION, &why);
    if (!edit) return DesktopOnly(why);
    // The audio goes out as it is: the output's must be the input's, byte
    // for byte.
    const auto inputAudio = ReadAudioTrackBytes(in->fd.Get(), &why);
    if (!inputAudio) return DesktopOnly(why);
    const platform::UniqueFd out = CreateOutput(output);
    if (!out.Valid()) return Failed("the output cannot be created");
    const OnePassEnd end =
        WriteCopyEditInOnePass(*edit, in->fd.Get(), out.Get(), PassHooks(hooks), &why);
    json report = {{"movie", "first-order ambisonics as " + DeclarationWords(plan)},
                   {"engine", "copy edit"},
                   {"audioBytes", inputAudio->bytes}};
    return Finish(end, why, out.Get(), *edit, inputAudio->bytes, inputAudio->digest, hooks,
                  std::move(report));
}

}  // namespace

std::string CheckJson(const std::string& path) {
    return CheckReportJson(CheckMovieFile(path, ProbeMediaFromBoxes));
}

std::string OutputNameJson(const std::string& inputName) {
    const std::string input = FileName(inputName);
    std::string name = OutputFileName(input);
    // As the droplet proposes it: never the input's own name, in any case
    // (a download beside the input would replace the footage).
    const auto folded = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    if (folded(name) == folded(input)) name = name.substr(0, name.size() - 4) + "-360.mov";
    return Dump({{"name", name}});
}

std::string ConvertJson(const std::string& input, const std::string& output,
                        const std::string& optionsJson, const ConvertHooks& hooks) {
    const json options = json::parse(optionsJson, nullptr, false);
    const auto text = [&options](const char* key) {
        if (!options.is_object()) return std::string();
        const auto found = options.find(key);
        return found != options.end() && found->is_string() ? found->get<std::string>()
                                                            : std::string();
    };
    platform::SetLanguage(text("language") == "ja" ? "ja" : "en");
    const auto ambisonics = AmbisonicsNamed(text("ambisonics"));
    const auto projection = ProjectionNamed(text("projection"));
    if (!options.is_object() || !ambisonics || !projection) {
        return Refused(
            "the options must be {\"ambisonics\": \"\", \"ambix\" or \"fuma\", "
            "\"projection\": \"\" or \"equirectangular\"}");
    }
    const SpatialChoice choice{*ambisonics, *projection};
    // As the droplet decides: a movie there only in part is named so before
    // anything else; a 360 movie that is not the camera's takes its own path.
    const CheckReport check = CheckMovieFile(input, ProbeMediaFromBoxes);
    if (const std::string damage = DamageWords(check); !damage.empty()) {
        return Refused(Localized("alert.damaged", damage));
    }
    const bool otherFoa =
        check.kind == CheckReport::Kind::OtherMovie &&
        (check.spatial == kSpatialDeclared || check.spatial == kSpatialUndeclared);
    if (otherFoa) return CopyEditFoaMovie(input, output, check, choice, hooks);
    return ConvertCameraMovie(input, output, check, hooks);
}

}  // namespace spatialmux::web
