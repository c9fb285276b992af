#pragma once
// The queue of spatialmux-gui as plain data: the movies the user added, what
// the check said of each, where each is converted to, and the state of each
// through a run. No window and no process here: the window shows the rows
// (QueueTableModel), the runner (ConversionRunner) starts the command-line
// program and reports back through the calls below. Every text it makes is
// in the user's language.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "control/batch/BatchPlan.h"
#include "control/batch/ChildConversion.h"
#include "control/job/SpatialChoice.h"

namespace spatialmux {

enum class RowState {
    Checking,        // added; the check has not answered yet
    Ready,           // a camera movie that can be converted
    NotConvertible,  // skipped for good: not a camera movie, missing, ... (`message`)
    Waiting,         // in the run, waiting for a free slot
    Converting,      // its child runs (`percent`, `phase`)
    Converted,       // written and verified (`outputSize`)
    Skipped,         // not converted in this run (`message`: the output exists, ...)
    Failed,          // the conversion failed (`message`, the child's text)
    Cancelled,       // stopped by the user; nothing kept
};

struct QueueRow {
    int id = 0;
    std::string input;
    std::string name;  // the input's file name
    uint64_t size = 0;
    std::optional<double> duration;  // seconds, once checked
    RowState state = RowState::Checking;
    double percent = 0.0;
    std::string phase;    // the protocol's phase while converting
    std::string message;  // why it was not converted
    // The run's names (from Waiting on): the output and the hidden partial
    // file the child writes.
    BatchItem plan;
    uint64_t outputSize = 0;
    bool cancelRequested = false;
    bool inRun = false;  // counted in the current run's totals
    // Skipped because its output is already there: that output's actions
    // are offered, and Replace.
    bool outputExists = false;
    bool replace = false;  // this run replaces the existing output
    // Not converted because players read it right as it is (NotConvertible).
    bool alreadyReady = false;
    // While the headphone render of its output runs: the share done.
    std::optional<double> listening;
    // A movie that is not the camera's, where it does not say what it is:
    // its four audio channels are not declared (the user says AmbiX or
    // FuMa), or its video has no 360 metadata (the user says it is
    // equirectangular 360). Until each is said, Convert skips it.
    bool needsChannels = false;
    bool needsProjection = false;
    AmbisonicsChoice channels = AmbisonicsChoice::FromMovie;  // FromMovie: not said yet
    bool equirectangular = false;
    // Skipped by the last run because a choice was missing.
    bool skippedForChoice = false;
    // The turn of its sound field, for a picture whose front was set again
    // (the child's --rotate-audio); the identity: none.
    AmbisonicRotation rotateAudio;
};

// What a row still waits for the user to say: its channels, its projection.
struct MissingChoice {
    bool channels = false;
    bool projection = false;
    bool Any() const { return channels || projection; }
};
MissingChoice MissingChoiceOf(const QueueRow& row);
// Whether the row's choices can be made or changed now: checked and in
// need of one, and not waiting, converting or converted.
bool ChoiceOpen(const QueueRow& row);

// Whether the row's sound can be turned now: before it converts (as a
// choice can be made), or a movie that is ready as it is, which a turn
// makes convertible.
bool TurnOpen(const QueueRow& row);

// The arguments of the child that converts the row (its plan's input into
// its partial name): the run's --audio, and what the user said of the movie.
std::vector<std::string> ChildArgumentsOf(const QueueRow& row, const std::string& audio);

// The formats the window offers; each one the extension of the outputs and
// the --audio of the children.
enum class QueueFormat { MovPcm, Mp4Aac, Mp4Opus };

struct FormatFacts {
    QueueFormat format;
    const char* key;       // as remembered in the settings
    const char* labelKey;  // its name for the user
    const char* extension;
    const char* audio;
};
const std::vector<FormatFacts>& QueueFormats();
const FormatFacts& FactsOf(QueueFormat format);

struct OutputChoice {
    bool besideInput = true;  // else into `folder`
    std::string folder;
    QueueFormat format = QueueFormat::MovPcm;
};

struct RunTotals {
    int files = 0;  // rows in the run
    int done = 0;   // of them finished (converted, skipped, failed, cancelled)
    int converted = 0;
    int skipped = 0;
    int failed = 0;
    int cancelled = 0;
    uint64_t bytes = 0;      // of the inputs being converted
    uint64_t bytesDone = 0;  // of those, counting the running ones' share
    uint64_t written = 0;    // the converted outputs' sizes
};

// Told before and after the rows change, so that a view can follow.
class QueueObserver {
public:
    virtual ~QueueObserver() = default;
    virtual void RowsInserting(int first, int count) = 0;
    virtual void RowsInserted() = 0;
    virtual void RowRemoving(int index) = 0;
    virtual void RowRemoved() = 0;
    virtual void RowChanged(int index) = 0;
};

class ConversionQueue {
public:
    void SetObserver(QueueObserver* observer) { watcher = observer; }

