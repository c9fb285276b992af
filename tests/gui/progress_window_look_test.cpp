// The progress window as the user sees it: saved as progress_window.png
// beside the test program (run under Xvfb too), with its controls laid out
// inside the window without overlapping.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include "GuiTestSupport.h"

namespace spatialmux::guitest {
namespace {

TEST(ProgressWindowLookTest, ShowsTheFilesTheBarAndCancelTidily) {
    RecordingBackend backend;
    platform::InstallBackend(&backend);
    {
        ViewController window([&backend] { backend.WaitForDetachedThreads(); });
        window.show();
        QCoreApplication::processEvents();

        platform::Notification front;
        front.name = platform::kForOrderFrontNotification;
        front.paths = {"/media/card/DCIM/100CAMERA/trip01.MP4", "/home/me/Videos/trip01.mov",
                       "/home/me/Videos/.trip01.mov.wav"};
        platform::NotificationCenter::Default().Post(front);
        platform::Notification progress;
        progress.name = platform::kProgressUpdateNotification;
        progress.number = 62.5f;
        platform::NotificationCenter::Default().Post(progress);
        QCoreApplication::processEvents();
        ASSERT_TRUE(window.isVisible());

        const QPixmap shot = window.grab();
        const QString file = QDir(QCoreApplication::applicationDirPath())
                                 .filePath(QStringLiteral("progress_window.png"));
        ASSERT_TRUE(shot.save(file, "PNG")) << file.toStdString();
        EXPECT_FALSE(QImage(file).isNull());

        auto* label = window.findChild<QLabel*>();
        auto* bar = window.findChild<QProgressBar*>();
        auto* button = window.findChild<QPushButton*>();
        ASSERT_TRUE(label != nullptr && bar != nullptr && button != nullptr);
        const QRect inside = window.rect();
        for (QWidget* control : {static_cast<QWidget*>(label), static_cast<QWidget*>(bar),
                                 static_cast<QWidget*>(button)}) {
            EXPECT_TRUE(inside.contains(control->geometry())) << control->metaObject()->className();
        }
        EXPECT_LE(label->geometry().bottom(), bar->geometry().top());
        EXPECT_LE(bar->geometry().bottom(), button->geometry().top());
        EXPECT_GE(button->width(), button->sizeHint().width());
        EXPECT_GE(label->height(), label->sizeHint().height());
        EXPECT_EQ(bar->text().toStdString(), "62.5%");

        // On a real display (Xvfb) also the screen as the window system shows it.
        if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
            for (int i = 0; i < 2000 && !window.windowHandle()->isExposed(); ++i) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                QThread::msleep(1);
            }
            EXPECT_TRUE(window.windowHandle()->isExposed());
            QCoreApplication::processEvents();
            const QPixmap screen = window.screen()->grabWindow(0);
            EXPECT_TRUE(screen.save(QDir(QCoreApplication::applicationDirPath())
                                        .filePath(QStringLiteral("progress_window_screen.png")),
                                    "PNG"));
        }
    }
    platform::InstallBackend(nullptr);
}

}  // namespace
}  // namespace spatialmux::guitest
