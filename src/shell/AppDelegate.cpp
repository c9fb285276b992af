#include "shell/AppDelegate.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <variant>

#include "control/ProgramEntry.h"
#include "control/movieinfo/AnyFoaMovie.h"
#include "control/binaural/BinauralCommand.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/FailureCause.h"
#include "control/job/JobPreflight.h"
#include "control/job/ProgressEvents.h"
#include "control/job/ProgressProtocol.h"
#include "control/movieinfo/MovieCheck.h"
#include "control/soundmap/SoundMapCommand.h"
#include "platform/Backend.h"
#include "platform/ChildProcess.h"
#include "platform/ExecutablePath.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "shell/OutputNaming.h"
#include "shell/ReasonText.h"
#include "shell/SaveDialog.h"
#include "shell/SoundMapOffer.h"

namespace spatialmux {

namespace {

constexpr int kLaunchTimerMilliseconds = 500;
// How often the GUI thread looks at a render it follows (and its Cancel).
constexpr int kRenderPollMilliseconds = 100;

}  // namespace

AppDelegate::AppDelegate(SaveDialog& saveDialog_, QObject* parent)
    : QObject(parent), saveDialog(saveDialog_) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    if (launched) return;
    launched = true;
    limit_timer.setInterval(kLaunchTimerMilliseconds);
    connect(&limit_timer, &QTimer::timeout, this, [this] { timerdd_limit(); });
    limit_timer.start();
}

void AppDelegate::timerdd_limit() {
    // The timer keeps ticking while an alert is up: one alert is enough.
    if (files_received || quitting) return;
    quitting = true;
    myAlert(platform::LocalizedString("alert1"));
    Terminate();
}

void AppDelegate::OpenFiles(const std::vector<std::string>& files) {
    files_received = true;
    if (quitting) return;
    // One job per process: a file handed over while one is being asked for
    // or converted must not touch it.
    if (asking || wrap_ffmpeg::JobRunning()) {
        myAlert(platform::LocalizedString("alert6"));
        return;
    }
    if (files.size() >= 2) {
        quitting = true;
        myAlert(platform::LocalizedString("alert6"));
        Terminate();
        return;
    }
    if (files.empty()) return;
    const std::string input = files.front();

    saveDialog.ForMovie(input);
    platform::CurrentBackend().SetSubject(LastPathComponent(input));
    platform::Notification hide;
    hide.name = platform::kForOrderOutNotification;
    platform::NotificationCenter::Default().PostOnMainThread(std::move(hide));

    // A missing file, a folder or a file that is not a camera movie is
    // refused before the user is asked where to save it, each with its own
    // text (as the command line says it).
    if (const auto refusal = CheckInputFile(input)) {
        std::printf("error!! %s\n", refusal->cause.c_str());
        std::fflush(stdout);
        quitting = true;
        myAlert(refusal->message);
        Terminate();
        return;
    }
    // A movie that is there only in part (cut off while it was copied) is
    // named so before anything is asked, not as "not a camera movie" nor
    // as a conversion that fails halfway.
    const CheckReport check = CheckMovieFile(input);
    if (const std::string damage = DamageWords(check); !damage.empty()) {
        std::printf("error!! %s\n", damage.c_str());
        std::fflush(stdout);
        quitting = true;
        myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.damaged"), "{cause}",
                                          damage));
        Terminate();
        return;
    }
    // A movie that is not the camera's and that no answer makes convertible
    // (two audio tracks, six channels, ...) is refused with the check's
    // reason before anything is asked.
    if (check.kind == CheckReport::Kind::OtherMovie) {
        if (const auto refusal = RefusedWhateverTheAnswers(check)) {
            std::printf("%s: %s%s\nerror!!\n", input.c_str(), kNotConvertible, refusal->c_str());
            std::fflush(stdout);
            quitting = true;
            myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.foa.refused"),
                                              "{cause}", LocalizedReason(*refusal)));
            Terminate();
            return;
        }
    }
    cur_converter = std::make_unique<wrap_ffmpeg>();
    // A 360 movie that is not the camera's takes its own path: what it does
    // not say of itself, the user says now, before the save dialog.
    // One whose declarations disagree with its track is refused there with
    // that cause, not as "not a camera movie".
    const bool otherFoa =
        check.kind == CheckReport::Kind::OtherMovie &&
        (check.spatial == kSpatialDeclared || check.spatial == kSpatialUndeclared ||
         !ChannelDeclarationConflict(check).empty());
    if (otherFoa) {
        if (!DescribeInput(input, check)) return;
    } else if (cur_converter->CheckMovie(input) == 0) {
        quitting = true;
        // A camera's movie that cannot be converted says why, as the check
        // found it; anything else is no camera movie.
        const bool camera = check.kind == CheckReport::Kind::CameraMovie && !check.convertible &&
                            !check.notConvertible.empty();
        myAlert(camera
                    ? platform::FillPlaceholder(platform::LocalizedString("alert.notconvertible"),
                                                "{cause}", LocalizedReason(check.notConvertible))
                    : platform::LocalizedString("alert3"));
        Terminate();
        return;
    }

    // A name the droplet refuses (its folder is gone, it is the input
    // itself) is said, and the dialog asks again.
    std::optional<std::string> output;
    while (!output) {
        asking = true;
        output = onSelectSaveAs(input);
        asking = false;
        if (!output) {
            quitting = true;
            myAlert(platform::LocalizedString("alert4"));
            Terminate();
            return;
        }
        if (const std::string refusal = RefusedOutput(input, *output); !refusal.empty()) {
            myAlert(refusal);
            output.reset();
        }
    }
    JobRequest job{input, *output, JobOptions{}, std::nullopt};
    job.options.audio = saveDialog.ChosenAudio();
    job.options.spatial = spatial;
    if (cur_converter->AppMainFuncProc(job, false) == 0) {
        quitting = true;
        Terminate();
    }
}