    // Adds the movies of `paths` as a batch finds them (a file given by name
    // whatever its extension, the .mp4 and .mov files beneath a folder). A
    // path that does not exist, or is neither a file nor a folder, is listed
    // as not convertible; a file already in the queue is not added again.
    // Returns the ids of the rows to check; a folder that cannot be read
    // adds its line to `problems`.
    std::vector<int> Add(const std::vector<std::string>& paths, std::vector<std::string>* problems);
    // The check's answer for a row still Checking; a convertible movie may
    // need the user to say what its channels or its video are first.
    void Checked(int id, bool convertible, std::optional<double> duration,
                 const std::string& whyNot, MissingChoice needs = {});
    // Checked and found ready for 360 players as it is: nothing to convert.
    void CheckedReady(int id, std::optional<double> duration);
    // What the user says of a row's movie: its channels (AmbiX, FuMa),
    // whether its video is equirectangular 360. False, and nothing
    // changed, where the row needs no such choice or it is not open.
    bool ChooseChannels(int id, AmbisonicsChoice channels);
    bool ChooseEquirectangular(int id, bool equirectangular);
    // The turn of the row's sound field. A movie ready as it is becomes
    // Ready with a turn and is ready as it is again without one. False, and
    // nothing changed, where TurnOpen does not hold.
    bool ChooseRotation(int id, const AmbisonicRotation& rotation);
    // Removes a row that is not waiting or converting; false otherwise.
    bool Remove(int id);

    // Whether Convert has anything to do: a row ready, or one that failed,
    // was cancelled or skipped before.
    bool HasWork() const;
    // Starts a run: each row that Convert takes gets its output for
    // `choice` and waits, or is skipped with the reason (the output exists,
    // two movies would be written to one name, ...). Rows not convertible
    // count as skipped. Returns the number of rows waiting.
    int PlanRun(const OutputChoice& choice);

    std::optional<int> NextWaiting() const;
    void Started(int id);
    void Progressed(int id, double percent, const std::string& phase);
    void Converted(int id, uint64_t outputSize);
    void Failed(int id, const std::string& message);
    void Cancelled(int id);
    // Cancel for one row: a waiting row is cancelled at once (true); a
    // converting one is marked (false: its child has to be stopped first).
    bool RequestCancel(int id);
    // Whether a run is going on: a row waiting or converting.
    bool Running() const;
    // Replace for a row skipped because its output exists: it waits, alone
    // in a new run, to be converted over that output. False for any other
    // row, while a run is going on, or while a choice of the row is missing.
    bool Replace(int id);

    // The headphone render of a row's output: started, its progress, ended.
    void ListenStarted(int id);
    void ListenProgressed(int id, double percent);
    void ListenEnded(int id);

    const std::vector<QueueRow>& Rows() const { return rows; }
    const QueueRow* Find(int id) const;
    int IndexOf(int id) const;
    // The current run's rows; with `wholeQueue`, every row.
    RunTotals Totals(bool wholeQueue = false) const;
    // The whole queue: "2 converted, 1 skipped, 0 failed, 0 cancelled; 1.2
    // GB written in 0:42" (`seconds`: the last run's), and how many rows
    // are still to convert.
    std::string Summary(double seconds) const;

    // The row's state for the list: "Converting 45% (audio)", "Converted
    // and verified (1.2 GB)", "Skipped: ...".
    // A row whose sound is turned says so after its state.
    static std::string StateText(const QueueRow& row);

private:
    static std::string PlainStateText(const QueueRow& row);
    QueueRow* Row(int id);
    void Changed(int id);
    void ChoiceMade(QueueRow& row);
    void Finish(int id, RowState state, const std::string& message);
    void AddRow(QueueRow row, std::vector<int>& added);

    QueueObserver* watcher = nullptr;
    std::vector<QueueRow> rows;
    std::set<std::string> known;  // the inputs queued, by canonical path
    int nextId = 1;
};

}  // namespace spatialmux
