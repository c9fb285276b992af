#pragma once
// The program run on a small tmpfs mounted in a private mount namespace of
// its own, so that the volume vanishes with the run and needs no clean-up.
// Not every machine allows it (it needs root and unshare); the caller then
// skips its test.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux::testing {

struct VolumeRun {
    bool mounted = false;
    ProgramRun run;
    std::vector<std::string> left;  // what the volume held afterwards
};

// The folder the volume of RunOnSmallVolume is mounted on, for the
// arguments that name files on it.
inline std::string SmallVolumePath(const TempDir& dir) {
    return dir.Path("volume");
}

// Mounts a tmpfs with `mountOptions` ("size=1m,ro") on SmallVolumePath(dir)
// and runs the program there with `arguments` (--remux first when the tests
// run against the remux engine) and the shell words `environment`.
inline VolumeRun RunOnSmallVolume(const TempDir& dir, const std::string& mountOptions,
                                  const std::vector<std::string>& arguments,
                                  const std::string& environment) {
    const std::string volume = SmallVolumePath(dir);
    std::filesystem::create_directories(volume);
    std::string program = ShellQuote(SPATIALMUX_BINARY);
    if (TestsForceRemux()) program += " --remux";
    for (const std::string& argument : arguments) program += " " + ShellQuote(argument);
    const std::string report = ShellQuote(dir.Root().string());
    const std::string script = "mount -t tmpfs -o " + mountOptions + " spatialmux-test " +
                               ShellQuote(volume) + " || exit 99; " + program + " </dev/null >" +
                               report + "/out 2>" + report + "/err; status=$?; ls -A " +
                               ShellQuote(volume) + " >" + report + "/left; exit $status";
    const std::string command = environment +
                                " unshare --mount --propagation private /bin/bash -c " +
                                ShellQuote(script) + " 2>/dev/null";
    const int raw = std::system(("/bin/bash -c " + ShellQuote(command)).c_str());
    VolumeRun result;
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (status == 99 || !std::filesystem::exists(dir.Path("left"))) return result;
    result.mounted = true;
    result.run.status = status;
    const auto out = ReadFileBytes(dir.Path("out"));
    const auto err = ReadFileBytes(dir.Path("err"));
    result.run.out.assign(out.begin(), out.end());
    result.run.err.assign(err.begin(), err.end());
    std::ifstream left(dir.Path("left"));
    for (std::string name; std::getline(left, name);) {
        if (!name.empty()) result.left.push_back(name);
    }
    for (const char* name : {"out", "err", "left"}) std::filesystem::remove(dir.Path(name));
    return result;
}

}  // namespace spatialmux::testing
