#include "platform/qt/QtBackend.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QPushButton>
#include <QThread>

#include "platform/LocalizedStrings.h"

namespace spatialmux::platform {

namespace {

// Wakes the GUI thread's event processing with an empty event, so that a
// wait for detached threads notices the end of one at once.
void WakeGuiThread() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
    }
}

}  // namespace

QtBackend::QtBackend()
    : mainThreadContext(std::make_unique<QObject>()),
      terminationContext(std::make_unique<QObject>()) {}

QtBackend::~QtBackend() {
    if (QCoreApplication::instance() != nullptr && IsMainThread()) WaitForDetachedThreads();
    std::list<std::shared_ptr<TrackedThread>> remaining;
    {
        std::lock_guard<std::mutex> lock(threadsMutex);
        remaining.swap(threads);
    }
    for (const auto& tracked : remaining) {
        if (tracked->thread.joinable()) tracked->thread.join();
    }
}

void QtBackend::ShowAlert(const std::string& text) {
    if (IsMainThread()) {
        PresentAlert(text);
    } else {
        RunOnMainThreadAndWait([this, &text] { PresentAlert(text); });
    }
}

namespace {

void RunMessageBox(const std::string& text, QMessageBox::Icon icon, const std::string& subject) {
    QMessageBox box;
    const QString title = QString::fromUtf8(LocalizedString("progress.title"));
    box.setWindowTitle(subject.empty()
                           ? title
                           : QFile::decodeName(subject.c_str()) + QStringLiteral(" – ") + title);
    box.setIcon(icon);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text));
    QPushButton* ok =
        box.addButton(QString::fromUtf8(LocalizedString("ok")), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

}  // namespace

void QtBackend::PresentAlert(const std::string& text) {
    RunMessageBox(text, QMessageBox::Warning, Subject());
}

void QtBackend::ShowNotice(const std::string& text) {
    if (IsMainThread()) {
        PresentNotice(text);
    } else {
        RunOnMainThreadAndWait([this, &text] { PresentNotice(text); });
    }
}

void QtBackend::SetSubject(const std::string& name) {
    std::lock_guard<std::mutex> lock(subjectMutex);
    subject = ControlsEscaped(name);
}

std::string QtBackend::Subject() {
    std::lock_guard<std::mutex> lock(subjectMutex);
    return subject;
}

void QtBackend::PresentNotice(const std::string& text) {
    RunMessageBox(text, QMessageBox::Information, Subject());
}

void QtBackend::PostToMainThread(std::function<void()> work) {
    QMetaObject::invokeMethod(mainThreadContext.get(), std::move(work), Qt::QueuedConnection);
}

void QtBackend::RunOnMainThreadAndWait(std::function<void()> work) {
    if (IsMainThread()) {
        work();
    } else {
        QMetaObject::invokeMethod(mainThreadContext.get(), std::move(work),
                                  Qt::BlockingQueuedConnection);
    }
}

void QtBackend::DetachThread(std::function<void()> work) {
    auto tracked = std::make_shared<TrackedThread>();
    std::lock_guard<std::mutex> lock(threadsMutex);
    ReapFinishedThreads();
    // The thread only touches its own entry, which it co-owns.
    tracked->thread = std::thread([tracked, job = std::move(work)]() mutable {
        job();
        job = nullptr;  // its captures are released on this thread
        tracked->finished = true;
        WakeGuiThread();
    });
    threads.push_back(std::move(tracked));
}

void QtBackend::ReapFinishedThreads() {
    for (auto it = threads.begin(); it != threads.end();) {
        if ((*it)->finished.load()) {
            if ((*it)->thread.joinable()) (*it)->thread.join();
            it = threads.erase(it);
        } else {
            ++it;
        }
    }
}

int QtBackend::RunningThreadCount() {
    std::lock_guard<std::mutex> lock(threadsMutex);
    ReapFinishedThreads();
    return static_cast<int>(threads.size());
}

void QtBackend::WaitForDetachedThreads() {
    while (RunningThreadCount() > 0) {
        // Every ending thread posts an event, so this wait cannot miss one.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void QtBackend::RequestTermination() {
    // exit() rather than quit(): quitting would first offer every window a
    // close, and closing the progress window means Cancel.
    QMetaObject::invokeMethod(
        terminationContext.get(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtBackend::DropPendingTermination() {
    QCoreApplication::removePostedEvents(terminationContext.get(), QEvent::MetaCall);
}

bool QtBackend::IsMainThread() const {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace spatialmux::platform
