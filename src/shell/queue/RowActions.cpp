#include "shell/queue/RowActions.h"

#include "control/binaural/BinauralCommand.h"
#include "control/soundmap/SoundMapCommand.h"
#include "platform/PathParts.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {

bool IsConverted(const QueueRow& row) {
    return row.state == RowState::Converted;
}

// The map of the written movie, beside it: spatialmux --soundmap OUTPUT.
const RowAction kSoundMap = {
    "notice.soundmap", IsConverted,
    [](const QueueRow& row) {
        return std::vector<std::string>{"--soundmap", row.plan.output};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string map = DefaultSoundMapPath(row.plan.output);
        if (run.exitStatus == 0) {
            host.OpenWithDesktop(map, QueueText("alert.soundmap.open", {{"{path}", map}}));
            return;
        }
        std::string cause = LastTextLine(run.errorTail);
        if (!run.started) cause = run.problem;
        host.Alert(QueueText("alert.soundmap", {{"{cause}", cause}}));
    }};

// The headphone render of the written movie, beside it, facing the front:
// spatialmux --binaural OUTPUT NAME.binaural.m4a, then the desktop's player.
const RowAction kListen = {
    "notice.listen", IsConverted,
    [](const QueueRow& row) {
        return std::vector<std::string>{"--binaural", "--", row.plan.output,
                                        DefaultBinauralPath(row.plan.output)};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string sound = DefaultBinauralPath(row.plan.output);
        if (run.exitStatus == 0) {
            host.OpenWithDesktop(sound, QueueText("notice.listen.noplayer", {{"{path}", sound}}));
            return;
        }
        std::string cause = LastTextLine(run.errorTail);
        if (!run.started) cause = run.problem;
        host.Alert(QueueText("alert.listen", {{"{cause}", cause}}));
    }};

const RowAction kShowInFolder = {
    "action.folder", IsConverted, nullptr,
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) {
        const std::string folder = platform::FolderOf(row.plan.output);
        host.OpenWithDesktop(folder, QueueText("gui.alert.openfolder", {{"{folder}", folder}}));
    }};

// The --check report of the output; for a file the check turned away, its
// own report says why.
const RowAction kDetails = {
    "action.details",
    [](const QueueRow& row) { return IsConverted(row) || row.state == RowState::NotConvertible; },
    [](const QueueRow& row) {
        return std::vector<std::string>{"--check", "--",
                                        IsConverted(row) ? row.plan.output : row.input};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string report = run.output.empty() ? run.errorTail : run.output;
        host.ShowReport(QueueText("gui.details.title", {{"{name}", row.name}}),
                        run.started ? report : run.problem);
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
    static const std::vector<RowAction> actions = {kSoundMap, kListen, kShowInFolder, kDetails,
                                                   kCancel};
    return actions;
}

}  // namespace spatialmux
