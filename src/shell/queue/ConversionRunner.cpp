#include "shell/queue/ConversionRunner.h"

#include <csignal>
#include <filesystem>
#include <system_error>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

#include "control/batch/ChildConversion.h"
#include "control/binaural/BinauralCommand.h"
#include "control/job/ProgressEvents.h"
#include "control/job/ProgressProtocol.h"
#include "control/movieinfo/MovieCheck.h"
#include "platform/ExclusiveFile.h"
#include "shell/queue/ProgramRun.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {

// How long a stopped child may take to clean up before it is killed (its
// files are then removed here), as in a batch.
constexpr int kStopGraceMilliseconds = 10000;
constexpr int kTickMilliseconds = 500;
// Movies checked by one run of --check.
constexpr std::size_t kCheckedAtOnce = 64;

// The check's verdict on one movie (a line of `spatialmux --check --json`).
void TakeCheck(ConversionQueue& queue, int id, const std::string& line) {
    const CheckVerdict verdict = VerdictOfCheck(line);
    if (verdict.alreadyReady) {
        queue.CheckedReady(id, verdict.duration);
    } else {
        queue.Checked(id, verdict.convertible, verdict.duration, verdict.whyNot, verdict.needs);
    }
}

}  // namespace

CheckVerdict VerdictOfCheck(const std::string& jsonLine) {
    const QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(jsonLine)).object();
    const std::string kind = report.value(QLatin1String("kind")).toString().toStdString();
    const std::string spatial = report.value(QLatin1String("spatial")).toString().toStdString();
    CheckVerdict verdict;
    const QJsonValue seconds =
        report.value(QLatin1String("video")).toObject().value(QLatin1String("duration"));
    if (seconds.isDouble()) verdict.duration = seconds.toDouble();
    // A movie there only in part is named so, whatever else was found.
    const qint64 cutShortAt = report.value(QLatin1String("cutShortAt")).toInteger(0);
    if (cutShortAt > 0) {
        verdict.whyNot = QueueText("skip.cutshort", {{"{byte}", std::to_string(cutShortAt)}});
    } else if (kind == kKindCameraMovie && report.value(QLatin1String("convertible")).toBool()) {
        verdict.convertible = true;
    } else if (kind == kKindCameraMovie) {
        const std::string reason = report.value(QLatin1String("reason")).toString().toStdString();
        verdict.whyNot = QueueText("skip.notconvertible", {{"{reason}", reason}});
    } else if (kind == kKindOtherMovie && report.value(QLatin1String("ready")).toBool()) {
        verdict.alreadyReady = true;
    } else if (kind == kKindOtherMovie &&
               (spatial == kSpatialDeclared || spatial == kSpatialUndeclared)) {
        // The conversion makes it ready (or says why not), once the user
        // has said what the movie leaves unsaid: what its four channels
        // are, and that a video without 360 metadata (neither V1 nor V2)
        // is equirectangular 360.
        verdict.convertible = true;
        verdict.needs.channels = spatial == kSpatialUndeclared;
        const QJsonValue v1 = report.value(QLatin1String("sphericalV1"));
        const QJsonValue v2 = report.value(QLatin1String("sphericalV2"));
        verdict.needs.projection =
            v1.isNull() && v2.isObject() && !v2.toObject().value(QLatin1String("sv3d")).toBool();
    } else {
        verdict.whyNot = QueueText(kind == kKindOtherMovie ? "skip.notcamera" : "skip.notmovie");
    }
    return verdict;
}

struct ConversionRunner::Conversion {
    int id = 0;
    std::unique_ptr<ProgramRun> run;
    std::optional<ProgressEvent> end;
    std::string lastText;  // the last line for people on its standard error
    QTimer killer;
    // What lay at the partial name when it started: not the child's, so
    // its clean-up leaves it.
    std::optional<platform::FileIdentity> partialFound;
    std::string sound;     // a render's output
    bool stopped = false;  // a render that was asked to stop
};

ConversionRunner::ConversionRunner(ConversionQueue& conversionQueue, std::string programPath,
                                   int slotCount, QObject* parent)
    : QObject(parent),
      queue(conversionQueue),
      program(std::move(programPath)),
      atOnce(std::max(1, slotCount)) {
    rate.emplace(nullptr);
    ticker.setInterval(kTickMilliseconds);
    connect(&ticker, &QTimer::timeout, this, [this] { Tick(); });
}

ConversionRunner::~ConversionRunner() {
    runEnded = nullptr;
    listenEnded = nullptr;
    StopAllAndWait();
}

