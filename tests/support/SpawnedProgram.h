#pragma once
// The spatialmux program started in the background, for tests that act on
// it while it runs (signals, a second run beside it).

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace spatialmux::testing {

class SpawnedProgram {
public:
    // Starts the program with `arguments` and the extra `environment`
    // ("NAME=value"), standard output and error into `outPath`.
    SpawnedProgram(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::string& outPath) {
        pid = fork();
        if (pid == 0) {
            for (const std::string& setting : environment) putenv(strdup(setting.c_str()));
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = open("/dev/null", O_RDONLY);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<std::string> words = {SPATIALMUX_BINARY};
            words.insert(words.end(), arguments.begin(), arguments.end());
            std::vector<char*> argv;
            for (std::string& word : words) argv.push_back(word.data());
            argv.push_back(nullptr);
            execv(SPATIALMUX_BINARY, argv.data());
            _exit(127);
        }
    }
    ~SpawnedProgram() {
        if (pid > 0 && !ended) {
            kill(pid, SIGKILL);
            Wait();
        }
    }
    SpawnedProgram(const SpawnedProgram&) = delete;
    SpawnedProgram& operator=(const SpawnedProgram&) = delete;

    void Signal(int signal) const { kill(pid, signal); }

    // Whether it ended within `seconds` (then Wait returns at once).
    bool EndsWithin(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) == pid) {
                ended = true;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // The exit status, or 1000 + the signal that killed it.
    int Wait() {
        if (ended) return status;
        int raw = 0;
        waitpid(pid, &raw, 0);
        ended = true;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
        return status;
    }

private:
    pid_t pid = -1;
    bool ended = false;
    int status = -1;
};

// Waits up to `seconds` for `path` to exist.
inline bool WaitForFile(const std::string& path, double seconds = 20.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace spatialmux::testing
