#include "shell/queue/ConversionQueue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "control/batch/ChildConversion.h"
#include "control/job/HumanSize.h"
#include "control/job/JobPreflight.h"
#include "platform/PathParts.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace fs = std::filesystem;

namespace {

std::string CanonicalOf(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

bool TakenByConvert(const QueueRow& row) {
    return row.state == RowState::Ready || row.state == RowState::Failed ||
           row.state == RowState::Cancelled || row.state == RowState::Skipped;
}

bool Finished(RowState state) {
    return state == RowState::Converted || state == RowState::Skipped ||
           state == RowState::Failed || state == RowState::Cancelled ||
           state == RowState::NotConvertible;
}

// What a row waits for, in words ("Choose the channels: AmbiX or FuMa").
std::string MissingChoiceText(const MissingChoice& missing) {
    if (missing.channels && missing.projection) return QueueText("state.choose.both");
    return QueueText(missing.channels ? "state.choose.channels" : "state.choose.projection");
}

std::string SkipText(ChildSkip skip, const BatchItem& item) {
    const Fills file = {{"{file}", platform::FileNameOf(item.output)}};
    switch (skip) {
        case ChildSkip::OutputIsInput:
            return QueueText("skip.isinput", file);
        case ChildSkip::OutputIsAnotherInput:
            return QueueText("skip.anotherinput", file);
        case ChildSkip::OutputExists:
            return QueueText("skip.exists", file);
        case ChildSkip::OutputIsFootage:
            return QueueText("skip.footage", file);
        case ChildSkip::None:
            break;
    }
    return std::string();
}

}  // namespace

MissingChoice MissingChoiceOf(const QueueRow& row) {
    return {row.needsChannels && row.channels == AmbisonicsChoice::FromMovie,
            row.needsProjection && !row.equirectangular};
}

bool ChoiceOpen(const QueueRow& row) {
    return (row.needsChannels || row.needsProjection) && TakenByConvert(row) && !row.listening;
}

bool TurnOpen(const QueueRow& row) {
    return (TakenByConvert(row) || (row.state == RowState::NotConvertible && row.alreadyReady)) &&
           !row.listening;
}

std::vector<std::string> ChildArgumentsOf(const QueueRow& row, const std::string& audio) {
    ChildConversionOptions options;
    options.report = {"--progress=machine"};
    options.audio = audio;
    if (row.needsChannels) options.spatial.ambisonics = row.channels;
    if (row.needsProjection && row.equirectangular) {
        options.spatial.projection = ProjectionChoice::Equirectangular;
    }
    options.rotateAudio = row.rotateAudio;
    return ChildConversionArguments(row.plan, options);
}

const std::vector<FormatFacts>& QueueFormats() {
    static const std::vector<FormatFacts> formats = {
        {QueueFormat::MovPcm, "mov-pcm", "save.filter", ".mov", "pcm"},
        {QueueFormat::Mp4Aac, "mp4-aac", "save.filter.mp4", ".mp4", "aac"},
        {QueueFormat::Mp4Opus, "mp4-opus", "gui.format.opus", ".mp4", "opus"},
    };
    return formats;
}

const FormatFacts& FactsOf(QueueFormat format) {
    for (const FormatFacts& facts : QueueFormats()) {
        if (facts.format == format) return facts;
    }
    return QueueFormats().front();
}

void ConversionQueue::AddRow(QueueRow row, std::vector<int>& added) {
    row.id = nextId++;
    if (row.name.empty()) row.name = platform::FileNameOf(row.input);
    const int index = static_cast<int>(rows.size());
    if (watcher != nullptr) watcher->RowsInserting(index, 1);
    if (row.state == RowState::Checking) added.push_back(row.id);
    rows.push_back(std::move(row));
    if (watcher != nullptr) watcher->RowsInserted();
}

std::vector<int> ConversionQueue::Add(const std::vector<std::string>& paths,
                                      std::vector<std::string>* problems) {
    std::vector<int> added;
    std::vector<std::string> unread;
    for (const std::string& path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (!fs::is_directory(status) && !fs::is_regular_file(status)) {
            // Listed, so that the user sees why nothing happens to it.
            if (!known.insert(CanonicalOf(path)).second) continue;
            QueueRow row;
            row.input = path;
            row.state = RowState::NotConvertible;
            row.message = QueueText(fs::exists(status) ? "skip.notfile" : "skip.missing");
            AddRow(std::move(row), added);
            continue;
        }
        for (const std::string& file : FindBatchInputs({path}, std::string(), unread)) {
            if (!known.insert(CanonicalOf(file)).second) continue;
            QueueRow row;
            row.input = file;
            const auto size = fs::file_size(file, error);
            row.size = error ? 0 : static_cast<uint64_t>(size);
            AddRow(std::move(row), added);
        }
    }
    if (problems != nullptr) problems->insert(problems->end(), unread.begin(), unread.end());
    return added;
}

void ConversionQueue::Checked(int id, bool convertible, std::optional<double> duration,
                              const std::string& whyNot, MissingChoice needs) {
    QueueRow* row = Row(id);
    if (row == nullptr || row->state != RowState::Checking) return;
    row->duration = duration;
    row->state = convertible ? RowState::Ready : RowState::NotConvertible;
    row->message = convertible ? std::string() : whyNot;
    row->needsChannels = convertible && needs.channels;
    row->needsProjection = convertible && needs.projection;
    Changed(id);
}

bool ConversionQueue::ChooseChannels(int id, AmbisonicsChoice channels) {
    QueueRow* row = Row(id);
    if (row == nullptr || !row->needsChannels || !ChoiceOpen(*row) ||
        channels == AmbisonicsChoice::FromMovie) {
        return false;
    }
    row->channels = channels;
    ChoiceMade(*row);
    return true;
}

bool ConversionQueue::ChooseEquirectangular(int id, bool equirectangular) {
    QueueRow* row = Row(id);
    if (row == nullptr || !row->needsProjection || !ChoiceOpen(*row)) return false;
    row->equirectangular = equirectangular;
    ChoiceMade(*row);
    return true;
}

bool ConversionQueue::ChooseRotation(int id, const AmbisonicRotation& rotation) {
    QueueRow* row = Row(id);
    if (row == nullptr || !TurnOpen(*row)) return false;
    row->rotateAudio = {NormalizedDegrees(rotation.yawDegrees),
                        NormalizedDegrees(rotation.pitchDegrees),
                        NormalizedDegrees(rotation.rollDegrees)};
    if (row->alreadyReady) {
        // Ready for players as it is, it has something to convert only while
        // its sound is to be turned.
        const bool turned = !row->rotateAudio.IsIdentity();
        row->state = turned ? RowState::Ready : RowState::NotConvertible;
        row->message = turned ? std::string() : QueueText("state.alreadyready");
        row->inRun = false;
    }
    Changed(id);
    return true;
}

void ConversionQueue::ChoiceMade(QueueRow& row) {
    // Skipped for want of this choice, it is ready again once nothing is
    // missing: no longer an outcome of the last run.
    if (row.state == RowState::Skipped && row.skippedForChoice && !MissingChoiceOf(row).Any()) {
        row.state = RowState::Ready;
        row.message.clear();
        row.skippedForChoice = false;
        row.inRun = false;
    }
    Changed(row.id);
}

void ConversionQueue::CheckedReady(int id, std::optional<double> duration) {
    QueueRow* row = Row(id);
    if (row == nullptr || row->state != RowState::Checking) return;
    row->alreadyReady = true;
    Checked(id, false, duration, QueueText("state.alreadyready"));
}

bool ConversionQueue::Remove(int id) {
    const int index = IndexOf(id);
    if (index < 0) return false;
    const RowState state = rows[index].state;
    if (state == RowState::Waiting || state == RowState::Converting) return false;
    if (rows[index].listening) return false;
    if (watcher != nullptr) watcher->RowRemoving(index);
    known.erase(CanonicalOf(rows[index].input));
    rows.erase(rows.begin() + index);
    if (watcher != nullptr) watcher->RowRemoved();
    return true;
}

bool ConversionQueue::HasWork() const {
    // A row a run skipped for want of a choice waits for that choice, not
    // for Convert.
    return std::any_of(rows.begin(), rows.end(), [](const QueueRow& row) {
        return TakenByConvert(row) && !(row.skippedForChoice && MissingChoiceOf(row).Any());
    });
}

int ConversionQueue::PlanRun(const OutputChoice& choice) {
    const FormatFacts& format = FactsOf(choice.format);
    // The outputs of one folder are planned together, as a batch into that
    // folder: it names them, and finds the names two movies would share.
    std::map<std::string, std::vector<QueueRow*>> byFolder;
    for (QueueRow& row : rows) {
        row.inRun = false;
        if (row.state == RowState::NotConvertible) {
            row.inRun = true;
            continue;
        }
        if (!TakenByConvert(row) || row.listening) continue;
        row.inRun = true;
        row.skippedForChoice = false;
        if (const MissingChoice missing = MissingChoiceOf(row); missing.Any()) {
            // Not converted until the user says what the movie is.
            row.state = RowState::Skipped;
            row.message = MissingChoiceText(missing);
            row.skippedForChoice = true;
            row.outputExists = false;
            row.replace = false;
            continue;
        }
        byFolder[choice.besideInput ? platform::FolderOf(row.input) : choice.folder].push_back(
            &row);
    }
    int waiting = 0;
    for (const auto& [folder, members] : byFolder) {
        std::vector<std::string> inputs;
        for (const QueueRow* row : members) inputs.push_back(row->input);
        const BatchPlan plan = PlanBatch(inputs, folder, format.extension);
        for (QueueRow* row : members) {
            row->percent = 0.0;
            row->phase.clear();
            row->outputSize = 0;
            row->cancelRequested = false;
            row->outputExists = false;
            row->replace = false;
            const auto item =
                std::find_if(plan.items.begin(), plan.items.end(),
                             [row](const BatchItem& i) { return i.input == row->input; });
            if (item == plan.items.end()) {
                // Gone since it was added, or a second movie for one name.
                std::error_code error;
                row->plan = BatchItem();
                row->plan.output =
                    (fs::path(folder) /
                     OutputFileName(platform::FileNameOf(row->input), format.extension))
                        .string();
                row->state = fs::exists(row->input, error) ? RowState::Skipped : RowState::Failed;
                row->message = row->state == RowState::Skipped
                                   ? QueueText("skip.clash",
                                               {{"{file}", platform::FileNameOf(row->plan.output)}})
                                   : QueueText("skip.missing");
            } else if (ChildSkip skip = SkipBeforeStart(*item, false); skip != ChildSkip::None) {
                // Footage under the output's name is never replaced: its row
                // says so at once, and offers no Replace.
                if (skip == ChildSkip::OutputExists && IsCameraMovie(item->output)) {
                    skip = ChildSkip::OutputIsFootage;
                }
                row->plan = *item;
                row->state = RowState::Skipped;
                row->message = SkipText(skip, *item);
                row->outputExists = skip == ChildSkip::OutputExists;
            } else {
                row->plan = *item;
                row->state = RowState::Waiting;
                row->message.clear();
                ++waiting;
            }
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].inRun && watcher != nullptr) watcher->RowChanged(static_cast<int>(i));
    }
    return waiting;
}

