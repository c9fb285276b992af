#include "shell/queue/RowActions.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "control/soundmap/SoundMapCommand.h"
#include "platform/PathParts.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {

bool IsConverted(const QueueRow& row) {
    return row.state == RowState::Converted;
}

// A movie to act on: the one written now, or the one an earlier run wrote.
bool HasOutput(const QueueRow& row) {
    return IsConverted(row) || (row.state == RowState::Skipped && row.outputExists);
}

// Why a helper run failed, in the child's last words.
std::string CauseOf(const ProgramEnd& run) {
    return run.started ? LastTextLine(run.errorTail) : run.problem;
}

// The map of the written movie, beside it: spatialmux --soundmap OUTPUT.
const RowAction kSoundMap = {
    "notice.soundmap", HasOutput,
    [](const QueueRow& row) {
        return std::vector<std::string>{"--soundmap", row.plan.output};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string map = DefaultSoundMapPath(row.plan.output);
        if (run.exitStatus == 0) {
            host.OpenWithDesktop(map, QueueText("alert.soundmap.open", {{"{path}", map}}));
            return;
        }
        host.Alert(QueueText("alert.soundmap", {{"{cause}", CauseOf(run)}}));
    }};

// The headphone render of the written movie, beside it, facing the front;
// the window runs it (its progress in the row) and then opens the sound in
// the desktop's player.
const RowAction kListen = {
    "notice.listen", [](const QueueRow& row) { return HasOutput(row) && !row.listening; }, nullptr,
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) { host.Listen(row.id); }};

// In the place of Listen while the render runs.
const RowAction kStopListening = {
    "action.listen.stop", [](const QueueRow& row) { return row.listening.has_value(); }, nullptr,
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) {
        host.StopListening(row.id);
    }};

const RowAction kShowInFolder = {
    "action.folder", HasOutput, nullptr,
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) {
        host.ShowInFolder(row.plan.output);
    }};

// The --check report of the output; for a file the check turned away, its
// own report says why.
const RowAction kDetails = {
    "action.details",
    [](const QueueRow& row) { return HasOutput(row) || row.state == RowState::NotConvertible; },
    [](const QueueRow& row) {
        return std::vector<std::string>{"--check", "--",
                                        HasOutput(row) ? row.plan.output : row.input};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string report = run.output.empty() ? run.errorTail : run.output;
        host.ShowReport(QueueText("gui.details.title", {{"{name}", row.name}}),
                        run.started ? report : run.problem);
    }};

// An output that is there already is converted over, once the check has
// said it is not a camera's own movie: footage is never replaced.
const RowAction kReplace = {
    "action.replace",
    [](const QueueRow& row) {
        return row.state == RowState::Skipped && row.outputExists && !row.listening;
    },
    [](const QueueRow& row) {
        return std::vector<std::string>{"--check", "--json", "--", row.plan.output};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string file = platform::FileNameOf(row.plan.output);
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(run.output)).object();
        if (!run.started || report.isEmpty()) {
            host.Alert(QueueText("gui.replace.unchecked", {{"{file}", file},
                                                           {"{cause}", CauseOf(run)}}));
        } else if (report.value(QLatin1String("kind")).toString() ==
                   QLatin1String("camera movie")) {
            host.Alert(QueueText("gui.replace.footage", {{"{file}", file}}));
        } else {
            host.Replace(row.id);
        }
    }};

const RowAction kCancel = {
    "progress.cancel",
    [](const QueueRow& row) {
        return (row.state == RowState::Waiting || row.state == RowState::Converting) &&
               !row.cancelRequested;
    },
    nullptr,
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) { host.CancelRow(row.id); }};

}  // namespace

const std::vector<RowAction>& RowActions() {
    static const std::vector<RowAction> actions = {
        kReplace, kSoundMap, kListen, kStopListening, kShowInFolder, kDetails, kCancel};
    return actions;
}

}  // namespace spatialmux
