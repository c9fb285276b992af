#include "shell/DesktopOpener.h"

#include <memory>

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#ifdef SPATIALMUX_WITH_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

#include "platform/PathParts.h"

namespace spatialmux {

namespace {
// xdg-open that ends with an error this late ran an application, which the
// user saw; its exit status is that application's, not a failure to open.
constexpr qint64 kOpenedAfterMilliseconds = 2000;
constexpr int kFileManagerTimeoutMilliseconds = 5000;
}  // namespace

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
    QElapsedTimer began;
    began.start();
    connect(opener, &QProcess::finished, this,
            [finish, began](int code, QProcess::ExitStatus status) {
                finish((status == QProcess::NormalExit && code == 0) ||
                       began.elapsed() >= kOpenedAfterMilliseconds);
            });
    connect(opener, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) finish(false);
    });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->start(xdgOpen, {file});
}

void DesktopOpener::ShowItem(const std::string& path, std::function<void(bool)> done) {
    const std::string folder = platform::FolderOf(path);
#ifdef SPATIALMUX_WITH_QTDBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(QFile::decodeName(path.c_str())).toString()}
             << QString();
        auto* watcher =
            new QDBusPendingCallWatcher(bus.asyncCall(call, kFileManagerTimeoutMilliseconds), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, folder, done](QDBusPendingCallWatcher* answered) {
                    answered->deleteLater();
                    if (answered->isError()) {
                        Open(folder, done);
                    } else {
                        done(true);
                    }
                });
        return;
    }
#endif
    Open(folder, std::move(done));
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
