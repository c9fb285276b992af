#pragma once
// The save dialog of the desktop: a file dialog in save mode that offers
// QuickTime movies (PCM, the default), MP4 (AAC) and MP4 (Opus), and
// completes a bare name with the chosen filter's extension; the questions
// before it are message boxes.

#include "shell/SaveDialog.h"

namespace spatialmux {

class FileSaveDialog : public SaveDialog {
public:
    std::optional<std::string> Run(const std::string& folder,
                                   const std::string& proposedName) override;
    std::string ChosenAudio() const override { return audio; }
    // Message boxes: AmbiX, FuMa or Cancel; Yes or Cancel.
    AmbisonicsChoice AskChannels() override;
    bool AskEquirectangular() override;

private:
    std::string audio;
};

}  // namespace spatialmux