void ConversionRunner::Check(const std::vector<int>& ids) {
    for (std::size_t first = 0; first < ids.size(); first += kCheckedAtOnce) {
        const std::vector<int> part(ids.begin() + static_cast<std::ptrdiff_t>(first),
                                    ids.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                      ids.size(), first + kCheckedAtOnce)));
        std::vector<std::string> arguments = {"--check", "--json", "--"};
        for (int id : part) {
            if (const QueueRow* row = queue.Find(id)) arguments.push_back(row->input);
        }
        checks.push_back(std::make_unique<ProgramRun>());
        ProgramRun* run = checks.back().get();
        run->OnEnd([this, part, run](const ProgramEnd& end) {
            Checked(part, end);
            QMetaObject::invokeMethod(
                this,
                [this, run] { checks.remove_if([run](const auto& r) { return r.get() == run; }); },
                Qt::QueuedConnection);
        });
        run->Start(program, arguments);
    }
}

void ConversionRunner::Checked(const std::vector<int>& ids, const ProgramEnd& end) {
    // One line per movie, in the order given.
    std::size_t begin = 0;
    for (int id : ids) {
        const std::size_t newline = end.output.find('\n', begin);
        if (newline == std::string::npos) break;
        TakeCheck(queue, id, end.output.substr(begin, newline - begin));
        begin = newline + 1;
    }
    // A check that ended early leaves the rest unanswered.
    const std::string cause = end.started ? LastTextLine(end.errorTail) : end.problem;
    for (int id : ids) {
        queue.Checked(id, false, std::nullopt, QueueText("skip.checkfailed", {{"{cause}", cause}}));
    }
}

void ConversionRunner::Run(const std::string& audioCodec) {
    audio = audioCodec;
    if (conversions.empty()) {
        began = std::chrono::steady_clock::now();
        rate.emplace(nullptr);
    }
    running = true;
    Fill();
    ticker.start();
    Tick();
    EndRunIfDone();
}

void ConversionRunner::EndRunIfDone() {
    if (!running || Busy()) return;
    running = false;
    ticker.stop();
    if (runEnded) runEnded();
}

void ConversionRunner::Fill() {
    while (conversions.size() < static_cast<std::size_t>(atOnce)) {
        const std::optional<int> next = queue.NextWaiting();
        if (!next) break;
        Start(*next);
    }
}

std::unique_ptr<ConversionRunner::Conversion> ConversionRunner::NewChild(int id, EndHandler ended) {
    auto child = std::make_unique<Conversion>();
    Conversion& c = *child;
    c.id = id;
    c.run = std::make_unique<ProgramRun>();
    c.killer.setSingleShot(true);
    c.killer.setInterval(kStopGraceMilliseconds);
    connect(&c.killer, &QTimer::timeout, this, [&c] { c.run->Signal(SIGKILL); });
    c.run->OnErrorLine([this, &c](const std::string& line) { Heard(c, line); });
    c.run->OnEnd([this, &c, ended](const ProgramEnd& end) { (this->*ended)(c, end); });
    return child;
}

void ConversionRunner::Start(int id) {
    const QueueRow* row = queue.Find(id);
    if (row == nullptr) return;
    auto conversion = NewChild(id, &ConversionRunner::Ended);
    Conversion& c = *conversion;
    c.partialFound = platform::IdentityOfPath(row->plan.partial);
    const std::vector<std::string> arguments = ChildArgumentsOf(*row, audio);
    conversions.push_back(std::move(conversion));
    queue.Started(id);
    c.run->Start(program, arguments);
}

void ConversionRunner::Heard(Conversion& c, const std::string& line) {
    const std::optional<ProgressEvent> event = ParseProgressLine(line);
    if (!event) {
        if (!LastTextLine(line).empty()) c.lastText = line;
    } else if (event->kind == ProgressEvent::Kind::Progress) {
        if (c.sound.empty()) {
            queue.Progressed(c.id, event->percent, event->phase);
        } else {
            queue.ListenProgressed(c.id, event->percent);
        }
    } else if (event->kind == ProgressEvent::Kind::End) {
        c.end = event;
    }
}

bool ConversionRunner::Listen(int id, const std::string& movie, const std::string& sound) {
    for (const auto& r : renders) {
        if (r->id == id) return false;
    }
    // A render of this name killed before its clean-up (a window killed
    // outright) left its lock and hidden file: they go before the next.
    RemoveBinauralLeftovers(sound);
    auto render = NewChild(id, &ConversionRunner::Listened);
    Conversion& r = *render;
    r.sound = sound;
    renders.push_back(std::move(render));
    queue.ListenStarted(id);
    r.run->Start(program, {"--progress=machine", "--binaural", "--", movie, sound});
    return true;
}

void ConversionRunner::StopListening(int id) {
    for (const auto& r : renders) {
        if (r->id != id || r->killer.isActive()) continue;
        r->stopped = true;
        // As Ctrl-C stops the render: it removes its hidden files and exits.
        r->run->Signal(SIGTERM);
        r->killer.start();
    }
}