std::optional<int> ConversionQueue::NextWaiting() const {
    for (const QueueRow& row : rows) {
        if (row.state == RowState::Waiting) return row.id;
    }
    return std::nullopt;
}

void ConversionQueue::Started(int id) {
    QueueRow* row = Row(id);
    if (row == nullptr || row->state != RowState::Waiting) return;
    row->state = RowState::Converting;
    row->percent = 0.0;
    Changed(id);
}

void ConversionQueue::Progressed(int id, double percent, const std::string& phase) {
    QueueRow* row = Row(id);
    if (row == nullptr || row->state != RowState::Converting || !std::isfinite(percent)) return;
    row->percent = std::clamp(percent, 0.0, 100.0);
    row->phase = phase;
    Changed(id);
}

void ConversionQueue::Finish(int id, RowState state, const std::string& message) {
    QueueRow* row = Row(id);
    if (row == nullptr) return;
    row->state = state;
    row->message = message;
    row->cancelRequested = false;
    Changed(id);
}

void ConversionQueue::Converted(int id, uint64_t outputSize) {
    QueueRow* row = Row(id);
    if (row == nullptr) return;
    row->outputSize = outputSize;
    row->percent = 100.0;
    Finish(id, RowState::Converted, std::string());
}

void ConversionQueue::Failed(int id, const std::string& message) {
    Finish(id, RowState::Failed, message);
}

