#include "GuiTestSupport.h"

#include <QEvent>
#include <QMetaObject>
#include <QTimer>

#include <sys/stat.h>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fixture/CameraMovieBuilder.h"
#include "platform/LocalizedStrings.h"
#include "shell/DropletSession.h"

namespace spatialmux::guitest {

std::optional<std::string> FakeSaveDialog::Run(const std::string& folder,
                                               const std::string& proposedName) {
    ++runs;
    lastFolder = folder;
    lastProposedName = proposedName;
    // Asked again (a name was refused), the user cancels.
    return runs == 1 ? answer : std::nullopt;
}

WindowWatcher::WindowWatcher() {
    qApp->installEventFilter(this);
}

WindowWatcher::~WindowWatcher() {
    qApp->removeEventFilter(this);
}

bool WindowWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && dynamic_cast<ViewController*>(watched) != nullptr) ++shows;
    return false;
}

std::vector<std::string> Texts(const std::vector<std::string>& keys) {
    std::vector<std::string> texts;
    for (const std::string& key : keys) texts.push_back(platform::LocalizedString(key));
    return texts;
}

bool RunSession(RecordingBackend& backend, SaveDialog& dialog,
                const std::optional<std::vector<std::string>>& files, std::function<void()> onStart,
                SoundMapOffer* soundMapOffer) {
    // Only a guard against a test that would otherwise hang: a session that
    // works ends long before.
    bool stoppedByGuard = false;
    QTimer guard;
    guard.setSingleShot(true);
    guard.setInterval(300000);
    QObject::connect(&guard, &QTimer::timeout, [&stoppedByGuard] {
        stoppedByGuard = true;
        QCoreApplication::exit(99);
    });
    guard.start();
    if (onStart) QTimer::singleShot(0, &guard, std::move(onStart));
    RunDropletSession(backend, dialog, files, soundMapOffer);
    return !stoppedByGuard;
}

ViewController* CurrentProgressWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = dynamic_cast<ViewController*>(widget)) return window;
    }
    return nullptr;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool WriteTestMovie(const std::string& path, int seconds, std::string* error) {
    fixture::CameraMovieOptions options;
    options.width = 64;
    options.height = 32;
    options.framesPerSecond = 10;
    options.distinctFrames = 10;
    options.totalSamples = 48000 * seconds;
    return fixture::WriteCameraMovie(path, options, nullptr, error);
}

}  // namespace spatialmux::guitest
