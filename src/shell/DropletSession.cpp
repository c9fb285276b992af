#include "shell/DropletSession.h"

#include <QApplication>
#include <QMetaObject>

#include "control/convert/wrap_ffmpeg.h"
#include "platform/LocalizedStrings.h"
#include "platform/qt/QtBackend.h"
#include "shell/AppDelegate.h"
#include "shell/FileOpenEvents.h"
#include "shell/StopSignalNotifier.h"
#include "shell/ViewController.h"

namespace spatialmux {

int RunDropletSession(platform::QtBackend& backend, SaveDialog& saveDialog,
                      const std::optional<std::vector<std::string>>& handedOver,
                      SoundMapOffer* soundMapOffer) {
    platform::InstallBackend(&backend);
    int status = 0;
    {
        ViewController window([&backend] { backend.WaitForDetachedThreads(); });
        AppDelegate delegate(saveDialog);
        delegate.SetSoundMapOffer(soundMapOffer);
        // Movies the desktop hands over while the application runs (on
        // macOS, those dropped on its icon) count as dropped files.
        FileOpenEvents fileOpen(
            [&delegate](const std::vector<std::string>& files) { delegate.OpenFiles(files); });
        QApplication::instance()->installEventFilter(&fileOpen);
        // A stop signal ends the session as a Cancel would: the event loop
        // ends with 128 + the signal's number, and the conversion (or the
        // headphone render offered after it) is stopped and cleans up.
        int stoppedBy = 0;
        StopSignalNotifier stops([&delegate, &stoppedBy](int signal) {
            stoppedBy = signal;
            if (wrap_ffmpeg::JobRunning()) wrap_ffmpeg::RequestCancel();
            delegate.StopRendering();
            QApplication::exit(128 + signal);
        });
        window.show();  // hides itself at once
        delegate.applicationDidFinishLaunching();
        if (handedOver) {
            const std::vector<std::string> files = *handedOver;
            QMetaObject::invokeMethod(
                &delegate, [&delegate, files] { delegate.OpenFiles(files); }, Qt::QueuedConnection);
        }
        status = QApplication::exec();
        // A second request to end the loop (a cancelled job's and its
        // window's) must not end the notices below as soon as they open.
        backend.DropPendingTermination();
        // Nothing is left to cancel while the notice below is up.
        window.ConversionEnded();
        // A finished conversion says where the movie went before the
        // application quits: an ending without a word would look like Cancel.
        if (wrap_ffmpeg::LastJobResult() == JobResult::Succeeded && !window.OutputPath().empty()) {
            delegate.TellWritten(window.OutputPath());
        }
        // A cancel by the user is said in a word, so that the window's
        // going away is not taken for a finished conversion.
        if (stoppedBy == 0 && window.Cancelled() &&
            wrap_ffmpeg::LastJobResult() == JobResult::Cancelled) {
            backend.ShowNotice(platform::LocalizedString("notice.cancelled"));
        }
        if (stoppedBy != 0) status = 128 + stoppedBy;

        // Whatever ended the event loop, no conversion outlives it: one still
        // running is stopped, and cleans up after itself.
        if (wrap_ffmpeg::JobRunning()) wrap_ffmpeg::RequestCancel();
        backend.WaitForDetachedThreads();
    }
    platform::InstallBackend(nullptr);
    return status;
}

}  // namespace spatialmux