void ConversionQueue::Cancelled(int id) {
    Finish(id, RowState::Cancelled, std::string());
}

bool ConversionQueue::RequestCancel(int id) {
    QueueRow* row = Row(id);
    if (row == nullptr) return true;
    if (row->state == RowState::Waiting) {
        Cancelled(id);
        return true;
    }
    if (row->state != RowState::Converting) return true;
    row->cancelRequested = true;
    Changed(id);
    return false;
}

bool ConversionQueue::Running() const {
    return std::any_of(rows.begin(), rows.end(), [](const QueueRow& row) {
        return row.state == RowState::Waiting || row.state == RowState::Converting;
    });
}

bool ConversionQueue::Replace(int id) {
    QueueRow* row = Row(id);
    if (row == nullptr || Running() || row->listening || row->state != RowState::Skipped ||
        !row->outputExists || MissingChoiceOf(*row).Any()) {
        return false;
    }
    for (QueueRow& other : rows) other.inRun = false;
    row->inRun = true;
    row->replace = true;
    row->outputExists = false;
    row->state = RowState::Waiting;
    row->message.clear();
    row->percent = 0.0;
    row->phase.clear();
    Changed(id);
    return true;
}

void ConversionQueue::ListenStarted(int id) {
    QueueRow* row = Row(id);
    if (row == nullptr) return;
    row->listening = 0.0;
    Changed(id);
}

