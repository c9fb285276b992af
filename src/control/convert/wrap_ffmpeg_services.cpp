// The controller's services that every stage of a conversion uses: the
// modal alert and the progress and phase relays.
#include <algorithm>

#include "control/convert/wrap_ffmpeg.h"
#include "platform/Backend.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

void wrap_ffmpeg::myAlert(const std::string& text) {
    platform::Backend& backend = platform::CurrentBackend();
    if (backend.IsMainThread()) {
        backend.ShowAlert(text);
    } else {
        backend.RunOnMainThreadAndWait([&backend, &text] { backend.ShowAlert(text); });
    }
}

void wrap_ffmpeg::myProgRate_update(float percent) {
    platform::Notification notification;
    notification.name = platform::kProgressUpdateNotification;
    // Before any fallback the engine's own figure, as it is.
    progressShown =
        progressFrom == 0.0f
            ? percent
            : progressFrom + (100.0f - progressFrom) * std::clamp(percent, 0.0f, 100.0f) / 100.0f;
    notification.number = progressShown;
    platform::NotificationCenter::Default().PostOnMainThread(std::move(notification));
}

void wrap_ffmpeg::myPhase_update(const char* phase) {
    platform::Notification notification;
    notification.name = platform::kPhaseUpdateNotification;
    notification.text = phase;
    platform::NotificationCenter::Default().PostOnMainThread(std::move(notification));
}

}  // namespace spatialmux
