#include "shell/FileOpenEvents.h"

#include <utility>

#include <QEvent>
#include <QFileOpenEvent>
#include <QMetaObject>

namespace spatialmux {

FileOpenEvents::FileOpenEvents(Receiver receiver_, QObject* parent)
    : QObject(parent), receiver(std::move(receiver_)) {}

bool FileOpenEvents::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FileOpen) return QObject::eventFilter(watched, event);
    const QString file = static_cast<QFileOpenEvent*>(event)->file();
    // Only local files can be converted; anything else (a URL handed to
    // the application) is taken and dropped.
    if (file.isEmpty()) return true;
    pending.push_back(file.toStdString());
    if (!handOverQueued) {
        // Queued behind the events already waiting, so that the other
        // files of the same drop join this one.
        handOverQueued = true;
        QMetaObject::invokeMethod(
            this, [this] { HandOver(); }, Qt::QueuedConnection);
    }
    return true;
}

void FileOpenEvents::HandOver() {
    handOverQueued = false;
    std::vector<std::string> files = std::move(pending);
    pending.clear();
    if (!files.empty() && receiver) receiver(files);
}

}  // namespace spatialmux
