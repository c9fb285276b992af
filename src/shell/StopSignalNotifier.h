#pragma once
// SIGTERM, SIGHUP and SIGINT for the windowed converter: a session ended by
// its desktop or terminal ends like a Cancel (the conversion stops and
// removes its hidden files) instead of dying with them left behind. The
// signals arrive as bytes on a pipe that the event loop watches.

#include <QObject>
#include <QSocketNotifier>
#include <functional>

#include "platform/StopSignals.h"

namespace spatialmux {

class StopSignalNotifier : public QObject {
    Q_OBJECT
public:
    // `onStop` runs on the main thread with the signal's number.
    explicit StopSignalNotifier(std::function<void(int)> onStop);

private:
    platform::StopSignalWatch watch;
    QSocketNotifier notifier;
    std::function<void(int)> stop;
};

}  // namespace spatialmux
