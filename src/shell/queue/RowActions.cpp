#include "shell/queue/RowActions.h"

#include <sstream>
#include <utility>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "control/movieinfo/MovieCheck.h"
#include "control/soundmap/SoundMapCommand.h"
#include "platform/PathParts.h"
#include "shell/ReasonText.h"
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

const RowAction kShowInFolder = {"action.folder", HasOutput, nullptr,
                                 [](RowActionHost& host, const QueueRow& row, const ProgramEnd&) {
                                     host.ShowInFolder(row.plan.output);
                                 }};

// The --check report in the user's language: its kind, labels, words and
// the reasons whose form is known translated; paths, codecs and figures as
// the program wrote them.
std::string TranslatedReport(const std::string& report) {
    static const std::pair<const char*, const char*> kWords[] = {
        {"camera movie", "details.kind.camera"},
        {"movie", "details.kind.movie"},
        {"not a movie", "details.kind.notmovie"},
        {"video", "details.video"},
        {"audio", "details.audio"},
        {"software", "details.software"},
        {"gain", "details.gain"},
        {"convertible", "details.convertible"},
        {"sound map", "details.soundmap"},
        {"spherical video V1", "details.spherical1"},
        {"spherical video V2", "details.spherical2"},
        {"SA3D", "details.sa3d"},
        {"chan", "details.chan"},
        {"damaged or incomplete", "details.damaged"},
        {"ready for 360 players with first-order ambisonics", "details.ready"},
        {"360 audio", "details.spatial"},
        {"to make it ready", "details.todo"},
        {"to make it ready, if its channels are ACN/SN3D (W Y Z X)", "details.todo.ambix"},
        {"to make it ready, if they are FuMa (W X Y Z)", "details.todo.fuma"},
    };
    static const std::pair<const char*, const char*> kValues[] = {
        {"yes", "details.yes"},
        {"no", "details.no"},
        {"none", "details.none"},
        {"nothing to do", "details.nothingtodo"},
        {kSpatialCamera, "details.kind.camera"},
        {kSpatialDeclared, "details.spatial.declared"},
        {kSpatialUndeclared, "details.spatial.undeclared"},
        {"not spatial", "details.spatial.none"},
    };
    const auto translate = [](const auto& table, const std::string& word) {
        for (const auto& [english, key] : table) {
            if (word == english) return QueueText(key);
        }
        return word;
    };
    const auto value = [&translate](const std::string& text) {
        const std::string no = "no, ";
        if (text.rfind(no, 0) == 0) {
            return QueueText("details.no.reason",
                             {{"{reason}", LocalizedReason(text.substr(no.size()))}});
        }
        if (text.rfind("no (", 0) == 0 && text.back() == ')') {
            return QueueText("details.no.paren",
                             {{"{reason}", LocalizedReason(text.substr(4, text.size() - 5))}});
        }
        return translate(kValues, text);
    };
    std::string text;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        // "FILE: kind" first, then "  label: value", and "    - reason".
        const bool heading = !line.empty() && line[0] != ' ';
        const std::size_t colon = heading ? line.rfind(": ") : line.find(": ");
        if (line.compare(0, 6, "    - ") == 0) {
            line = "    - " + LocalizedReason(line.substr(6));
        } else if (colon != std::string::npos && heading) {
            line = line.substr(0, colon + 2) + translate(kWords, line.substr(colon + 2));
        } else if (colon != std::string::npos) {
            const std::size_t label = line.find_first_not_of(' ');
            line = line.substr(0, label) + translate(kWords, line.substr(label, colon - label)) +
                   ": " + value(line.substr(colon + 2));
        }
        text += line + "\n";
    }
    return text;
}

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
                        run.started ? TranslatedReport(report) : run.problem);
    }};

// An output that is there already is converted over, once the check has
// said it is not a camera's own movie: footage is never replaced.
const RowAction kReplace = {
    "action.replace",
    [](const QueueRow& row) {
        return row.state == RowState::Skipped && row.outputExists && !row.listening &&
               !MissingChoiceOf(row).Any();
    },
    [](const QueueRow& row) {
        return std::vector<std::string>{"--check", "--json", "--", row.plan.output};
    },
    [](RowActionHost& host, const QueueRow& row, const ProgramEnd& run) {
        const std::string file = platform::FileNameOf(row.plan.output);
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(run.output)).object();
        if (!run.started || report.isEmpty()) {
            host.Alert(
                QueueText("gui.replace.unchecked", {{"{file}", file}, {"{cause}", CauseOf(run)}}));
        } else if (report.value(QLatin1String("kind")).toString() ==
                   QLatin1String("camera movie")) {
            host.Alert(QueueText("gui.replace.footage", {{"{file}", file}}));
        } else {
            host.Replace(row.id);
        }
    }};

// What the four channels of a movie that does not declare them are, and
// that a video without 360 metadata is equirectangular 360: said on the
// row, before it converts.
bool OffersChannels(const QueueRow& row) {
    return row.needsChannels && ChoiceOpen(row);
}

const RowAction kAmbix = {
    .key = "action.ambix",
    .offered = OffersChannels,
    .arguments = nullptr,
    .then = [](RowActionHost& host, const QueueRow& row,
               const ProgramEnd&) { host.ChooseChannels(row.id, AmbisonicsChoice::AmbiX); },
    .checked = [](const QueueRow& row) { return row.channels == AmbisonicsChoice::AmbiX; },
    .menuKey = "action.ambix.menu"};

const RowAction kFuma = {
    .key = "action.fuma",
    .offered = OffersChannels,
    .arguments = nullptr,
    .then = [](RowActionHost& host, const QueueRow& row,
               const ProgramEnd&) { host.ChooseChannels(row.id, AmbisonicsChoice::FuMa); },
    .checked = [](const QueueRow& row) { return row.channels == AmbisonicsChoice::FuMa; },
    .menuKey = "action.fuma.menu"};

const RowAction kEquirectangular = {
    .key = "action.equirect",
    .offered = [](const QueueRow& row) { return row.needsProjection && ChoiceOpen(row); },
    .arguments = nullptr,
    .then = [](RowActionHost& host, const QueueRow& row,
               const ProgramEnd&) { host.ChooseEquirectangular(row.id, !row.equirectangular); },
    .checked = [](const QueueRow& row) { return row.equirectangular; },
    .menuKey = "action.equirect.menu"};

// The turn of the sound field, for a picture whose front was set again: a
// small dialog (yaw, and finer pitch and roll), before the row converts.
const RowAction kTurn = {
    .key = "action.turn",
    .offered = TurnOpen,
    .arguments = nullptr,
    .then = [](RowActionHost& host, const QueueRow& row,
               const ProgramEnd&) { host.ChooseRotation(row.id); },
    .checked = [](const QueueRow& row) { return !row.rotateAudio.IsIdentity(); },
    .menuKey = "action.turn.menu"};

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
        kAmbix,  kFuma,          kEquirectangular, kTurn,    kReplace, kSoundMap,
        kListen, kStopListening, kShowInFolder,    kDetails, kCancel};
    return actions;
}

}  // namespace spatialmux