void ConversionRunner::Listened(Conversion& r, const ProgramEnd& end) {
    r.killer.stop();
    namespace protocol = progress_protocol;
    ListenEnd result;
    result.sound = r.sound;
    result.written =
        end.started && end.exitStatus == 0 && r.end && r.end->result == protocol::kConverted;
    if (!result.written) {
        // The render removes its own files; one that was killed could not.
        RemoveBinauralLeftovers(r.sound);
        result.stopped = r.stopped;
        if (!end.started) {
            result.cause = end.problem;
        } else {
            result.cause = r.end ? r.end->message : std::string();
            if (result.cause.empty()) result.cause = r.lastText;
            if (result.cause.empty()) {
                result.cause = QueueText(
                    "gui.failed.status",
                    {{"{status}", end.crashed ? "signal" : std::to_string(end.exitStatus)}});
            }
        }
    }
    queue.ListenEnded(r.id);
    if (listenEnded) listenEnded(r.id, result);
    // The run is forgotten once its own call has returned.
    Conversion* ended = &r;
    QMetaObject::invokeMethod(
        this,
        [this, ended] {
            renders.remove_if([ended](const auto& entry) { return entry.get() == ended; });
        },
        Qt::QueuedConnection);
}

void ConversionRunner::Ended(Conversion& c, const ProgramEnd& end) {
    c.killer.stop();
    const QueueRow* row = queue.Find(c.id);
    if (row != nullptr) {
        BatchItem plan = row->plan;
        plan.partialFound = c.partialFound;
        namespace protocol = progress_protocol;
        if (row->cancelRequested) {
            // The child removed its own files; one that was killed could not.
            RemoveLeftovers(plan);
            queue.Cancelled(c.id);
        } else if (!end.started) {
            queue.Failed(c.id, QueueText("gui.failed.start", {{"{cause}", end.problem}}));
        } else if (end.exitStatus == 0 && c.end && c.end->result == protocol::kConverted) {
            std::string why;
            if (PlaceFinishedOutput(plan, row->replace, &why)) {
                std::error_code error;
                const auto size = std::filesystem::file_size(plan.output, error);
                queue.Converted(c.id,
                                error ? c.end->size.value_or(0) : static_cast<uint64_t>(size));
            } else {
                queue.Failed(c.id, QueueText("gui.failed.place", {{"{cause}", why}}));
            }
        } else {
            RemoveLeftovers(plan);
            std::string message = c.end ? c.end->message : std::string();
            if (message.empty()) message = c.lastText;
            if (message.empty()) {
                message = QueueText(
                    "gui.failed.status",
                    {{"{status}", end.crashed ? "signal" : std::to_string(end.exitStatus)}});
            }
            queue.Failed(c.id, message);
        }
    }
    // The run is forgotten once its own call has returned.
    Conversion* ended = &c;
    QMetaObject::invokeMethod(
        this,
        [this, ended] {
            conversions.remove_if([ended](const auto& entry) { return entry.get() == ended; });
            Fill();
            Tick();
            EndRunIfDone();
        },
        Qt::QueuedConnection);
}

void ConversionRunner::Stop(Conversion& c) {
    if (c.killer.isActive()) return;
    // As Ctrl-C stops a conversion: it ends its job, removes its hidden
    // files and exits.
    c.run->Signal(SIGTERM);
    c.killer.start();
}

void ConversionRunner::Cancel(int id) {
    if (queue.RequestCancel(id)) {
        EndRunIfDone();
        return;
    }
    for (const auto& c : conversions) {
        if (c->id == id) Stop(*c);
    }
}

void ConversionRunner::CancelAll() {
    // The waiting ones first, so that no slot that frees up starts another.
    for (const QueueRow& row : std::vector<QueueRow>(queue.Rows())) {
        if (row.state == RowState::Waiting) queue.RequestCancel(row.id);
    }
    for (const auto& c : conversions) {
        queue.RequestCancel(c->id);
        Stop(*c);
    }
    EndRunIfDone();
}

void ConversionRunner::StopAllAndWait() {
    CancelAll();
    for (const auto& r : renders) StopListening(r->id);
    while (!conversions.empty() || !renders.empty()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    }
    checks.clear();
}

double ConversionRunner::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

std::optional<double> ConversionRunner::SecondsLeft() const {
    const RunTotals totals = queue.Totals();
    const std::optional<double> bytesPerSecond = rate->Rate();
    if (!bytesPerSecond || *bytesPerSecond <= 0.0 || totals.bytes < totals.bytesDone) {
        return std::nullopt;
    }
    return static_cast<double>(totals.bytes - totals.bytesDone) / *bytesPerSecond;
}

void ConversionRunner::Tick() {
    const RunTotals totals = queue.Totals();
    rate->Update(Seconds(), BatchTotals{totals.done, totals.files, totals.bytesDone, totals.bytes});
}

}  // namespace spatialmux
