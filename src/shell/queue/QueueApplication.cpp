#include "shell/queue/QueueApplication.h"

#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QFileInfo>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include "control/WindowedMode.h"
#include "platform/ExecutablePath.h"
#include "platform/qt/QtBackend.h"
#include "shell/StopSignalNotifier.h"
#include "shell/WindowedApplication.h"
#include "shell/queue/QueueDialogs.h"
#include "shell/queue/QueueText.h"
#include "shell/queue/QueueWindow.h"

namespace spatialmux {

int RunQueueApplication(int argc, char** argv) {
    // Taken before Qt sees the arguments: a file name that looks like one of
    // Qt's options is still a file.
    const std::optional<std::vector<std::string>> files = FilesFromDropletArguments(argc, argv);
    const std::string program =
        platform::ProgramBeside(argc > 0 ? argv[0] : nullptr, kCommandLineProgramName)
            .value_or(kCommandLineProgramName);
    return RunQtProgram(1, argv, "spatialmux", [&files, &program](int, char**) {
        platform::QtBackend backend;
        platform::InstallBackend(&backend);
        int status = 0;
        {
            QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                               QStringLiteral("spatialmux"), QStringLiteral("spatialmux-gui"));
            DesktopQueueDialogs dialogs;
            QueueWindow window(program, settings, dialogs, QThread::idealThreadCount());
            // A stop signal ends the program as Ctrl-C ends a batch: every
            // conversion stopped and cleaned up first.
            StopSignalNotifier stops([&window](int signal) {
                window.StopAll();
                QApplication::exit(128 + signal);
            });
            window.show();
            if (files) window.AddPaths(*files);
            if (!QFileInfo(QString::fromStdString(program)).isExecutable()) {
                QTimer::singleShot(0, &window, [&window, &program] {
                    window.Alert(QueueText("gui.alert.noprogram", {{"{program}", program}}));
                });
            }
            status = QApplication::exec();
        }
        platform::InstallBackend(nullptr);
        return status;
    });
}

}  // namespace spatialmux
