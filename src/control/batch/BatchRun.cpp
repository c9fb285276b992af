#include "control/batch/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "control/movieinfo/AnyFoaMovie.h"
#include "control/batch/BatchPlan.h"
#include "control/batch/BatchProgress.h"
#include "control/batch/ChildConversion.h"
#include "control/job/EngineChoice.h"
#include "control/job/HumanSize.h"
#include "control/job/OutputFormat.h"
#include "control/job/ProgressEvents.h"
#include "control/job/SpaceNeeded.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/MediaProbe.h"
#include "platform/ChildProcess.h"
#include "platform/ExclusiveFile.h"
#include "platform/ExecutablePath.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/StopSignalFlag.h"
#include "platform/StopSignals.h"

namespace spatialmux {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// How long the children may take to clean up after a forwarded stop signal
// before they are killed (the batch then removes what they left).
constexpr double kStopGraceSeconds = 10.0;
constexpr int kWaitMilliseconds = 200;
// What is kept of a child's messages: enough for its last lines.
constexpr std::size_t kKeptOutput = 16 * 1024;

enum class Outcome { Converted, Skipped, Failed, Stopped };

struct Result {
    std::size_t index;  // in the plan
    std::string name;
    Outcome outcome;
    std::string reason;
};

struct Running {
    std::size_t index = 0;
    uint64_t need = 0;  // the free space held for it while it runs
    platform::ChildProcess child;
    bool outputOpen = true;
    std::string line;     // its unfinished line
    std::string printed;  // the last of its messages for people
    double percent = 0.0;
    // Its end as the protocol's last line says it; nothing when it ended
    // without one (killed, crashed).
    std::optional<ProgressEvent> end;
    Clock::time_point began;
};

// What became of the next movie when the batch tried to start it.
enum class Turn { Done, Waits };

class BatchRunner {
public:
    BatchRunner(const BatchRequest& batchRequest, BatchPlan batchPlan, std::string ownProgram,
                output::AudioCodec codec)
        : request(batchRequest),
          plan(std::move(batchPlan)),
          program(std::move(ownProgram)),
          audioCodec(codec),
          progress(stderr) {}

    int Run();

private:
    // Starts the movie's conversion, or reports it skipped or failed (Done),
    // or leaves it for later while the free space is held for others (Waits).
    Turn StartOrSkip(std::size_t index);
    // The free space the movie's conversion needs; nothing when unknown.
    std::optional<uint64_t> NeedOf(std::size_t index);
    // False (with the movie reported or said to wait) when the free space,
    // less what the running conversions hold, is below `need`.
    bool RoomFor(const BatchItem& item, uint64_t need, Turn* turn);
    void Finish(Running& running, const platform::ChildEnd& end);
    void Report(const BatchItem& item, Outcome outcome, const std::string& reason);
    void ForwardStop(int signal);
    void ReadChild(Running& running);
    // One whole line of the child's output: a line of the protocol, or one
    // for people, kept.
    void TakeLine(Running& running, const std::string& line);
    // Why a child that did not convert its movie failed, in a few words.
    std::string FailureOf(const Running& running, const platform::ChildEnd& end);
    BatchTotals Totals() const;
    void PrintSummary(std::size_t notStarted);

