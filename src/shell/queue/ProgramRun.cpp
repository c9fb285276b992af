#include "shell/queue/ProgramRun.h"

#include <unistd.h>
#include <csignal>

#include <QFile>
#include <QStringList>

namespace spatialmux {

namespace {
// What is kept of the last lines of standard error, and the longest line
// taken whole (a program that writes no line end is not followed further).
constexpr std::size_t kKeptErrors = 8 * 1024;
constexpr std::size_t kLongestLine = 64 * 1024;
}  // namespace

bool IsEngineLogLine(const std::string& line) {
    // "[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55d64b489d80] moov atom not found"
    if (line.empty() || line.front() != '[') return false;
    const std::size_t close = line.find(']');
    const std::size_t at = line.find(" @ 0x");
    return close != std::string::npos && at != std::string::npos && at < close;
}

std::string LastTextLine(const std::string& text) {
    std::string last;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        if (line.find_first_not_of(" \r\t") != std::string::npos && !IsEngineLogLine(line)) {
            last = line;
        }
        begin = end + 1;
    }
    return last;
}

ProgramRun::ProgramRun(QObject* parent) : QObject(parent) {
    process.setChildProcessModifier([] { setpgid(0, 0); });
    process.setStandardInputFile(QProcess::nullDevice());
    connect(&process, &QProcess::readyReadStandardError, this, [this] { ReadErrors(); });
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this] { output += process.readAllStandardOutput().toStdString(); });
    connect(&process, &QProcess::finished, this,
            [this](int, QProcess::ExitStatus) { Ended(true, std::string()); });
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            Ended(false, process.errorString().toStdString());
        }
    });
}

ProgramRun::~ProgramRun() {
    // A run still going when its owner goes away ends with it, unheard.
    errorLine = nullptr;
    end = nullptr;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

void ProgramRun::Start(const std::string& program, const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) list << QFile::decodeName(argument.c_str());
    process.start(QFile::decodeName(program.c_str()), list);
}

bool ProgramRun::Running() const {
    return process.state() != QProcess::NotRunning;
}

void ProgramRun::Signal(int signal) {
    const qint64 pid = process.processId();
    if (pid > 0 && !ended) kill(static_cast<pid_t>(pid), signal);
}

void ProgramRun::ReadErrors() {
    pendingError += process.readAllStandardError().toStdString();
    std::size_t newline;
    while ((newline = pendingError.find('\n')) != std::string::npos) {
        const std::string line = pendingError.substr(0, newline);
        pendingError.erase(0, newline + 1);
        errorTail += line + "\n";
        if (errorTail.size() > 2 * kKeptErrors) errorTail.erase(0, errorTail.size() - kKeptErrors);
        if (errorLine) errorLine(line);
    }
    if (pendingError.size() > kLongestLine) pendingError.clear();
}

void ProgramRun::Ended(bool started, const std::string& problem) {
    if (ended) return;
    ended = true;
    if (started) {
        output += process.readAllStandardOutput().toStdString();
        ReadErrors();
        if (!pendingError.empty()) {
            pendingError += '\n';
            ReadErrors();
        }
    }
    ProgramEnd result;
    result.started = started;
    result.problem = problem;
    result.crashed = started && process.exitStatus() == QProcess::CrashExit;
    result.exitStatus = started && !result.crashed ? process.exitCode() : -1;
    result.output = std::move(output);
    result.errorTail = errorTail;
    if (end) end(result);
}

}  // namespace spatialmux
