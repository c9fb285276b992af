#include "shell/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#include <memory>
#include <vector>

namespace spatialmux {

namespace {

std::string Get(const std::function<const char*(const char*)>& getenvFn, const char* name) {
    const char* value = getenvFn(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos) return parts;
        begin = end + 1;
    }
}

bool ConnectsToUnixSocket(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

DisplayProbes SystemDisplayProbes() {
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;
    // The connection stays open as long as the probes live: an X server
    // without other clients (Xvfb) resets when its last client leaves, and
    // Qt's own connection made during that reset would fail.
    auto held = std::make_shared<Connection>();
    DisplayProbes probes;
    probes.x = [held](const std::string& display) {
        // The whole connection set-up, authorisation included: what Qt's
        // xcb plugin does first.
        Connection connection(xcb_connect(display.c_str(), nullptr));
        if (!connection || xcb_connection_has_error(connection.get()) != 0) return false;
        *held = std::move(connection);
        return true;
    };
    probes.wayland = &ConnectsToUnixSocket;
    return probes;
}

std::string DisplayProblem(const std::function<const char*(const char*)>& getenvFn,
                           const DisplayProbes& probes) {
    const std::string display = Get(getenvFn, "DISPLAY");
    const std::string waylandName = Get(getenvFn, "WAYLAND_DISPLAY");
    const std::string requested = Get(getenvFn, "QT_QPA_PLATFORM");
    if (requested.empty() && display.empty() && waylandName.empty()) {
        return "neither DISPLAY nor WAYLAND_DISPLAY is set";
    }

    std::vector<std::string> problems;
    const auto xReached = [&] {
        if (display.empty()) {
            problems.push_back("DISPLAY is not set");
            return false;
        }
        if (probes.x && probes.x(display)) return true;
        problems.push_back("DISPLAY=" + display + " cannot be reached");
        return false;
    };
    const auto waylandReached = [&] {
        const std::string name = waylandName.empty() ? "wayland-0" : waylandName;
        std::string path = name;
        if (name.front() != '/') {
            const std::string runtime = Get(getenvFn, "XDG_RUNTIME_DIR");
            if (runtime.empty()) {
                problems.push_back("XDG_RUNTIME_DIR is not set for Wayland");
                return false;
            }
            path = runtime + "/" + name;
        }
        if (probes.wayland && probes.wayland(path)) return true;
        problems.push_back("WAYLAND_DISPLAY=" + name + " cannot be reached");
        return false;
    };

    std::vector<std::string> candidates;
    if (!requested.empty()) {
        candidates = Split(requested, ';');
    } else {
        if (Get(getenvFn, "XDG_SESSION_TYPE") == "wayland") {
            candidates.push_back("wayland");
        }
        candidates.push_back("xcb");
    }
    for (const std::string& candidate : candidates) {
        const std::string name = candidate.substr(0, candidate.find(':'));  // options follow ':'
        if (name == "xcb") {
            if (xReached()) return std::string();
        } else if (name.rfind("wayland", 0) == 0) {
            if (waylandReached()) return std::string();
        } else if (!name.empty()) {
            return std::string();  // offscreen, vnc, eglfs, ...: Qt's own business
        }
    }
    std::string why;
    for (const std::string& problem : problems) why += (why.empty() ? "" : "; ") + problem;
    return why.empty() ? "no window system is named" : why;
}

}  // namespace spatialmux
