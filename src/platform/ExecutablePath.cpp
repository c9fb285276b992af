#include "platform/ExecutablePath.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace spatialmux::platform {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> AskTheSystem() {
    std::error_code error;
#if defined(__linux__)
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) return self.string();
#elif defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);  // tells the size it needs
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    if (size > 0 && _NSGetExecutablePath(buffer.data(), &size) == 0) {
        // The path may hold symbolic links and "..": the folder that counts
        // is the real one.
        const fs::path self = fs::weakly_canonical(fs::path(buffer.data()), error);
        if (!error && !self.empty()) return self.string();
    }
#endif
    return std::nullopt;
}

bool IsExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> ExecutablePathFromArgv0(const char* argv0, const char* searchPath) {
    if (argv0 == nullptr || argv0[0] == '\0') return std::nullopt;
    std::error_code error;
    if (std::strchr(argv0, '/') != nullptr) {
        const fs::path absolute = fs::absolute(argv0, error);
        if (error || !IsExecutableFile(absolute)) return std::nullopt;
        return absolute.lexically_normal().string();
    }
    if (searchPath == nullptr) return std::nullopt;
    std::string_view rest(searchPath);
    for (;;) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // An empty entry is the working directory, as for the shell.
        const fs::path candidate =
            fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), error) / argv0;
        if (!error && IsExecutableFile(candidate)) return candidate.lexically_normal().string();
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

std::optional<std::string> ExecutablePath(const char* argv0) {
    if (std::optional<std::string> asked = AskTheSystem()) return asked;
    return ExecutablePathFromArgv0(argv0, std::getenv("PATH"));
}

std::optional<std::string> ProgramBeside(const char* argv0, const std::string& name) {
    const std::optional<std::string> self = ExecutablePath(argv0);
    if (!self) return std::nullopt;
    return (fs::path(*self).parent_path() / name).string();
}

int RunProgramBesideInstead(int argc, char** argv, const std::string& name, const char* shownName,
                            std::string* tried) {
    const std::optional<std::string> beside = ProgramBeside(argc > 0 ? argv[0] : nullptr, name);
    *tried = beside.value_or(name);
    if (!beside) return ENOENT;
    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(shownName));
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    execv(beside->c_str(), arguments.data());
    return errno;
}

}  // namespace spatialmux::platform
