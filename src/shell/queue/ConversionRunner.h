#pragma once
// The runs of the command-line program behind spatialmux-gui: the check of
// every movie added (`spatialmux --check --json`), and each conversion
// (`spatialmux --progress=machine -- INPUT PARTIAL`, as a batch converts a
// movie: into a hidden name beside the output, moved into place once the
// child has verified it), at most as many at once as there are cores; and
// the headphone renders of converted movies (`spatialmux --progress=machine
// --binaural -- MOVIE SOUND`), stopped as conversions are. Its only
// knowledge of a conversion or a render is the progress protocol's lines.

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "control/batch/BatchProgress.h"
#include "shell/queue/ConversionQueue.h"

namespace spatialmux {

class ProgramRun;
struct ProgramEnd;

// What the window makes of one movie's line of `spatialmux --check --json`:
// whether it can be converted, or why not; a 360 movie that players read
// right as it is needs nothing; one whose four channels are not declared,
// or whose video has no 360 metadata, converts once the user has said what
// they are.
struct CheckVerdict {
    bool convertible = false;
    bool alreadyReady = false;
    MissingChoice needs;
    std::string whyNot;
    std::optional<double> duration;
};
CheckVerdict VerdictOfCheck(const std::string& jsonLine);

class ConversionRunner : public QObject {
public:
    // `program`: the command-line program's path. `conversionsAtOnce`: conversions at
    // once (at least 1).
    ConversionRunner(ConversionQueue& queue, std::string program, int conversionsAtOnce,
                     QObject* parent = nullptr);
    ~ConversionRunner() override;

    // Checks the rows (state Checking) with one run of `spatialmux --check
    // --json`.
    void Check(const std::vector<int>& ids);
    // Converts the queue's waiting rows with `audio` (the --audio of each
    // child); OnRunEnded follows when the last one has ended.
    void Run(const std::string& audio);
    void Cancel(int id);
    void CancelAll();
    // Stops every conversion and render as Ctrl-C stops a batch: SIGTERM to
    // each child, then waits (events go on) until each has cleaned up and
    // ended; a child that takes longer than the grace time is killed and
    // its files are removed here. Nothing converting is left behind.
    void StopAllAndWait();

    // How a headphone render ended.
    struct ListenEnd {
        bool written = false;  // the sound is at `sound`
        bool stopped = false;  // stopped by the user or the window; nothing kept
        std::string sound;
        std::string cause;  // why it failed, the child's words
    };
    using ListenEnded = std::function<void(int id, const ListenEnd& end)>;
    void OnListenEnded(ListenEnded receiver) { listenEnded = std::move(receiver); }
    // Renders the movie `movie` of row `id` for headphones into `sound`,
    // its progress shown in the row. What a killed render left for that
    // name is removed first. False when a render of the row runs already.
    bool Listen(int id, const std::string& movie, const std::string& sound);
    // SIGTERM to the row's render, killed after the grace time.
    void StopListening(int id);
    int Listening() const { return static_cast<int>(renders.size()); }

    bool Busy() const { return !conversions.empty() || queue.Running(); }
    int AtOnce() const { return atOnce; }
    // Seconds since the run started.
    double Seconds() const;
    // The time the run still needs, once the rate can be told.
    std::optional<double> SecondsLeft() const;

    void OnRunEnded(std::function<void()> receiver) { runEnded = std::move(receiver); }

private:
    struct Conversion;

    void Fill();
    void Start(int id);
    using EndHandler = void (ConversionRunner::*)(Conversion& child, const ProgramEnd& end);
    // A child of row `id`, not started: its run, its grace before SIGKILL,
    // its lines heard, and `ended` called when it has ended.
    std::unique_ptr<Conversion> NewChild(int id, EndHandler ended);
    void Ended(Conversion& conversion, const ProgramEnd& end);
    void Listened(Conversion& render, const ProgramEnd& end);
    // The child's line on its standard error: its progress, its end, or
    // text for people.
    void Heard(Conversion& child, const std::string& line);
    void Checked(const std::vector<int>& ids, const ProgramEnd& end);
    void Stop(Conversion& conversion);
    void Tick();
    // Tells the end of the run once nothing waits or converts any more.
    void EndRunIfDone();

    ConversionQueue& queue;
    std::string program;
    int atOnce;
    std::string audio;
    std::list<std::unique_ptr<Conversion>> conversions;
    std::list<std::unique_ptr<Conversion>> renders;
    ListenEnded listenEnded;
    std::list<std::unique_ptr<ProgramRun>> checks;
    std::chrono::steady_clock::time_point began;
    std::optional<BatchProgress> rate;  // follows the run's rate only
    QTimer ticker;
    std::function<void()> runEnded;
    bool running = false;  // a run was started and has not ended
};

}  // namespace spatialmux
