#pragma once
// The question for the output file: a save dialog opened in a folder with a
// proposed name. The droplet uses FileSaveDialog; tests put in their own.

#include <optional>
#include <string>

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
};

}  // namespace spatialmux
