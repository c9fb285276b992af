#pragma once
// Doubles and helpers of the windowed tests: a back end whose alerts are
// recorded and dismissed at once, a save dialog that answers as told, a run
// of the droplet session with a guard against hanging, and movie files.

#include <QApplication>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/qt/QtBackend.h"
#include "shell/SaveDialog.h"
#include "shell/ViewController.h"
#include "support/RecordingBackend.h"

namespace testing {}  // namespace testing

namespace spatialmux {
class SoundMapOffer;
}  // namespace spatialmux

namespace spatialmux::guitest {

// Inside these tests, testing:: is GoogleTest's (not the shared support's).
namespace testing = ::testing;

// The tests' recording back end over the Qt one: alerts are recorded on the
// GUI thread instead of opening a modal box.
using RecordingBackend = spatialmux::testing::RecordingBackendOn<platform::QtBackend>;

class FakeSaveDialog : public SaveDialog {
public:
    explicit FakeSaveDialog(std::optional<std::string> answer_ = std::nullopt)
        : answer(std::move(answer_)) {}
    std::optional<std::string> Run(const std::string& folder,
                                   const std::string& proposedName) override;
    AmbisonicsChoice AskChannels() override;
    bool AskEquirectangular() override;

    std::optional<std::string> answer;  // the first run's; Cancel after it
    // The answers to the questions before it (FromMovie and false: Cancel), and
    // the questions asked in order ("channels", "projection", "save").
    AmbisonicsChoice channels = AmbisonicsChoice::FromMovie;
    bool equirectangular = false;
    std::vector<std::string> asked;
    int runs = 0;
    std::string lastFolder;
    std::string lastProposedName;
};

// Counts the appearances of progress windows (show events).
class WindowWatcher : public QObject {
public:
    WindowWatcher();
    ~WindowWatcher() override;
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The localized texts of the given alert keys.
std::vector<std::string> Texts(const std::vector<std::string>& keys);

// Runs a droplet session; false when it had to be stopped by the guard.
// `onStart` runs first thing in the session's event loop, when its progress
// window exists (observers added then run after the window's own).
bool RunSession(RecordingBackend& backend, SaveDialog& dialog,
                const std::optional<std::vector<std::string>>& files,
                std::function<void()> onStart = nullptr, SoundMapOffer* soundMapOffer = nullptr);

// The progress window of the running session, or nullptr.
ViewController* CurrentProgressWindow();

bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// A camera movie of `seconds` of audio at a small video size; empty on
// failure, with the reason in `error`.
bool WriteTestMovie(const std::string& path, int seconds, std::string* error);

// A 360 movie that is not the camera's and says nothing of itself: a
// converted test movie (PCM) without its SA3D, chan and spherical boxes,
// its channels rewritten as FuMa. Fails the test where it cannot be made.
void WriteUndeclaredFumaMovie(const std::string& path);

}  // namespace spatialmux::guitest
