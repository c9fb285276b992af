#pragma once
// Whether the window system that Qt would pick can really be reached. Qt
// aborts the process when its platform plugin cannot connect (a DISPLAY
// that is set but has no X server behind it), so the windowed application
// asks first and explains itself instead.

#include <functional>
#include <string>

namespace spatialmux {

struct DisplayProbes {
    // True when an X server answers at `display` (the DISPLAY value).
    std::function<bool(const std::string& display)> x;
    // True when a Wayland compositor listens at the socket `path`.
    std::function<bool(const std::string& path)> wayland;
};

// The probes that really connect (libxcb for X, a Unix socket for Wayland).
// The X connection that answered stays open while the probes live: keep
// them until Qt has made its own connection.
DisplayProbes SystemDisplayProbes();

// Follows Qt's choice of platform: QT_QPA_PLATFORM when set (a list tried
// in order; any platform other than xcb and wayland is taken as usable),
// otherwise wayland first in a Wayland session, then xcb. An empty result
// means a window system can be reached; otherwise it says why not, e.g.
// "DISPLAY=:99 cannot be reached".
std::string DisplayProblem(const std::function<const char*(const char*)>& getenvFn,
                           const DisplayProbes& probes);

}  // namespace spatialmux
