#pragma once
// The files the desktop hands to the running application through Qt's
// file-open event: on macOS, a movie dropped on the application's icon in
// the Dock or the Finder, or opened with it, arrives this way and not on
// the command line. The events of one turn of the event loop (several
// movies dropped at once come one event each) reach the delegate as one
// drop, so that the delegate sees what the user did.

#include <functional>
#include <string>
#include <vector>

#include <QObject>

class QEvent;

namespace spatialmux {

class FileOpenEvents : public QObject {
public:
    using Receiver = std::function<void(const std::vector<std::string>&)>;

    // `receiver` gets each drop (typically AppDelegate::OpenFiles).
    explicit FileOpenEvents(Receiver receiver, QObject* parent = nullptr);

protected:
    // Takes the file-open events of whatever it filters (install it on the
    // application object); lets every other event pass.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void HandOver();

    Receiver receiver;
    std::vector<std::string> pending;
    bool handOverQueued = false;
};

}  // namespace spatialmux