bool AppDelegate::DescribeInput(const std::string& input, const CheckReport& check) {
    // Cancel at either question ends the session as Cancel during the
    // conversion does, before anything was written.
    const auto cancelled = [this] {
        quitting = true;
        platform::CurrentBackend().ShowNotice(platform::LocalizedString("notice.cancelled"));
        Terminate();
        return false;
    };
    SpatialChoice choice;
    if (check.spatial == kSpatialUndeclared) {
        asking = true;
        choice.ambisonics = saveDialog.AskChannels();
        asking = false;
        if (choice.ambisonics == AmbisonicsChoice::FromMovie) return cancelled();
    }
    const TrackMetadata* video = FirstTrack(check.metadata, "vide");
    if (video != nullptr && !video->sphericalUuid && !video->sv3d) {
        asking = true;
        const bool equirectangular = saveDialog.AskEquirectangular();
        asking = false;
        if (!equirectangular) return cancelled();
        choice.projection = ProjectionChoice::Equirectangular;
    }
    // What cannot be converted even so is said before a name is asked for.
    const auto plan = PlanFoaConversion(check, choice);
    if (const auto* refusal = std::get_if<std::string>(&plan)) {
        std::printf("%s: %s%s\nerror!!\n", input.c_str(), kNotConvertible, refusal->c_str());
        std::fflush(stdout);
        quitting = true;
        myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.foa.refused"), "{cause}",
                                          LocalizedReason(*refusal)));
        Terminate();
        return false;
    }
    // As --ambisonics and --projection say it on the command line.
    spatial = choice;
    return true;
}

std::string AppDelegate::RefusedOutput(const std::string& input, const std::string& output) {
    // A name typed into the dialog may lead into a folder that does not
    // exist: say so before anything starts.
    const std::string outputFolder = DeletingLastPathComponent(output);
    std::error_code error;
    if (!outputFolder.empty() && !std::filesystem::is_directory(outputFolder, error)) {
        std::printf("error!! the folder %s does not exist\n", outputFolder.c_str());
        std::fflush(stdout);
        return platform::FillPlaceholder(platform::LocalizedString("alert.nofolder"), "{folder}",
                                         outputFolder);
    }
    if (platform::CurrentFileFacts().SameFile(input, output)) {
        std::printf("error!! the output is the input file\n");
        std::fflush(stdout);
        return platform::LocalizedString("alert.sameasinput");
    }
    return std::string();
}