    const BatchRequest& request;
    BatchPlan plan;
    std::string program;
    output::AudioCodec audioCodec;
    BatchProgress progress;
    std::vector<Running> running;
    std::vector<Result> results;
    uint64_t bytesFinished = 0;  // of the inputs that are done, whatever the outcome
    uint64_t bytesWritten = 0;   // of the outputs
    int stopSignal = 0;
    Clock::time_point began = Clock::now();
    std::optional<Clock::time_point> stopAt;
    bool killed = false;
    // The need of the movie that is next, worked out once; whether it was
    // said that it waits.
    std::optional<std::size_t> needIndex;
    std::optional<uint64_t> need;
    bool waitSaid = false;
};

void BatchRunner::Report(const BatchItem& item, Outcome outcome, const std::string& reason) {
    progress.Clear();
    switch (outcome) {
        case Outcome::Converted:
            std::printf("converted %s -> %s %s\n", item.name.c_str(), item.output.c_str(),
                        reason.c_str());
            break;
        case Outcome::Skipped:
            std::printf("skipped %s: %s\n", item.name.c_str(), reason.c_str());
            break;
        case Outcome::Failed:
            std::printf("failed %s: %s\n", item.name.c_str(), reason.c_str());
            break;
        case Outcome::Stopped:
            std::printf("stopped %s by %s, nothing kept\n", item.name.c_str(), reason.c_str());
            break;
    }
    std::fflush(stdout);
    results.push_back({static_cast<std::size_t>(&item - plan.items.data()), item.name, outcome,
                       outcome == Outcome::Converted ? std::string() : reason});
    bytesFinished += item.inputSize;
}

std::optional<uint64_t> BatchRunner::NeedOf(std::size_t index) {
    if (needIndex != index) {
        const BatchItem& item = plan.items[index];
        needIndex = index;
        waitSaid = false;
        need =
            SpaceNeededFor(item.input, request.outputDir, UsesEditEngine(item.partial, audioCodec));
    }
    return need;
}

bool BatchRunner::RoomFor(const BatchItem& item, uint64_t needed, Turn* turn) {
    // What the running conversions will still write is not known: each holds
    // its whole need until it ends, also what it has written already, so
    // that jobs started side by side can never run the disk out together.
    const auto free = platform::CurrentFileFacts().FreeSpace(request.outputDir);
    if (!free) return true;  // the conversion finds out for itself
    uint64_t held = 0;
    for (const Running& run : running) held += run.need;
    if (*free >= held && *free - held >= needed) return true;
    const std::string needs = "it needs " + HumanSize(needed) + " of free space and " +
                              request.outputDir + " has " + HumanSize(*free);
    if (running.empty()) {
        Report(item, Outcome::Failed, "not enough free space: " + needs);
        *turn = Turn::Done;
        return false;
    }
    if (!waitSaid) {
        waitSaid = true;
        progress.Clear();
        std::printf("waiting %s: %s, %s of it held for %zu running conversion%s\n",
                    item.name.c_str(), needs.c_str(), HumanSize(held).c_str(), running.size(),
                    running.size() == 1 ? "" : "s");
        std::fflush(stdout);
    }
    *turn = Turn::Waits;
    return false;
}

Turn BatchRunner::StartOrSkip(std::size_t index) {
    const BatchItem& item = plan.items[index];
    switch (SkipBeforeStart(item, request.overwrite)) {
        case ChildSkip::OutputIsInput:
            Report(item, Outcome::Skipped,
                   "the output " + item.output + " would overwrite the input");
            return Turn::Done;
        case ChildSkip::OutputIsAnotherInput:
            Report(item, Outcome::Skipped,
                   item.output + " is one of the inputs and is not replaced");
            return Turn::Done;
        case ChildSkip::OutputExists:
            Report(item, Outcome::Skipped,
                   item.output + " already exists (--overwrite replaces it)");
            return Turn::Done;
        case ChildSkip::OutputIsFootage:
            Report(item, Outcome::Skipped,
                   item.output + " " + FootageWords(item.output) +
                       ", not even with --overwrite: name another output folder, or move it "
                       "first");
            return Turn::Done;
        case ChildSkip::None:
            break;
    }
    // Not a movie the reader takes: the conversion says why.
    const uint64_t needed = NeedOf(index).value_or(0);
    Turn turn = Turn::Done;
    if (!RoomFor(item, needed, &turn)) return turn;
    // What lies at the partial name now is not this run's: its clean-up
    // leaves it.
    plan.items[index].partialFound = platform::IdentityOfPath(item.partial);
    const std::vector<std::string> arguments =
        ChildConversionArguments(item, {{"--progress=machine"},
                                        request.audio,
                                        request.audioBitRate,
                                        RemuxForced(),
                                        request.spatial,
                                        request.rotateAudio});
    std::string why;
    auto child = platform::SpawnChild(program, arguments, &why);
    if (!child) {
        Report(item, Outcome::Failed, why);
        return Turn::Done;
    }
    Running started;
    // The child reports on its standard error, in the protocol's lines.
    child->report.Reset();
    started.index = index;
    started.need = needed;
    started.child = std::move(*child);
    started.began = Clock::now();
    running.push_back(std::move(started));
    return Turn::Done;
}

void BatchRunner::Finish(Running& run, const platform::ChildEnd& end) {
    const BatchItem& item = plan.items[run.index];
    const double seconds = SecondsSince(run.began);
    if (end.exitStatus == 0) {
        std::string why;
        std::string warning;
        if (PlaceFinishedOutput(item, request.overwrite, &why, &warning)) {
            if (!warning.empty()) {
                progress.Clear();
                std::fprintf(stderr, "spatialmux: %s\n", warning.c_str());
            }
            std::error_code error;
            const auto size = fs::file_size(item.output, error);
            const uint64_t bytes = error ? 0 : static_cast<uint64_t>(size);
            bytesWritten += bytes;
            char took[32];
            std::snprintf(took, sizeof took, "%.1f s", seconds);
            Report(item, Outcome::Converted, "(" + HumanSize(bytes) + ") in " + took);
            return;
        }
        Report(item, Outcome::Failed, why);
        return;
    }

    // The child cleans up after itself on a failure; one killed by a signal
    // cannot, so whatever it left under its hidden names goes here.
    RemoveLeftovers(item);
    // A movie cut short or damaged is named so, not as "not a camera
    // movie" or by the failure its reading ended in. (The check's reading
    // keeps libavformat's own complaints off the batch's lines.)
    SilenceMediaLog();
    const std::string cause = run.end ? run.end->cause : std::string();
    if (end.exitStatus == 1 && run.end &&
        run.end->message.find(platform::LocalizedString("alert3")) != std::string::npos) {
        const std::string damage = DamageWords(CheckMovieFile(item.input));
        Report(item, Outcome::Skipped, damage.empty() ? "not a camera movie" : damage);
        return;
    }
    // A movie that is not the camera's and cannot be converted as it is
    // (its channels or its projection not said, two audio tracks, ...).
    if (end.exitStatus == 1 && cause.rfind(kNotConvertible, 0) == 0) {
        Report(item, Outcome::Skipped, cause.substr(std::strlen(kNotConvertible)));
        return;
    }
    if (stopSignal != 0) {
        Report(item, Outcome::Stopped, platform::StopSignalFlag::Name(stopSignal));
        return;
    }
    if (const std::string damage = DamageWords(CheckMovieFile(item.input)); !damage.empty()) {
        Report(item, Outcome::Failed, damage);
        return;
    }
    Report(item, Outcome::Failed, FailureOf(run, end));
}

std::string BatchRunner::FailureOf(const Running& run, const platform::ChildEnd& end) {
    // The cause in English, else the alert it showed last: it says what
    // went wrong in the user's language.
    if (run.end && !run.end->cause.empty()) return run.end->cause;
    if (run.end && !run.end->message.empty()) return run.end->message;
    // A child that ended without the protocol's end: what it printed.
    std::vector<std::string> alerts;
    for (const char* key : {"alert1", "alert2", "alert3", "alert5", "alert7"}) {
        alerts.push_back(platform::LocalizedString(key));
    }
    std::string reason = ChildFailureReason(run.printed, alerts);
    if (reason.empty()) {
        reason =
            end.signal != 0
                ? std::string("the conversion was ended by signal ") + std::to_string(end.signal)
                : "the conversion ended with status " + std::to_string(end.exitStatus);
    }
    return reason;
}

void BatchRunner::ForwardStop(int signal) {
    if (stopSignal == 0) {
        stopSignal = signal;
        stopAt = Clock::now();
    }
    for (const Running& run : running) platform::SignalChild(run.child.pid, signal);
}

void BatchRunner::ReadChild(Running& run) {
    if (!run.outputOpen) return;
    run.outputOpen = platform::ReadAvailable(run.child.output.Get(), run.line);
    std::size_t newline;
    while ((newline = run.line.find('\n')) != std::string::npos) {
        TakeLine(run, run.line.substr(0, newline));
        run.line.erase(0, newline + 1);
    }
    if (!run.outputOpen) {
        if (!run.line.empty()) TakeLine(run, run.line);
        run.line.clear();
        run.child.output.Reset();
    } else if (run.line.size() > kKeptOutput) {
        // A line that long is for people: kept as far as it came.
        TakeLine(run, run.line);
        run.line.clear();
    }
}

void BatchRunner::TakeLine(Running& run, const std::string& line) {
    if (const auto event = ParseProgressLine(line)) {
        if (event->kind == ProgressEvent::Kind::Progress && event->percent >= 0.0 &&
            event->percent <= 100.0) {
            run.percent = event->percent;
        } else if (event->kind == ProgressEvent::Kind::End) {
            run.end = event;
        }
        return;
    }
    run.printed += line;
    run.printed += '\n';
    if (run.printed.size() > 2 * kKeptOutput) {
        run.printed.erase(0, run.printed.size() - kKeptOutput);
    }
}

BatchTotals BatchRunner::Totals() const {
    BatchTotals totals;
    totals.filesDone = static_cast<int>(results.size());
    totals.filesTotal = static_cast<int>(plan.items.size());
    totals.bytesDone = bytesFinished;
    for (const Running& run : running) {
        totals.bytesDone += static_cast<uint64_t>(
            static_cast<double>(plan.items[run.index].inputSize) * run.percent / 100.0);
    }
    for (const BatchItem& item : plan.items) totals.bytesTotal += item.inputSize;
    return totals;
}

int BatchRunner::Run() {
    platform::StopSignalWatch stops;
    std::size_t next = 0;
    for (;;) {
        // A movie that waits for free space keeps the ones behind it waiting
        // too: they start in name order.
        while (stopSignal == 0 && running.size() < static_cast<std::size_t>(request.jobs) &&
               next < plan.items.size() && StartOrSkip(next) == Turn::Done) {
            ++next;
        }
        if (running.empty()) break;

        std::vector<int> fds = {stops.Fd()};
        for (const Running& run : running) fds.push_back(run.child.output.Get());
        platform::WaitUntilReadable(fds, kWaitMilliseconds);

        for (int signal : stops.TakeReceived()) ForwardStop(signal);
        if (stopAt && !killed && SecondsSince(*stopAt) > kStopGraceSeconds) {
            for (const Running& run : running) platform::SignalChild(run.child.pid, SIGKILL);
            killed = true;
        }

        for (std::size_t i = 0; i < running.size();) {
            ReadChild(running[i]);
            if (running[i].outputOpen) {
                ++i;
                continue;
            }
            const platform::ChildEnd end = platform::WaitForChild(running[i].child.pid);
            Running done = std::move(running[i]);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            Finish(done, end);
        }
        progress.Update(SecondsSince(began), Totals());
    }
    // A stop that came while the last files were only being skipped.
    for (int signal : stops.TakeReceived()) ForwardStop(signal);
    progress.Clear();
    PrintSummary(plan.items.size() - next);

    if (stopSignal != 0) return 128 + stopSignal;
    for (const Result& result : results) {
        if (result.outcome == Outcome::Failed) return 1;
    }
    return 0;
}

void BatchRunner::PrintSummary(std::size_t notStarted) {
    // In name order, however the jobs happened to finish.
    std::sort(results.begin(), results.end(),
              [](const Result& a, const Result& b) { return a.index < b.index; });
    int counts[4] = {0, 0, 0, 0};
    for (const Result& result : results) ++counts[static_cast<int>(result.outcome)];
    std::printf("%d converted, %d skipped, %d failed", counts[0], counts[1], counts[2]);
    if (stopSignal != 0) {
        std::printf(", %d stopped, %zu not started (stopped by %s)", counts[3], notStarted,
                    platform::StopSignalFlag::Name(stopSignal));
    }
    std::printf("; %s written in %.1f s\n", HumanSize(bytesWritten).c_str(), SecondsSince(began));
    for (const Result& result : results) {
        if (result.outcome == Outcome::Skipped) {
            std::printf("  skipped %s: %s\n", result.name.c_str(), result.reason.c_str());
        }
    }
    for (const Result& result : results) {
        if (result.outcome == Outcome::Failed) {
            std::printf("  failed %s: %s\n", result.name.c_str(), result.reason.c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace

std::string ChildFailureReason(const std::string& printed,
                               const std::vector<std::string>& alertTexts) {
    // The conversion's messages do not always end their lines before the
    // next one starts: "write file name = X.waverror!! REASON".
    const std::size_t error = printed.rfind("error!! ");
    if (error != std::string::npos) {
        std::string reason = printed.substr(error + 8, printed.find('\n', error) - error - 8);
        for (const std::string& alert : alertTexts) {
            const std::size_t at = alert.empty() ? std::string::npos : reason.find(alert);
            if (at != std::string::npos) reason.resize(at);
        }
        while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r')) {
            reason.pop_back();
        }
        if (!reason.empty()) return reason;
    }
    // Else the alert it showed last: it says what went wrong in the user's
    // language.
    std::size_t lastAt = std::string::npos;
    std::string lastAlert;
    for (const std::string& alert : alertTexts) {
        const std::size_t at = alert.empty() ? std::string::npos : printed.rfind(alert);
        if (at != std::string::npos && (lastAt == std::string::npos || at > lastAt)) {
            lastAt = at;
            lastAlert = alert;
        }
    }
    if (!lastAlert.empty()) return lastAlert;

    std::string lastLine;
    std::size_t begin = 0;
    while (begin < printed.size()) {
        std::size_t end = printed.find('\n', begin);
        if (end == std::string::npos) end = printed.size();
        std::string line = printed.substr(begin, end - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        // A progress line drawn with carriage returns keeps only its last state.
        const std::size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line.erase(0, cr + 1);
        if (!line.empty()) lastLine = line;
        begin = end + 1;
    }
    return lastLine;
}

std::string BatchOutputExtension(const BatchRequest& request) {
    if (request.format == "mp4") return ".mp4";
    if (request.format == "mov") return ".mov";
    return request.audio == "aac" || request.audio == "opus" ? ".mp4" : ".mov";
}

int RunBatch(const BatchRequest& request, const char* argv0) {
    const std::string extension = BatchOutputExtension(request);
    // The codec and container are judged once for the whole batch, before
    // any child starts: every output has the same extension.
    const auto format = ChooseOutputFormat(request.outputDir + "/*" + extension, request.audio,
                                           request.audioBitRate);
    if (const auto* refusal = std::get_if<std::string>(&format)) {
        std::fprintf(stderr, "spatialmux: %s\n", refusal->c_str());
        std::fprintf(stderr, "spatialmux: nothing was converted\n");
        return 2;
    }
    BatchPlan plan = PlanBatch(request.inputs, request.outputDir, extension);
    std::error_code error;
    const fs::file_status dirStatus = fs::status(request.outputDir, error);
    if (fs::exists(dirStatus) && !fs::is_directory(dirStatus)) {
        plan.problems.push_back(request.outputDir + ": exists and is not a folder");
    }
    if (!plan.problems.empty()) {
        for (const std::string& problem : plan.problems) {
            std::fprintf(stderr, "spatialmux: %s\n", problem.c_str());
        }
        std::fprintf(stderr, "spatialmux: nothing was converted\n");
        return 2;
    }

    std::string program = platform::ExecutablePath(argv0).value_or(std::string());
    if (program.empty()) {
        std::fprintf(stderr,
                     "spatialmux: cannot find the program's own file to run the "
                     "conversions\n");
        return 1;
    }
    if (!fs::exists(dirStatus)) {
        if (!fs::create_directories(request.outputDir, error) && error) {
            std::fprintf(stderr, "spatialmux: cannot create the folder %s: %s\n",
                         request.outputDir.c_str(), error.message().c_str());
            return 1;
        }
        std::printf("created folder %s\n", request.outputDir.c_str());
    }
    if (plan.items.empty()) {
        std::printf("no movies found (folders are searched for .mp4 and .mov files)\n");
        std::fflush(stdout);
        return 0;
    }

    // A reader of the output that has gone away must not end the batch
    // before it has stopped its children and removed their hidden files.
    std::signal(SIGPIPE, SIG_IGN);
    BatchRunner runner(request, std::move(plan), std::move(program),
                       std::get<OutputFormat>(format).audio.codec);
    return runner.Run();
}

}  // namespace spatialmux
