#include "shell/WindowedApplication.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include <QApplication>
#include <QIcon>

#include "control/WindowedMode.h"
#include "platform/LocalizedStrings.h"
#include "platform/qt/QtBackend.h"
#include "shell/DisplayProbe.h"
#include "shell/DropletSession.h"
#include "shell/FileSaveDialog.h"
#include "shell/QtTranslations.h"
#include "shell/SoundMapOffer.h"

namespace spatialmux {

namespace {

using FileList = std::optional<std::vector<std::string>>;

// The folder of a relative path is the working directory's: make it
// explicit, so that the save dialog opens there.
std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

int RunApplication(int argc, char** argv, const std::function<FileList(int, char**)>& filesOf) {
    return RunQtProgram(argc, argv, "spatialmux-droplet", [&filesOf](int qtArgc, char** qtArgv) {
        // The windows come and go (the progress window is hidden while the
        // save dialog is up); the application ends only when asked to.
        QApplication::setQuitOnLastWindowClosed(false);
        const FileList files = filesOf(qtArgc, qtArgv);  // Qt's own options removed
        platform::QtBackend backend;
        FileSaveDialog saveDialog;
        DesktopSoundMapOffer soundMapOffer;
        return RunDropletSession(backend, saveDialog, files, &soundMapOffer);
    });
}

}  // namespace

int RunQtProgram(int argc, char** argv, const char* desktopName,
                 const std::function<int(int argc, char** argv)>& session) {
    // Qt aborts when its window system cannot be reached: an unreachable
    // display gets the same explanation and exit status as a missing one.
    DisplayProbes probes = SystemDisplayProbes();
    const std::string problem =
        DisplayProblem([](const char* name) { return std::getenv(name); }, probes);
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "spatialmux: no display is available for the windowed mode (%s).\n"
                     "To convert from a terminal: spatialmux INPUT OUTPUT\n",
                     problem.c_str());
        return 1;
    }
    int qtArgc = argc;
    QApplication app(qtArgc, argv);
    probes = DisplayProbes();  // Qt holds its own connection now
    QApplication::setApplicationName(QStringLiteral("spatialmux"));
    QApplication::setDesktopFileName(QString::fromLatin1(desktopName));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("spatialmux")));
    // Qt's dialogs speak the language of our own texts.
    const std::unique_ptr<QTranslator> qtTexts = InstallQtTranslations(platform::CurrentLanguage());
    return session(qtArgc, argv);
}

std::optional<std::vector<std::string>> FileFromProgramArguments(int argc, char** argv) {
    if (argc != 2) return std::nullopt;
    std::error_code error;
    if (!std::filesystem::is_regular_file(argv[1], error)) return std::nullopt;
    return std::vector<std::string>{Absolute(argv[1])};
}

std::optional<std::vector<std::string>> FilesFromDropletArguments(int argc, char** argv) {
    if (argc < 2) return std::nullopt;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) files.push_back(Absolute(argv[i]));
    return files;
}

int RunWindowedApplication(int argc, char** argv) {
    return RunApplication(argc, argv, &FileFromProgramArguments);
}

int RunDroplet(int argc, char** argv) {
    // The files are taken before Qt sees the arguments: a file name that
    // looks like one of Qt's options is still a file.
    const FileList files = FilesFromDropletArguments(argc, argv);
    return RunApplication(1, argv, [&files](int, char**) { return files; });
}

}  // namespace spatialmux
