#pragma once
// The droplet's questions before it converts: for a movie that is not the
// camera's, what it does not say of itself (its four channels, its video's
// projection); then the output file, in a save dialog opened in a folder
// with a proposed name. The droplet uses FileSaveDialog; tests put in their
// own.

#include <optional>
#include <string>

#include "control/job/SpatialChoice.h"

namespace spatialmux {

class SaveDialog {
public:
    virtual ~SaveDialog() = default;
    // Runs modally on the GUI thread. Returns the chosen path, or nothing
    // when the user cancelled.
    virtual std::optional<std::string> Run(const std::string& folder,
                                           const std::string& proposedName) = 0;
    // The audio codec the last Run's choice of format asks for ("opus"),
    // or "" for the container's own.
    virtual std::string ChosenAudio() const { return std::string(); }
    // Modal, on the GUI thread. The movie's four audio channels are not
    // declared: AmbiX or FuMa as the user answers, FromMovie after Cancel.
    virtual AmbisonicsChoice AskChannels() = 0;
    // Its video has no 360 metadata: true when the user says it is
    // equirectangular 360, false after Cancel.
    virtual bool AskEquirectangular() = 0;
};

}  // namespace spatialmux
