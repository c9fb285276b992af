#include "shell/AppDelegate.h"

#include "control/wrap_ffmpeg.h"
#include "platform/Backend.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "shell/OutputNaming.h"
#include "shell/SaveDialog.h"

namespace spatialmux {

namespace {
constexpr int kLaunchTimerMilliseconds = 500;
}

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

    platform::Notification hide;
    hide.name = platform::kForOrderOutNotification;
    platform::NotificationCenter::Default().PostOnMainThread(std::move(hide));

    asking = true;
    const std::optional<std::string> output = onSelectSaveAs(input);
    asking = false;
    if (!output) {
        quitting = true;
        myAlert(platform::LocalizedString("alert4"));
        Terminate();
        return;
    }

    cur_converter = std::make_unique<wrap_ffmpeg>();
    if (cur_converter->AppMainFuncProc(input, *output, false) == 0) {
        quitting = true;
        Terminate();
    }
}

std::optional<std::string> AppDelegate::onSelectSaveAs(const std::string& input) {
    const std::string folder = DeletingLastPathComponent(input);
    const std::string proposed = ProposedOutputName(LastPathComponent(input));
    std::optional<std::string> chosen = saveDialog.Run(folder, proposed);
    if (!chosen || chosen->empty()) return std::nullopt;
    return WithMovieExtension(*chosen);
}

void AppDelegate::myAlert(const std::string& text) {
    platform::CurrentBackend().ShowAlert(text);
}

void AppDelegate::Terminate() {
    platform::CurrentBackend().RequestTermination();
}

}  // namespace spatialmux
