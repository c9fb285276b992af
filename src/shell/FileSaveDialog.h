#pragma once
// The save dialog of the desktop: a file dialog in save mode that offers
// QuickTime movies (PCM, the default) and MP4 (AAC) and completes a bare
// name with the chosen filter's extension.

#include "shell/SaveDialog.h"

namespace spatialmux {

class FileSaveDialog : public SaveDialog {
public:
    std::optional<std::string> Run(const std::string& folder,
                                   const std::string& proposedName) override;
};

}  // namespace spatialmux
