#pragma once
// Runs the spatialmux program as a user would and collects what it said.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestEngine.h"

namespace spatialmux::testing {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs `prefix` (shell words such as "ulimit -f 100;") then the program with
// `arguments`, with standard input closed (and --remux first when the
// tests run against the remux engine).
inline ProgramRun RunProgram(const std::vector<std::string>& arguments,
                             const std::string& prefix = "") {
    TempDir scratch;
    std::string command = prefix + " exec " + ShellQuote(SPATIALMUX_BINARY);
    if (TestsForceRemux()) command += " --remux";
    for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
    command +=
        " </dev/null >" + ShellQuote(scratch.Path("out")) + " 2>" + ShellQuote(scratch.Path("err"));
    const int raw = std::system(("/bin/bash -c " + ShellQuote(command)).c_str());
    ProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto out = ReadFileBytes(scratch.Path("out"));
    const auto err = ReadFileBytes(scratch.Path("err"));
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

}  // namespace spatialmux::testing