std::optional<std::string> AppDelegate::onSelectSaveAs(const std::string& input) {
    const std::string folder = DeletingLastPathComponent(input);
    const auto beside = [&folder](const std::string& name) {
        return folder.empty() ? name : folder == "/" ? "/" + name : folder + "/" + name;
    };
    // The folder is asked: on a card that does not tell case apart,
    // "R0010001.mp4" is the movie "R0010001.MP4" itself.
    const platform::FileFacts& facts = platform::CurrentFileFacts();
    const std::string proposed = ProposedOutputNameBeside(
        LastPathComponent(input),
        [&](const std::string& name) {
            return name == LastPathComponent(input) || facts.SameFile(input, beside(name));
        },
        [&](const std::string& name) { return facts.Exists(beside(name)); });
    std::optional<std::string> chosen = saveDialog.Run(folder, proposed);
    if (!chosen || chosen->empty()) return std::nullopt;
    return WithMovieExtension(*chosen);
}

void AppDelegate::TellWritten(const std::string& output) {
    const std::string text =
        platform::FillPlaceholder(platform::LocalizedString("notice.written"), "{path}", output);
    if (soundMapOffer == nullptr) {
        platform::CurrentBackend().ShowNotice(text);
        return;
    }
    const SoundMapOffer::Choice choice = soundMapOffer->Ask(text);
    if (choice == SoundMapOffer::Choice::Listen) {
        Listen(output);
        return;
    }
    if (choice != SoundMapOffer::Choice::SoundMap) return;
    // The map goes beside the movie, where the user will look for it.
    std::string problem;
    const auto map = MakeSoundMap(SoundMapRequest{output, std::string(), 6, {}, {}}, &problem);
    if (!map) {
        myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.soundmap"), "{cause}",
                                          problem));
        return;
    }
    // Without a viewer the map would be written and never seen: say where.
    if (!soundMapOffer->Open(map->outputPath)) {
        myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.soundmap.open"),
                                          "{path}", map->outputPath));
    }
}

void AppDelegate::Listen(const std::string& movie) {
    // The headphone render goes beside the movie too, facing its front. It
    // runs as a child, the render program beside this one, read through the
    // protocol's lines as the queue window reads it: the GUI thread only
    // follows it.
    namespace protocol = progress_protocol;
    std::string problem;
    const auto program = platform::ProgramBeside(nullptr, kRenderProgramName);
    std::optional<platform::ChildProcess> child;
    if (program) {
        child = platform::SpawnChild(
            *program, {"--progress=machine", "--binaural", "--", movie, DefaultBinauralPath(movie)},
            &problem);
    } else {
        problem = std::string("the program ") + kRenderProgramName + " was not found";
    }
    bool stopped = false;
    std::optional<ProgressEvent> end;
    if (child) {
        child->report.Reset();
        float percent = 0.0f;
        std::string pending;
        for (bool open = true; open;) {
            platform::WaitUntilReadable({child->output.Get()}, kRenderPollMilliseconds);
            open = platform::ReadAvailable(child->output.Get(), pending);
            for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
                if (const auto event = ParseProgressLine(pending.substr(0, newline))) {
                    if (event->kind == ProgressEvent::Kind::Progress) {
                        percent = static_cast<float>(event->percent);
                    }
                    if (event->kind == ProgressEvent::Kind::End) end = event;
                }
                pending.erase(0, newline + 1);
            }
            // Its Cancel, or a stop signal, stops the render, which removes
            // what it wrote.
            if (!stopped && (!soundMapOffer->Rendering(percent) || renderStopped)) {
                stopped = true;
                platform::SignalChild(child->pid, SIGTERM);
            }
        }
        const platform::ChildEnd ended = platform::WaitForChild(child->pid);
        if (!end && problem.empty()) {
            problem = "the render ended with status " + std::to_string(ended.exitStatus);
        }
    }
    soundMapOffer->RenderingEnded();
    if (!end || end->result != protocol::kConverted) {
        if (stopped) return;
        if (end) problem = !end->cause.empty() ? end->cause : end->message;
        SayFailure(problem);
        myAlert(platform::FillPlaceholder(platform::LocalizedString("alert.listen"), "{cause}",
                                          problem));
        return;
    }
    if (!soundMapOffer->Play(end->output)) {
        platform::CurrentBackend().ShowNotice(platform::FillPlaceholder(
            platform::LocalizedString("notice.listen.noplayer"), "{path}", end->output));
    }
}

void AppDelegate::myAlert(const std::string& text) {
    platform::CurrentBackend().ShowAlert(text);
}

void AppDelegate::Terminate() {
    platform::CurrentBackend().RequestTermination();
}

}  // namespace spatialmux
