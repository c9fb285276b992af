#pragma once
// What a row of the queue offers once its movie is converted, or when its
// output was there already (and Cancel while it converts; before it
// converts, the choices of a movie that does not say what its channels or
// its video are): each action is a name, the rows it is offered for, the
// command-line program's arguments it runs first (none: nothing to run),
// and what the window then does with the result. The window shows every
// action a row offers as a button on the row and in its menu, so one more
// action (say, a binaural preview made by another option of the program and
// opened in the desktop's player) is one more entry in RowActions().

#include <string>
#include <vector>

#include "shell/queue/ConversionQueue.h"
#include "shell/queue/ProgramRun.h"

namespace spatialmux {

// What an action may ask of the window.
class RowActionHost {
public:
    virtual ~RowActionHost() = default;
    // Opens `path` with the desktop's application for it; when there is
    // none, tells the user `failureText`.
    virtual void OpenWithDesktop(const std::string& path, const std::string& failureText) = 0;
    // Shows a report (text in a fixed-width font) in a window of its own.
    virtual void ShowReport(const std::string& title, const std::string& text) = 0;
    virtual void Alert(const std::string& text) = 0;
    virtual void CancelRow(int id) = 0;
    // Shows `file` selected in the desktop's file manager, or its folder.
    virtual void ShowInFolder(const std::string& file) = 0;
    // The headphone render of the row's output, its progress in the row,
    // and its stop.
    virtual void Listen(int id) = 0;
    virtual void StopListening(int id) = 0;
    // Converts the row again over its existing output.
    virtual void Replace(int id) = 0;
    // What the user says of a movie that does not say it itself: its four
    // channels (AmbiX, FuMa), whether its video is equirectangular 360.
    virtual void ChooseChannels(int id, AmbisonicsChoice channels) = 0;
    virtual void ChooseEquirectangular(int id, bool equirectangular) = 0;
    // Asks for the turn of the row's sound field and sets it.
    virtual void ChooseRotation(int id) = 0;
};

struct RowAction {
    const char* key;  // its name in the strings, also its identity
    bool (*offered)(const QueueRow& row);
    // The arguments of the command-line program to run first; nullptr when
    // the action runs nothing.
    std::vector<std::string> (*arguments)(const QueueRow& row);
    // Runs on the GUI thread once the program has ended (at once when it
    // runs nothing; `run` is then empty).
    void (*then)(RowActionHost& host, const QueueRow& row, const ProgramEnd& run);
    // For a choice: whether it is the one made (drawn checked); nullptr
    // for an action.
    bool (*checked)(const QueueRow& row) = nullptr;
    // Its name in the row's menu, where it differs from the button's.
    const char* menuKey = nullptr;
};

const std::vector<RowAction>& RowActions();

}  // namespace spatialmux
