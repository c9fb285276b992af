#include "GuiTestSupport.h"

#include <QEvent>
#include <QMetaObject>
#include <QTimer>

#include <sys/stat.h>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fixture/CameraMovieBuilder.h"
#include "platform/LocalizedStrings.h"
#include "shell/DropletSession.h"
#include "support/FoaVariants.h"
#include "support/RunProgram.h"

namespace spatialmux::guitest {

std::optional<std::string> FakeSaveDialog::Run(const std::string& folder,
                                               const std::string& proposedName) {
    ++runs;
    asked.push_back("save");
    lastFolder = folder;
    lastProposedName = proposedName;
    // Asked again (a name was refused), the user cancels.
    return runs == 1 ? answer : std::nullopt;
}

AmbisonicsChoice FakeSaveDialog::AskChannels() {
    asked.push_back("channels");
    return channels;
}

bool FakeSaveDialog::AskEquirectangular() {
    asked.push_back("projection");
    return equirectangular;
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

void WriteUndeclaredFumaMovie(const std::string& path) {
    const std::string camera = path + ".camera.MP4";
    const std::string converted = path + ".converted.mov";
    std::string error;
    ASSERT_TRUE(WriteTestMovie(camera, 2, &error)) << error;
    const auto run = spatialmux::testing::RunProgram({camera, converted});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::vector<uint8_t> file = spatialmux::testing::ReadFileBytes(converted);
    spatialmux::testing::RewriteInstants(converted, file, spatialmux::testing::ToFuma);
    spatialmux::testing::RenameAway(file, {"SA3D", "chan", "uuid", "st3d", "sv3d"});
    WriteWholeFile(path, std::string(file.begin(), file.end()));
    std::remove(camera.c_str());
    std::remove(converted.c_str());
}

}  // namespace spatialmux::guitest
