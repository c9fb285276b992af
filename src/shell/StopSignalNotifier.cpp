#include "shell/StopSignalNotifier.h"

namespace spatialmux {

StopSignalNotifier::StopSignalNotifier(std::function<void(int)> onStop)
    : notifier(watch.Fd(), QSocketNotifier::Read), stop(std::move(onStop)) {
    notifier.setEnabled(watch.Fd() >= 0);
    connect(&notifier, &QSocketNotifier::activated, this, [this] {
        const std::vector<int> received = watch.TakeReceived();
        if (!received.empty() && stop) stop(received.front());
    });
}

}  // namespace spatialmux
