#pragma once
// The operations of the host platform that the conversion needs: modal
// alerts, work handed to the main thread, detached work and the request to
// end the application. A console back end serves the command line and the
// tests; the windowed front end installs its own.

#include <functional>
#include <string>

namespace spatialmux::platform {

class Backend {
public:
    virtual ~Backend() = default;

    // Shows a modal alert with the one button "OK" and returns when it has
    // been dismissed. May be called from any thread; the back end runs the
    // alert on its main thread and blocks the caller until then.
    virtual void ShowAlert(const std::string& text) = 0;
    // Shows a modal message that reports good news (a finished job) with
    // the one button "OK"; by default the same as an alert.
    virtual void ShowNotice(const std::string& text) { ShowAlert(text); }
    // The file the alerts and notices from now on are about (a windowed
    // back end names it in their title); "" for none.
    virtual void SetSubject(const std::string& /*name*/) {}
    // Runs `work` on the main thread without waiting for it. Work posted from
    // one thread runs in the order posted.
    virtual void PostToMainThread(std::function<void()> work) = 0;
    // Runs `work` on the main thread and returns when it has finished.
    virtual void RunOnMainThreadAndWait(std::function<void()> work) = 0;
    // Runs `work` on a new thread and returns at once.
    virtual void DetachThread(std::function<void()> work) = 0;
    // Asks the application to end. Returns; the application ends when its
    // main loop next gets the chance (at once where there is none).
    virtual void RequestTermination() = 0;
    virtual bool IsMainThread() const = 0;
};

// The back end in use; the console back end until another is installed.
Backend& CurrentBackend();
// Installs `backend` (not owned; it must outlive its use). nullptr restores
// the console back end.
void InstallBackend(Backend* backend);

}  // namespace spatialmux::platform
