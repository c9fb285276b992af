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
#include "platform/qt/QtBackend.h"
#include "shell/DropletSession.h"
#include "shell/FileSaveDialog.h"

namespace spatialmux {

namespace {

using FileList = std::optional<std::vector<std::string>>;

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

// The folder of a relative path is the working directory's: make it
// explicit, so that the save dialog opens there.
std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

int RunApplication(int argc, char** argv, const std::function<FileList(int, char**)>& filesOf) {
    if (!DisplayAvailable([](const char* name) { return std::getenv(name); })) {
        std::fprintf(stderr,
                     "spatialmux: no display is available for the windowed mode "
                     "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "To convert from a terminal: spatialmux INPUT OUTPUT\n");
        return 1;
    }
    int qtArgc = argc;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("spatialmux"));
    QApplication::setDesktopFileName(QStringLiteral("spatialmux"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("spatialmux")));
    // The windows come and go (the progress window is hidden while the save
    // dialog is up); the application ends only when asked to.
    QApplication::setQuitOnLastWindowClosed(false);

    const FileList files = filesOf(qtArgc, argv);  // Qt's own options removed
    platform::QtBackend backend;
    FileSaveDialog saveDialog;
    return RunDropletSession(backend, saveDialog, files);
}

}  // namespace

bool DisplayAvailable(const std::function<const char*(const char*)>& getenvFn) {
    return IsSet(getenvFn("QT_QPA_PLATFORM")) || IsSet(getenvFn("DISPLAY")) ||
           IsSet(getenvFn("WAYLAND_DISPLAY"));
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
