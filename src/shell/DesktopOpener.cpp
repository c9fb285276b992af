#include "shell/DesktopOpener.h"

#include <memory>

#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace spatialmux {

DesktopOpener::DesktopOpener(QObject* parent) : QObject(parent) {}

DesktopOpener::~DesktopOpener() = default;

void DesktopOpener::Open(const std::string& path, std::function<void(bool)> done) {
    const QString file = QFile::decodeName(path.c_str());
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty()) {
        done(QDesktopServices::openUrl(QUrl::fromLocalFile(file)));
        return;
    }
    auto process = std::make_unique<QProcess>();
    QProcess* opener = process.get();
    running.push_back(std::move(process));
    // Once only: a start failure may come with a finish.
    auto answered = std::make_shared<bool>(false);
    const auto finish = [this, opener, answered, done](bool opened) {
        if (*answered) return;
        *answered = true;
        done(opened);
        QMetaObject::invokeMethod(
            this,
            [this, opener] {
                running.remove_if([opener](const auto& p) { return p.get() == opener; });
            },
            Qt::QueuedConnection);
    };
    connect(opener, &QProcess::finished, this, [finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && code == 0);
    });
    connect(opener, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) finish(false);
    });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->start(xdgOpen, {file});
}

bool DesktopOpener::OpenAndWait(const std::string& path) {
    QEventLoop loop;
    bool answered = false;
    bool opened = false;
    Open(path, [&](bool result) {
        answered = true;
        opened = result;
        loop.quit();
    });
    if (!answered) loop.exec();
    return opened;
}

}  // namespace spatialmux
