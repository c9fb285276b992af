#pragma once
// After a finished conversion the windowed converter offers the sound map of
// the written movie: its notice gets a second button, and the map (a PNG
// beside the movie) opens in the desktop's picture viewer. Tests put in
// their own offer.

#include <string>

namespace spatialmux {

class SoundMapOffer {
public:
    virtual ~SoundMapOffer() = default;
    // Shows the notice `text` with "OK" and "Show sound map" on the GUI
    // thread; true when the user chose the sound map.
    virtual bool Ask(const std::string& text) = 0;
    // Opens the picture at `path` with the desktop's viewer; false when
    // there is none to open it.
    virtual bool Open(const std::string& path) = 0;
};

// The desktop's: a message box, and the viewer the desktop associates with
// PNG pictures.
class DesktopSoundMapOffer : public SoundMapOffer {
public:
    bool Ask(const std::string& text) override;
    bool Open(const std::string& path) override;
};

}  // namespace spatialmux