void ConversionQueue::ListenProgressed(int id, double percent) {
    QueueRow* row = Row(id);
    if (row == nullptr || !row->listening || !std::isfinite(percent)) return;
    row->listening = std::clamp(percent, 0.0, 100.0);
    Changed(id);
}

void ConversionQueue::ListenEnded(int id) {
    QueueRow* row = Row(id);
    if (row == nullptr || !row->listening) return;
    row->listening.reset();
    Changed(id);
}

const QueueRow* ConversionQueue::Find(int id) const {
    const int index = IndexOf(id);
    return index < 0 ? nullptr : &rows[index];
}

QueueRow* ConversionQueue::Row(int id) {
    const int index = IndexOf(id);
    return index < 0 ? nullptr : &rows[index];
}

int ConversionQueue::IndexOf(int id) const {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

void ConversionQueue::Changed(int id) {
    const int index = IndexOf(id);
    if (index >= 0 && watcher != nullptr) watcher->RowChanged(index);
}

RunTotals ConversionQueue::Totals(bool wholeQueue) const {
    RunTotals totals;
    for (const QueueRow& row : rows) {
        if (!row.inRun && !wholeQueue) continue;
        ++totals.files;
        if (Finished(row.state)) ++totals.done;
        switch (row.state) {
            case RowState::Converted:
                ++totals.converted;
                totals.written += row.outputSize;
                break;
            case RowState::Skipped:
            case RowState::NotConvertible:
                ++totals.skipped;
                break;
            case RowState::Failed:
                ++totals.failed;
                break;
            case RowState::Cancelled:
                ++totals.cancelled;
                break;
            default:
                break;
        }
        // The bytes count what was to be converted: the movies that went
        // into the run (a cancelled one still counts its share).
        const bool converting = row.state == RowState::Waiting ||
                                row.state == RowState::Converting ||
                                row.state == RowState::Converted || row.state == RowState::Failed ||
                                row.state == RowState::Cancelled;
        if (!converting || row.plan.input.empty()) continue;
        totals.bytes += row.size;
        const bool done = row.state != RowState::Waiting && row.state != RowState::Converting;
        totals.bytesDone +=
            done ? row.size
                 : static_cast<uint64_t>(static_cast<double>(row.size) * row.percent / 100.0);
    }
    return totals;
}

std::string ConversionQueue::Summary(double seconds) const {
    const RunTotals totals = Totals(true);
    std::string summary =
        QueueText("gui.summary", {{"{converted}", std::to_string(totals.converted)},
                                  {"{skipped}", std::to_string(totals.skipped)},
                                  {"{failed}", std::to_string(totals.failed)},
                                  {"{cancelled}", std::to_string(totals.cancelled)},
                                  {"{size}", SizeText(totals.written)},
                                  {"{time}", HumanDuration(seconds)}});
    const auto ready = std::count_if(
        rows.begin(), rows.end(), [](const QueueRow& row) { return row.state == RowState::Ready; });
    if (ready > 0) {
        summary += QueueText("gui.summary.ready", {{"{count}", std::to_string(ready)}});
    }
    return summary;
}

std::string ConversionQueue::StateText(const QueueRow& row) {
    std::string text = PlainStateText(row);
    if (row.rotateAudio.IsIdentity() || row.state == RowState::NotConvertible) return text;
    const auto degrees = [](double angle) {
        char number[32];
        std::snprintf(number, sizeof number, "%.10g", NormalizedDegrees(angle));
        return std::string(number);
    };
    return QueueText("state.turned", {{"{state}", text},
                                      {"{yaw}", degrees(row.rotateAudio.yawDegrees)},
                                      {"{pitch}", degrees(row.rotateAudio.pitchDegrees)},
                                      {"{roll}", degrees(row.rotateAudio.rollDegrees)}});
}

std::string ConversionQueue::PlainStateText(const QueueRow& row) {
    if (row.listening) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%.0f", *row.listening);
        return QueueText("state.listening", {{"{percent}", percent}});
    }
    switch (row.state) {
        case RowState::Checking:
            return QueueText("state.checking");
        case RowState::Ready:
            if (const MissingChoice missing = MissingChoiceOf(row); missing.Any()) {
                return MissingChoiceText(missing);
            }
            return QueueText("state.ready");
        case RowState::Waiting:
            return QueueText("state.waiting");
        case RowState::Converting: {
            if (row.cancelRequested) return QueueText("state.cancelling");
            char percent[16];
            std::snprintf(percent, sizeof percent, "%.0f", row.percent);
            const std::string phase = row.phase.empty() ? "" : QueueText("phase." + row.phase);
            return QueueText(phase.empty() ? "state.converting" : "state.converting.phase",
                             {{"{percent}", percent}, {"{phase}", phase}});
        }
        case RowState::Converted:
            return QueueText("state.converted", {{"{size}", SizeText(row.outputSize)}});
        case RowState::NotConvertible:
            if (row.alreadyReady) return row.message;
            return QueueText("state.skipped", {{"{reason}", row.message}});
        case RowState::Skipped:
            // Skipped for want of a choice, it says what it still waits for.
            if (row.skippedForChoice) {
                if (const MissingChoice missing = MissingChoiceOf(row); missing.Any()) {
                    return MissingChoiceText(missing);
                }
            }
            return QueueText("state.skipped", {{"{reason}", row.message}});
        case RowState::Failed:
            return QueueText("state.failed", {{"{reason}", row.message}});
        case RowState::Cancelled:
            return QueueText("state.cancelled");
    }
    return std::string();
}

}  // namespace spatialmux
