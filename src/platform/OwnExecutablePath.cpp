#include "platform/OwnExecutablePath.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace spatialmux::platform {

namespace fs = std::filesystem;

std::string OwnExecutablePath(const char* argv0) {
    std::error_code error;
    // Linux names the file the process was started from, whatever the
    // caller put into argv[0].
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) return self.string();

    if (argv0 == nullptr || *argv0 == '\0') return {};
    const std::string name(argv0);
    if (name.find('/') != std::string::npos) {
        const fs::path absolute = fs::absolute(name, error);
        return error ? name : absolute.string();
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    const std::string folders(path);
    std::size_t begin = 0;
    while (begin <= folders.size()) {
        std::size_t end = folders.find(':', begin);
        if (end == std::string::npos) end = folders.size();
        // An empty entry in PATH is the current folder.
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
        const fs::path candidate = fs::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            const fs::path absolute = fs::absolute(candidate, error);
            return error ? candidate.string() : absolute.string();
        }
        begin = end + 1;
    }
    return {};
}

}  // namespace spatialmux::platform
