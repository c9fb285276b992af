#pragma once
// The droplet's delegate: takes the file handed to the application, refuses
// anything but exactly one, asks what a movie that is not the camera's does
// not say of itself, asks for the output in the save dialog and starts the
// conversion; without a file it tells the user and quits.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "control/job/SpatialChoice.h"

namespace spatialmux {

class SaveDialog;
class SoundMapOffer;
struct CheckReport;
class wrap_ffmpeg;

class AppDelegate : public QObject {
public:
    explicit AppDelegate(SaveDialog& saveDialog, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Starts the launch timer: every half second, timerdd_limit.
    void applicationDidFinishLaunching();
    // Quits with "alert1" when no file has been handed over.
    void timerdd_limit();
    // The files handed to the application at once.
    void OpenFiles(const std::vector<std::string>& files);
    // Runs the save dialog for `input`; the chosen output path, or nothing
    // after Cancel.
    std::optional<std::string> onSelectSaveAs(const std::string& input);
    // Modal alert with one "OK" button.
    void myAlert(const std::string& text);
    // Tells the user that the converted movie was written to `output`, and
    // with an offer set, offers its sound map and its headphone render.
    void TellWritten(const std::string& output);
    // Not owned; nullptr: a plain notice.
    void SetSoundMapOffer(SoundMapOffer* offer) { soundMapOffer = offer; }
    // Stops a headphone render that runs (a stop signal came): it removes
    // what it wrote.
    void StopRendering() { renderStopped = true; }

    bool FilesReceived() const { return files_received; }

private:
    void Terminate();
    // For a movie that is not the camera's: asks what it does not say of
    // its channels and its video, and hands the answers to the conversion.
    // False when the session ends instead (Cancel, or a movie that cannot
    // be converted even so), after saying why.
    bool DescribeInput(const std::string& input, const CheckReport& check);
    // Why the droplet does not write to `output` (its text for the user),
    // or "" when it may.
    std::string RefusedOutput(const std::string& input, const std::string& output);
    // Renders the movie for headphones beside it and hands the sound to the
    // desktop's player (or says where it is when no player takes it).
    void Listen(const std::string& movie);

    SaveDialog& saveDialog;
    SoundMapOffer* soundMapOffer = nullptr;
    bool files_received = false;
    bool renderStopped = false;
    bool asking = false;
    bool quitting = false;
    bool launched = false;
    QTimer limit_timer;
    std::unique_ptr<wrap_ffmpeg> cur_converter;
    // What the user said of a movie that is not the camera's.
    SpatialChoice spatial;
};

}  // namespace spatialmux
