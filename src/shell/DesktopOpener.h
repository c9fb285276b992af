#pragma once
// A file or folder opened with the desktop's application for it (the
// picture viewer for a sound map, the file manager for a folder). On a
// Linux desktop that is xdg-open, whose failure (no application for the
// type) shows only in its exit status; elsewhere Qt's desktop services.
// A file shown in its folder is selected there by a file manager that
// offers it (org.freedesktop.FileManager1 ShowItems on the session bus).

#include <functional>
#include <list>
#include <memory>
#include <string>

#include <QObject>

class QProcess;

namespace spatialmux {

class DesktopOpener : public QObject {
public:
    explicit DesktopOpener(QObject* parent = nullptr);
    ~DesktopOpener() override;

    // Hands `path` to the desktop; `done` runs on the GUI thread with true
    // once it was opened, false when nothing could open it. With xdg-open
    // running the application itself, that is when the application ends:
    // one that ran for a while and then exited with an error status was
    // opened all the same.
    void Open(const std::string& path, std::function<void(bool opened)> done);
    // Shows the file `path` selected in the desktop's file manager; where
    // none offers that, opens its folder. `done` as for Open.
    void ShowItem(const std::string& path, std::function<void(bool opened)> done);
    // Open, returning its answer; events go on being handled meanwhile.
    bool OpenAndWait(const std::string& path);

private:
    std::list<std::unique_ptr<QProcess>> running;
};

}  // namespace spatialmux
